"""Checks that kavid.exe's trace log names the devices of the installed family scenarios."""
import sys

text = open(sys.argv[1], "rb").read().decode("utf-16-le")
records = []
for line in text.split("\r\n"):
    # "<prefix> (<tag>) <indentation><text>": the text after the tag, without its indentation.
    for tag in ("(I0) ", "(DB) ", "(##) "):
        at = line.find(tag)
        if at >= 0:
            records.append((tag[1:3], line[at + len(tag):].lstrip(" ")))
            break

expected = [
    ("I0", "Enumerates scanners."),
    ("I0", "Searching installed USB scanners..."),
    ("I0", "Scanner found : Quvari AIO 3400 Series Connected at : USB"),
    ("I0", "Gets the installed Tarvels"),
    ("I0", "Scanner found : Quvari Tarvel T200 Connected at : USB"),
    ("I0", "Gets the installed Lumeqs"),
    ("I0", "Scanner found : Quvari Lumeq LQ 3100 Connected at : USB"),
    ("I0", "Searching installed network scanners..."),
    ("DB", "Found device.Device Desc: quvari lumeq lq 5100 (network)"),
    ("I0", "IP:127.0.0.3"),
    ("I0", "Scanner found : Quvari QX-800 Connected at : 127.0.0.3"),
    ("I0", "Scanner found : Quvari AIO 4500 Series Connected at : ip=127.0.0.4,port=9100"),
]
failures = []
position = 0
for record in expected:
    try:
        position = records.index(record, position) + 1
    except ValueError:
        failures.append(f"missing, or out of order: {record}")
unwanted = [r for r in records if r[1].startswith("Failed to get the IP Address of the Lumeq device")]
if unwanted:
    failures.append(f"the network Lumeq got no address: {unwanted}")
if failures:
    print("\n".join(failures))
    print("--- records of CScanners:")
    print("\n".join(f"({t}) {r}" for t, r in records if "canner" in r or "Found" in r))
    sys.exit(1)
print(f"kavid.exe listed the {len([r for r in expected if 'Scanner found' in r[1]])} devices")
