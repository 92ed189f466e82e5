"""Checks what one run of kavid.exe left behind: its trace log and its trace configuration."""
import re
import sys

log_path, reg_path, expected_log_name = sys.argv[1], sys.argv[2], sys.argv[3]
failures = []

raw = open(log_path, "rb").read()
if raw[:2] in (b"\xff\xfe", b"\xfe\xff"):
    failures.append("the log starts with a byte-order mark")
text = raw.decode("utf-16-le")
if not text.endswith("\r\n"):
    failures.append("the log does not end with CR LF")
lines = text[:-2].split("\r\n") if text.endswith("\r\n") else text.split("\r\n")

# Options 0x7FF80000: compact date and time, ':' and the counter, milliseconds since the last
# record, process id, thread id, line field, tags, indentation, text.
record = re.compile(
    r"^(?P<date>\d{14}):(?P<counter>[0-9A-F]{9}) \((?P<ms>[ \d]{6}) ms\) \[(?P<pid>\d+)\] "
    r"\{tid: 0x(?P<tid>[0-9A-F]{4,8})\} (?P<line>\d{4,}: |      )(?P<tag>\((?:->|<-|I\d|DB|##)\) )"
    r"(?P<rest>.*)$")
parsed = []
for number, line in enumerate(lines, 1):
    match = record.match(line)
    if match:
        parsed.append(match)
    elif parsed and not line.strip(" "):
        # The first information record ends in two line breaks of its own.
        continue
    elif parsed and parsed[-1]["rest"].lstrip().startswith("OS Version : ") and line == "-" * 76:
        # The operating system's record carries its own rule on a second line.
        continue
    else:
        failures.append(f"line {number} does not have the record format: {line!r}")

def find(tag, rest):
    return [m for m in parsed if m["tag"] == tag and m["rest"] == rest]

def entered(scope):
    # The indentation is kept per log file and shared by every thread: a scope entered on the
    # main thread while the start-up rescan's scope is open sits one level deeper.
    return [m for m in parsed if m["tag"] == "(->) " and m["rest"].strip(" ") == scope]

constructor = "CKavidApp::CKavidApp"
if not find("(->) ", constructor):
    failures.append("no entry record of CKavidApp::CKavidApp")
exits = [m for m in parsed if m["tag"] == "(<-) " and m["rest"].startswith(constructor + " (Dur: ")]
if not exits or not re.fullmatch(r"CKavidApp::CKavidApp \(Dur: \d+ ms\) ", exits[0]["rest"]):
    failures.append("no exit record of CKavidApp::CKavidApp with its duration")
elif exits[0]["line"] != "      ":
    failures.append("the exit record's line field is not six blanks")
info = [m for m in parsed if m["tag"] == "(I0) " and m["rest"].startswith("  Trace log : ")]
if not info:
    failures.append("no indented information record naming the trace log")
elif info[0]["rest"][len("  Trace log : "):].lower() != expected_log_name.lower():
    failures.append(f"the trace log is named {info[0]['rest']!r}, expected {expected_log_name!r}")
if not any(m["rest"] == "  QV KVD Log File " for m in parsed):
    failures.append("no 'QV KVD Log File' record")
if not any(m["tag"] == "(I0) " and re.fullmatch(r"  OS Version : \S.* ", m["rest"]) for m in parsed):
    failures.append("no 'OS Version : ' record naming the system")
if not any(m["rest"] == "  Logged in as administrator" for m in parsed):
    failures.append("no 'Logged in as administrator' record")
if not entered("CDiagnosticMgr::Init"):
    failures.append("the diagnostic manager was not created")
if not entered("CKavidApp::LoadPNGFromResource") or any(
        "Failed to get bitmap" in m["rest"] for m in parsed):
    failures.append("the banner picture was not decoded")
errors = [m["rest"].strip() for m in parsed if m["tag"] == "(##) "]
if errors:
    failures.append(f"error records: {errors}")
if not entered("CStringTable::LoadStrings"):
    failures.append("the texts were not loaded at start-up")
if len({m["pid"] for m in parsed}) != 1:
    failures.append("records of more than one process id")

reg = open(reg_path, encoding="utf-8", errors="replace").read()
expected_values = {
    "LogCategories": ("REG_DWORD", "0x3f00fff0"),
    "LogOptions": ("REG_DWORD", "0x7ff80000"),
    "LogInfoDetailLevel": ("REG_DWORD", "0x0"),
}
for name, (kind, value) in expected_values.items():
    if not re.search(rf"^\s*{name}\s+{kind}\s+{value}\s*$", reg, re.M | re.I):
        failures.append(f"registry value {name} is not {kind} {value}")
match = re.search(r"^\s*LogFileName\s+REG_SZ\s+(.*?)\s*$", reg, re.M)
if not match or match.group(1).lower() != expected_log_name.lower():
    failures.append(f"LogFileName is {match.group(1) if match else None!r}, expected {expected_log_name!r}")

for failure in failures:
    print("FAIL:", failure)
print(f"kavid smoke: {len(parsed)} records checked in {log_path}")
sys.exit(1 if failures else 0)
