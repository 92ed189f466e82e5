"""The tester's hidden menu (menu 166 in resources/SimulationMenu.rc) holds exactly the commands
below, each under its path of texts and with its command id, because the host window's handlers
are bound to those ids and testers find the outcomes by those paths. Exits 1 and names every
difference otherwise. Usage: check_simulation_menu.py REPOSITORY_ROOT"""
import pathlib
import re
import sys

# Kept apart from the .rc on purpose: typing the table twice is what catches a slip in either.
# Texts ending in a blank are meant so.
EXPECTED = [
    (("Choose Language",), 32901),
    (("Issues", "Connection Issue", "Network Scanner"), 32888),
    (("Issues", "Connection Issue", "USB Scanner"), 32889),
    (("Issues", "Device Manager Issue", "Issue Need Reinstall"), 32779),
    (("Issues", "Device Manager Issue", "Issue Need Restart"), 32781),
    (("Issues", "Device Manager Issue", "Unknown Issue"), 32784),
    (("Issues", "Device Manager Issue", "Fixable Issue"), 32785),
    (("Issues", "Driver Issue", "Communication Failed "), 32790),
    (("Issues", "Driver Issue", "Scanner Locked "), 32796),
    (("Issues", "Driver Issue", "Component Missing"), 32794),
    (("Issues", "Driver Issue", "Socket Busy"), 32795),
    (("Issues", "Driver Issue", "Cancel Pressed"), 32798),
    (("Issues", "Driver Issue", "Unknown Issue"), 32800),
    (("Issues", "Driver Issue", "Update Driver"), 32903),
    (("Issues", "WIA Issue", "Service Issue"), 32808),
    (("Issues", "WIA Issue", "Scan Issue"), 32809),
    (("Issues", "WIA Issue", "User Cancel"), 32811),
    (("Issues", "Dashra Issue", "Incomplete Installation"), 32816),
    (("Issues", "Dashra Issue", "Not Found"), 32817),
    (("Issues", "Dashra Issue", "Tablet PC Issue"), 32891),
    (("Issues", "Twain Issue", "WIA Scan Success", "Device Not Found"), 32850),
    (("Issues", "Twain Issue", "WIA Scan Success", "Device Busy"), 32851),
    (("Issues", "Twain Issue", "WIA Scan Success", "Component Missing"), 32852),
    (("Issues", "Twain Issue", "WIA Scan Fail", "Device Not Found"), 32853),
    (("Issues", "Twain Issue", "WIA Scan Fail", "Device Busy"), 32854),
    (("Issues", "Twain Issue", "WIA Scan Fail", "Component Missing"), 32855),
    (("Issues", "Twain Issue", "User Cancel"), 32825),
    (("Issues", "Registry Issue", "Any Scan Success", "Fix"), 32878),
    (("Issues", "Registry Issue", "Any Scan Success", "Refresh Scan Driver"), 32879),
    (("Issues", "Registry Issue", "Any Scan Success", "Non Fixable Issue"), 33006),
    (("Issues", "Registry Issue", "Any Scan Success", "Fix Failed"), 32898),
    (("Issues", "Registry Issue", "Any Scan Success", "Failed to Refresh Scan Driver"), 32899),
    (("Issues", "Registry Issue", "All Scan Fail", "Fix"), 32883),
    (("Issues", "Registry Issue", "All Scan Fail", "Refresh Scan Driver"), 32884),
    (("Issues", "Registry Issue", "All Scan Fail", "Non Fixable Issue"), 33008),
    (("Issues", "Registry Issue", "All Scan Fail", "Fix Failed"), 32896),
    (("Issues", "Registry Issue", "All Scan Fail", "Failed to Refresh Scan Driver"), 32897),
    (("Issues", "Scan Flow Manager", "Any Scan Success"), 32868),
    (("Issues", "Scan Flow Manager", "All Scan Fail"), 32869),
    (("Issues", "Brevane Monitor Issue", "Not Present"), 32841),
    (("Issues", "Brevane Monitor Issue", "Not Running"), 32842),
    (("Issues", "Brevane Monitor Issue", "Multiple Instance"), 32843),
    (("Issues", "Front Panel Issue", "Any Scan Success", "Fix", "Dashra Issue Present"), 32946),
    (("Issues", "Front Panel Issue", "Any Scan Success", "Fix", "No Dashra Issue"), 32947),
    (("Issues", "Front Panel Issue", "Any Scan Success", "Diagnose Failed", "Dashra Issue Present"), 32952),
    (("Issues", "Front Panel Issue", "Any Scan Success", "Diagnose Failed", "No Dashra Issue "), 32953),
    (("Issues", "Front Panel Issue", "All Scan Fail", "Fix", "Dashra Issue Present"), 32954),
    (("Issues", "Front Panel Issue", "All Scan Fail", "Fix", "No Dashra Issue"), 32955),
    (("Issues", "Front Panel Issue", "All Scan Fail", "Diagnose Failed", "Dashra Issue Present "), 32956),
    (("Issues", "Front Panel Issue", "All Scan Fail", "Diagnose Failed", "No Dashra Issue "), 32958),
    (("Issues", "Ostrel Device", "Connection Issue", "Network Scanner"), 32987),
    (("Issues", "Ostrel Device", "Connection Issue", "USB Scanner"), 32988),
    (("Issues", "Ostrel Device", "Device Manager Issue", "Issue Need Reinstall"), 32989),
    (("Issues", "Ostrel Device", "Device Manager Issue", "Issue Need Restart"), 32990),
    (("Issues", "Ostrel Device", "Device Manager Issue", "Unknown Issue"), 32991),
    (("Issues", "Ostrel Device", "Device Manager Issue", "Fixable Issue"), 32992),
    (("Issues", "Ostrel Device", "WIA Issue", "Service Issue"), 32993),
    (("Issues", "Ostrel Device", "WIA Issue", "Scan Issue"), 32994),
    (("Issues", "Ostrel Device", "WIA Issue", "User Cancel"), 32995),
    (("Issues", "Ostrel Device", "Twain Issue", "WIA Scan Success", "Device Not Found"), 32977),
    (("Issues", "Ostrel Device", "Twain Issue", "WIA Scan Success", "Device Busy"), 32978),
    (("Issues", "Ostrel Device", "Twain Issue", "WIA Scan Success", "Component Missing"), 32979),
    (("Issues", "Ostrel Device", "Twain Issue", "WIA Scan Fail", "Device Not Found"), 32980),
    (("Issues", "Ostrel Device", "Twain Issue", "WIA Scan Fail", "Device Busy"), 32981),
    (("Issues", "Ostrel Device", "Twain Issue", "WIA Scan Fail", "Component Missing"), 32982),
    (("Issues", "Ostrel Device", "Twain Issue", "User Cancel"), 32983),
    (("Issues", "Ostrel Device", "Registry Issue", "Any Scan Success", "Refresh Scan Driver"), 32996),
    (("Issues", "Ostrel Device", "Registry Issue", "Any Scan Success", "Failed to Refresh Scan Driver"), 32997),
    (("Issues", "Ostrel Device", "Registry Issue", "All Scan Fail", "Refresh Scan Driver"), 32998),
    (("Issues", "Ostrel Device", "Registry Issue", "All Scan Fail", "Failed to Refresh Scan Driver"), 32999),
    (("Issues", "Ostrel Device", "QV Scan", "Any Scan Success", "QV Scan not found"), 32967),
    (("Issues", "Ostrel Device", "QV Scan", "Any Scan Success", "Unknown Error"), 32968),
    (("Issues", "Ostrel Device", "QV Scan", "All Scan Failed", "QV Scan not found"), 32969),
    (("Issues", "Ostrel Device", "QV Scan", "All Scan Failed", "Unknown Error"), 32970),
    (("Issues", "Tarvel Device", "Connection Issue", "Network Scanner"), 33040),
    (("Issues", "Tarvel Device", "Connection Issue", "USB Scanner"), 33042),
    (("Issues", "Tarvel Device", "Device Manager Issue", "Issue Need Reinstall"), 33043),
    (("Issues", "Tarvel Device", "Device Manager Issue", "Issue Need Restart"), 33044),
    (("Issues", "Tarvel Device", "Device Manager Issue", "Unknown Issue"), 33045),
    (("Issues", "Tarvel Device", "Device Manager Issue", "Fixable Issue"), 33046),
    (("Issues", "Tarvel Device", "Driver Issue", "Communication Failed "), 33047),
    (("Issues", "Tarvel Device", "Driver Issue", "Scanner Locked "), 33048),
    (("Issues", "Tarvel Device", "Driver Issue", "Component Missing"), 33049),
    (("Issues", "Tarvel Device", "Driver Issue", "Socket Busy"), 33050),
    (("Issues", "Tarvel Device", "Driver Issue", "Cancel Pressed"), 33051),
    (("Issues", "Tarvel Device", "Driver Issue", "Unknown Issue"), 33052),
    (("Issues", "Tarvel Device", "Driver Issue", "Update Driver"), 33053),
    (("Issues", "Tarvel Device", "WIA Issue", "Service Issue"), 33054),
    (("Issues", "Tarvel Device", "WIA Issue", "Scan Issue"), 33055),
    (("Issues", "Tarvel Device", "WIA Issue", "User Cancel"), 33056),
    (("Issues", "Tarvel Device", "Twain Issue", "WIA Scan Success", "Device Not Found"), 33057),
    (("Issues", "Tarvel Device", "Twain Issue", "WIA Scan Success", "Device Busy"), 33058),
    (("Issues", "Tarvel Device", "Twain Issue", "WIA Scan Success", "Component Missing"), 33059),
    (("Issues", "Tarvel Device", "Twain Issue", "WIA Scan Fail", "Device Not Found"), 33060),
    (("Issues", "Tarvel Device", "Twain Issue", "WIA Scan Fail", "Device Busy"), 33061),
    (("Issues", "Tarvel Device", "Twain Issue", "WIA Scan Fail", "Component Missing"), 33062),
    (("Issues", "Tarvel Device", "Twain Issue", "User Cancel"), 33063),
    (("Issues", "Tarvel Device", "Registry Issue", "Any Scan Success", "Fix"), 33064),
    (("Issues", "Tarvel Device", "Registry Issue", "Any Scan Success", "Refresh Scan Driver"), 33065),
    (("Issues", "Tarvel Device", "Registry Issue", "Any Scan Success", "Non Fixable Issue"), 33066),
    (("Issues", "Tarvel Device", "Registry Issue", "Any Scan Success", "Fix Failed"), 33067),
    (("Issues", "Tarvel Device", "Registry Issue", "Any Scan Success", "Failed to Refresh Scan Driver"), 33068),
    (("Issues", "Tarvel Device", "Registry Issue", "All Scan Fail", "Fix"), 33069),
    (("Issues", "Tarvel Device", "Registry Issue", "All Scan Fail", "Refresh Scan Driver"), 33070),
    (("Issues", "Tarvel Device", "Registry Issue", "All Scan Fail", "Non Fixable Issue"), 33071),
    (("Issues", "Tarvel Device", "Registry Issue", "All Scan Fail", "Fix Failed"), 33072),
    (("Issues", "Tarvel Device", "Registry Issue", "All Scan Fail", "Failed to Refresh Scan Driver"), 33073),
    (("Issues", "Tarvel Device", "Scan Flow Manager", "Any Scan Success"), 33074),
    (("Issues", "Tarvel Device", "Scan Flow Manager", "All Scan Fail"), 33075),
    (("Issues", "Tarvel Device", "Front Panel Issue", "Any Scan Success"), 33097),
    (("Issues", "Tarvel Device", "Front Panel Issue", "All Scan Fail"), 33099),
    (("Issues", "Lumeq Device", "Connection Issue", "Network Scanner"), 33104),
    (("Issues", "Lumeq Device", "Connection Issue", "USB Scanner"), 33105),
    (("Issues", "Lumeq Device", "Device Manager Issue", "Issue Need Reinstall"), 33106),
    (("Issues", "Lumeq Device", "Device Manager Issue", "Issue Need Restart"), 33107),
    (("Issues", "Lumeq Device", "Device Manager Issue", "Unknown Issue"), 33108),
    (("Issues", "Lumeq Device", "Device Manager Issue", "Fixable Issue"), 33109),
    (("Issues", "Lumeq Device", "WIA Issue", "Service Issue"), 33110),
    (("Issues", "Lumeq Device", "WIA Issue", "Scan Issue"), 33111),
    (("Issues", "Lumeq Device", "WIA Issue", "User Cancel"), 33112),
    (("Issues", "Lumeq Device", "Twain Issue", "WIA Scan Success", "Device Not Found"), 33113),
    (("Issues", "Lumeq Device", "Twain Issue", "WIA Scan Success", "Device Busy"), 33114),
    (("Issues", "Lumeq Device", "Twain Issue", "WIA Scan Success", "Component Missing"), 33115),
    (("Issues", "Lumeq Device", "Twain Issue", "WIA Scan Fail", "Device Not Found"), 33116),
    (("Issues", "Lumeq Device", "Twain Issue", "WIA Scan Fail", "Device Busy"), 33117),
    (("Issues", "Lumeq Device", "Twain Issue", "WIA Scan Fail", "Component Missing"), 33118),
    (("Issues", "Lumeq Device", "Twain Issue", "User Cancel"), 33119),
    (("Issues", "Lumeq Device", "QV Scan", "Any Scan Success"), 33129),
    (("Issues", "Lumeq Device", "QV Scan", "All Scan Failed"), 33130),
    (("Issues", "Lumeq Device", "Lumeq Service", "Any Scan Success"), 33124),
    (("Issues", "Lumeq Device", "Lumeq Service", "All Scan Failed"), 33125),
    (("Success ", "Connection Issue"), 32916),
    (("Success ", "Device Manager Issue"), 32924),
    (("Success ", "Driver Issue"), 32923),
    (("Success ", "WIA Issue"), 32922),
    (("Success ", "Dashra Issue"), 32921),
    (("Success ", "TWAIN Issue"), 32920),
    (("Success ", "Registry Issue"), 32919),
    (("Success ", "Scan Flow Manager Issue"), 32917),
    (("Success ", "Brevane Monitor Issue"), 32918),
    (("Success ", "Front Panel Issue"), 32941),
    (("Success ", "All Success"), 32905),
    (("Success ", "Ostrel Device", "Connection Issue"), 33000),
    (("Success ", "Ostrel Device", "Device Manager Issue"), 33001),
    (("Success ", "Ostrel Device", "WIA Issue"), 33002),
    (("Success ", "Ostrel Device", "TWAIN Issue"), 33003),
    (("Success ", "Ostrel Device", "Registry Issue"), 33004),
    (("Success ", "Ostrel Device", "QV Scan"), 32975),
    (("Success ", "Ostrel Device", "All Success"), 32986),
    (("Success ", "Tarvel Device", "Connection Issue"), 33017),
    (("Success ", "Tarvel Device", "Device Manager Issue"), 33026),
    (("Success ", "Tarvel Device", "Driver Issue"), 33027),
    (("Success ", "Tarvel Device", "WIA Issue"), 33028),
    (("Success ", "Tarvel Device", "Twain Issue"), 33029),
    (("Success ", "Tarvel Device", "Registry Issue"), 33030),
    (("Success ", "Tarvel Device", "Scan Flow Manager Issue"), 33031),
    (("Success ", "Tarvel Device", "Front Panel Issue"), 33034),
    (("Success ", "Tarvel Device", "All Success"), 33032),
    (("Success ", "Lumeq Device", "Connection Issue"), 33132),
    (("Success ", "Lumeq Device", "Device Manager Issue"), 33133),
    (("Success ", "Lumeq Device", "WIA Issue"), 33134),
    (("Success ", "Lumeq Device", "TWAIN Issue"), 33135),
    (("Success ", "Lumeq Device", "QV Scan"), 33136),
    (("Success ", "Lumeq Device", "Lumeq Service"), 33137),
    (("Success ", "Lumeq Device", "All Success"), 33138),
]

# The order testers meet the entries in; the order of the outcomes inside a check's pop-up is free.
ORDERED_POPUPS = {
    (): ["Choose Language", "Issues", "Success "],
    ("Issues",): ["Connection Issue", "Device Manager Issue", "Driver Issue", "WIA Issue",
                  "Dashra Issue", "Twain Issue", "Registry Issue", "Scan Flow Manager",
                  "Brevane Monitor Issue", "Front Panel Issue",
                  "Ostrel Device", "Tarvel Device", "Lumeq Device"],
    ("Issues", "Ostrel Device"): ["Connection Issue", "Device Manager Issue", "WIA Issue",
                                  "Twain Issue", "Registry Issue", "QV Scan"],
    ("Issues", "Tarvel Device"): ["Connection Issue", "Device Manager Issue", "Driver Issue",
                                  "WIA Issue", "Twain Issue", "Registry Issue",
                                  "Scan Flow Manager", "Front Panel Issue"],
    ("Issues", "Lumeq Device"): ["Connection Issue", "Device Manager Issue", "WIA Issue",
                                 "Twain Issue", "QV Scan", "Lumeq Service"],
    ("Success ",): ["Connection Issue", "Device Manager Issue", "Driver Issue", "WIA Issue",
                    "Dashra Issue", "TWAIN Issue", "Registry Issue", "Scan Flow Manager Issue",
                    "Brevane Monitor Issue", "Front Panel Issue", "All Success",
                    "Ostrel Device", "Tarvel Device", "Lumeq Device"],
    ("Success ", "Ostrel Device"): ["Connection Issue", "Device Manager Issue", "WIA Issue",
                                    "TWAIN Issue", "Registry Issue", "QV Scan", "All Success"],
    ("Success ", "Tarvel Device"): ["Connection Issue", "Device Manager Issue", "Driver Issue",
                                    "WIA Issue", "Twain Issue", "Registry Issue",
                                    "Scan Flow Manager Issue", "Front Panel Issue", "All Success"],
    ("Success ", "Lumeq Device"): ["Connection Issue", "Device Manager Issue", "WIA Issue",
                                   "TWAIN Issue", "QV Scan", "Lumeq Service", "All Success"],
}

# The host's handlers claim this block of ids and no other.
FIRST_ID, LAST_ID = 32779, 33138

TOKEN = re.compile(r'"((?:[^"]|"")*)"|(//[^\n]*|/\*.*?\*/)|([A-Za-z_][A-Za-z0-9_]*|-?\d+|,)', re.S)


def tokens(text):
    for match in TOKEN.finditer(text):
        quoted, comment, word = match.groups()
        if comment is not None:
            continue
        if quoted is not None:
            # windres reads a doubled quote inside a string as one quote.
            yield ("text", quoted.replace('""', '"'))
        else:
            yield ("word", word)


class ParseError(Exception):
    pass


def parse_block(stream):
    """A BEGIN ... END body as a list of (text, id) items and (text, children) pop-ups."""
    kind, value = next(stream, (None, None))
    if value not in ("BEGIN", "{"):
        raise ParseError(f"expected BEGIN, found {value!r}")
    entries = []
    while True:
        kind, value = next(stream, (None, None))
        if value is None:
            raise ParseError("the menu ends without END")
        if value in ("END", "}"):
            return entries
        if value == "POPUP":
            kind, text = next(stream, (None, None))
            if kind != "text":
                raise ParseError(f"POPUP without a text ({text!r})")
            entries.append(("popup", text, parse_block(stream)))
        elif value == "MENUITEM":
            kind, text = next(stream, (None, None))
            if text == "SEPARATOR":
                entries.append(("separator", None, None))
                continue
            if kind != "text":
                raise ParseError(f"MENUITEM without a text ({text!r})")
            comma = next(stream, (None, None))
            number = next(stream, (None, None))
            if comma[1] != "," or not re.fullmatch(r"-?\d+", number[1] or ""):
                raise ParseError(f"MENUITEM {text!r} without a numeric id")
            entries.append(("item", text, int(number[1])))
        else:
            raise ParseError(f"unexpected {value!r} in the menu")


def parse_menu(text):
    stream = tokens(text)
    previous = None
    for kind, value in stream:
        if kind == "word" and value == "MENU" and previous == ("word", "166"):
            return parse_block(stream)
        previous = (kind, value)
    raise ParseError("no 166 MENU")


def walk(entries, path, items, orders, separators):
    orders[path] = [text for kind, text, _ in entries if kind != "separator"]
    for kind, text, payload in entries:
        if kind == "separator":
            separators.append(path)
        elif kind == "item":
            items.append((path + (text,), payload))
        elif kind == "popup":
            walk(payload, path + (text,), items, orders, separators)


def main():
    root = pathlib.Path(sys.argv[1])
    source = root / "resources" / "SimulationMenu.rc"
    failures = []
    try:
        top = parse_menu(source.read_text(encoding="utf-8"))
    except (OSError, UnicodeDecodeError, ParseError) as error:
        print(f"{source}: {error}")
        return 1
    if len(top) != 1 or top[0][0] != "popup" or top[0][1] != "SecretMenu":
        failures.append('menu 166 must hold exactly one pop-up, "SecretMenu"')
    found, orders, separators = [], {}, []
    for kind, text, payload in top:
        if kind == "popup" and text == "SecretMenu":
            walk(payload, (), found, orders, separators)

    expected_ids = {}
    for path, command in EXPECTED:
        if path in expected_ids:
            failures.append(f"the check itself lists {path!r} twice")
        expected_ids[path] = command
    found_ids = {}
    for path, command in found:
        if path in found_ids:
            failures.append(f"{path!r} appears twice")
        found_ids.setdefault(path, command)

    for path, command in EXPECTED:
        if path not in found_ids:
            failures.append(f"missing {path!r} ({command})")
        elif found_ids[path] != command:
            failures.append(f"{path!r} has id {found_ids[path]}, expected {command}")
    for path, command in found:
        if path not in expected_ids:
            failures.append(f"extra {path!r} ({command})")

    owners = {}
    for path, command in found:
        owners.setdefault(command, []).append(path)
        if not FIRST_ID <= command <= LAST_ID:
            failures.append(f"{path!r} has id {command}, outside {FIRST_ID}..{LAST_ID}")
    for command, paths in sorted(owners.items()):
        if len(paths) > 1:
            failures.append(f"id {command} is used by {', '.join(map(repr, paths))}")

    for path, order in ORDERED_POPUPS.items():
        if path not in orders:
            failures.append(f"missing pop-up {path!r}")
        elif orders[path] != order:
            failures.append(f"{path!r} holds {orders[path]!r}, expected in the order {order!r}")
    expected_popups = {path[:depth] for path, _ in EXPECTED for depth in range(len(path))}
    for path in orders:
        if path not in expected_popups:
            failures.append(f"extra pop-up {path!r}")
    for path in separators:
        failures.append(f"{path!r} holds a separator, which the menu has nowhere")

    for failure in failures:
        print(failure)
    if failures:
        return 1
    print(f"menu 166: {len(found)} commands as expected")
    return 0


if __name__ == "__main__":
    sys.exit(main())
