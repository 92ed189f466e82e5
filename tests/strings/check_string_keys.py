"""Every key the sources look up with GetString is one of the program's keys (strings/StringKeys.h),
and every language file holds exactly those keys. Exits 1 and names what is wrong otherwise."""
import pathlib
import re
import sys
import xml.dom.minidom

root = pathlib.Path(sys.argv[1])
keys_header = (root / "strings" / "StringKeys.h").read_text(encoding="utf-8")
keys = re.findall(r'L"([A-Z0-9_]+)"', keys_header)
failures = []
if len(keys) != len(set(keys)):
    failures.append("strings/StringKeys.h lists a key twice")
known = set(keys)

# The string table's keys are upper case; other GetString calls (version resources) are not lookups.
folders = ["app", "discovery", "engine", "issues", "repair", "strings", "system", "ui"]
used = {}
for folder in folders:
    for path in sorted((root / folder).rglob("*")):
        if path.suffix not in (".cpp", ".h"):
            continue
        for key in re.findall(r'GetString\(\s*L"([A-Z][A-Z0-9_]*)"', path.read_text(encoding="utf-8")):
            used.setdefault(key, str(path.relative_to(root)))
for key, where in sorted(used.items()):
    if key not in known:
        failures.append(f"{where} looks up {key!r}, which no language file is required to hold")

for path in sorted((root / "resources" / "strings").glob("*.xml")):
    document = xml.dom.minidom.parse(str(path))
    ids = [e.getAttribute("ID") for e in document.getElementsByTagName("String")]
    missing = known - set(ids)
    extra = set(ids) - known
    if missing:
        failures.append(f"{path.name} lacks {sorted(missing)}")
    if extra:
        failures.append(f"{path.name} holds keys the program never uses: {sorted(extra)}")
    if len(ids) != len(set(ids)):
        failures.append(f"{path.name} holds a key twice")

for failure in failures:
    print("FAIL:", failure)
print(f"string keys: {len(known)} known, {len(used)} looked up in the sources")
sys.exit(1 if failures else 0)
