#!/usr/bin/python3
"""Writes the reference's introduction from the README's "Using the control"
section, so the examples there are the ones the reference shows.

Usage: introduction.py README OUTPUT
"""
import re
import sys

readme, output = sys.argv[1], sys.argv[2]
with open(readme, encoding="utf-8") as f:
    text = f.read()
section = re.search(r"^## Using the control\n(.*?)(?=^## )", text, re.S | re.M).group(1)
# Images lie beside the page in the reference.
section = section.replace("](docs/", "](")
# Indented blocks become fenced ones with their language.
lines, out, block = section.splitlines(), [], []


def flush():
    if not block:
        return
    code = "\n".join(line[4:] for line in block).rstrip("\n")
    language = "python" if "import gi" in code or "except GLib" in code else \
        "c" if re.search(r"#include|GError|g_print|;\s*$", code, re.M) else \
        "sh" if re.match(r"(export|cc|\./)", code) else ""
    out.extend(["", "```" + language, code, "```", ""])
    block.clear()


for line in lines:
    if line.startswith("    ") or (block and line == ""):
        block.append(line)
    else:
        flush()
        out.append(line)
flush()
body = re.sub(r"\n{3,}", "\n\n", "\n".join(out)).strip()
with open(output, "w", encoding="utf-8") as f:
    f.write("Title: Introduction\n\n# Introduction\n\n" + body + "\n")
