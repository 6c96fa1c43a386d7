#!/usr/bin/python3
"""Checks the manual pages: groff reads them without a warning, and the tool's page documents
every verb, option and setting that `midigen --help` lists.
Usage: check-manpages.py MIDIGEN PAGE..."""

import re
import subprocess
import sys

tool, pages = sys.argv[1], sys.argv[2:]
failures = []


def rendered(page):
    """The page as plain text, unhyphenated, with every run of white space one blank."""
    result = subprocess.run(
        ["groff", "-man", "-Tutf8", "-ww", "-rHY=0", "-rLL=200n", "-P-cbou", page],
        capture_output=True, text=True)
    if result.returncode != 0 or result.stderr:
        failures.append(f"{page}: groff: {result.stderr.strip() or result.returncode}")
    # groff writes the minus of an option as U+2010 or U+2212; the help writes "-".
    text = result.stdout.replace("\u2010", "-").replace("\u2212", "-")
    return " ".join(text.split())


texts = {page: rendered(page) for page in pages}
tool_page = next((page for page in pages if re.search(r"midigen\.1$", page)), None)
if tool_page is None:
    failures.append("no midigen.1 among the pages")
else:
    help_text = subprocess.run([tool, "--help"], capture_output=True, text=True, check=True).stdout
    verbs = re.findall(r"^  midigen ((?:[a-z]+)(?: [a-z]+)?)", help_text, re.MULTILINE)
    options = set(re.findall(r"(--[a-z]+)", help_text))
    settings_text = re.search(r"NAME is one of:(.*?)\.", help_text, re.DOTALL)
    settings = settings_text.group(1).replace(",", " ").split() if settings_text else []
    if len(verbs) < 10 or not options or len(settings) < 15:
        failures.append(f"the help lists too little: {verbs} {options} {settings}")
    page = texts[tool_page]
    for what, names in (("verb", verbs), ("option", sorted(options)), ("setting", settings)):
        for name in names:
            if name not in page:
                failures.append(f"{tool_page}: the {what} '{name}' is missing")
    for section in ("SYNOPSIS", "VERBS", "OPTIONS", "SETTINGS", "PLAY STRINGS", "EXIT STATUS"):
        if section not in page:
            failures.append(f"{tool_page}: no section {section}")

for failure in failures:
    print("FAIL", failure)
print(f"{len(pages)} pages checked, {len(failures)} problems")
sys.exit(1 if failures else 0)
