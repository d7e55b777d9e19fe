#!/usr/bin/python3
"""Fails when gi-docgen finds a public symbol of the GIR without
documentation, other than those listed in undocumented.txt, or when a listed
symbol has since been documented (the list only shrinks).

Usage: check_documented.py GI_DOCGEN CONFIG GIR LIST
"""
import re
import subprocess
import sys

gi_docgen, config, gir, listed_file = sys.argv[1:5]
result = subprocess.run([gi_docgen, "check", "--config", config, gir],
                        capture_output=True, text=True)
found = set()
for line in (result.stdout + result.stderr).splitlines():
    if "not documented" in line:
        # Without the source position, which moves with every edit.
        text = re.search(r"((Symbol|Parameter|Return value).*not documented)", line).group(1)
        found.add(re.sub(r" at \S+:\d+", "", text))
if result.returncode not in (0, 1) or (result.returncode == 1 and not found):
    sys.stderr.write(result.stdout + result.stderr)
    sys.exit("gi-docgen check failed")
with open(listed_file, encoding="utf-8") as f:
    listed = set(line.strip() for line in f if line.strip() and not line.startswith("#"))
new, fixed = sorted(found - listed), sorted(listed - found)
for line in new:
    print("undocumented: " + line, file=sys.stderr)
for line in fixed:
    print("now documented, remove it from %s: %s" % (listed_file, line), file=sys.stderr)
sys.exit(1 if new or fixed else 0)
