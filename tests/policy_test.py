#!/usr/bin/env python3
"""The Group Policy template: both files well-formed, every string and presentation the
policy file refers to defined in the language file (and none left over), and the policy
writing exactly the value the program reads."""
import sys
import xml.etree.ElementTree as ET

NS = {"p": "http://schemas.microsoft.com/GroupPolicy/2006/07/PolicyDefinitions"}
admx_path, adml_path = sys.argv[1], sys.argv[2]
failures = []


def check(name, actual, expected):
    if actual != expected:
        failures.append(f"{name}: expected {expected!r}, got {actual!r}")


admx = ET.parse(admx_path).getroot()
adml = ET.parse(adml_path).getroot()

# References of the form $(string.X) and $(presentation.X) in the policy file.
refs = {"string": set(), "presentation": set()}
for element in admx.iter():
    for value in element.attrib.values():
        if value.startswith("$(") and value.endswith(")"):
            kind, _, name = value[2:-1].partition(".")
            refs.setdefault(kind, set()).add(name)
strings = {s.get("id") for s in adml.iterfind(".//p:stringTable/p:string", NS)}
presentations = {p.get("id") for p in adml.iterfind(".//p:presentationTable/p:presentation", NS)}
check("strings referenced and defined", refs["string"], strings)
check("presentations referenced and defined", refs["presentation"], presentations)

policies = admx.findall(".//p:policies/p:policy", NS)
check("policy names", [p.get("name") for p in policies], ["DataPath"])
policy = policies[0]
check("class", policy.get("class"), "User")
check("key", policy.get("key"), r"Software\Policies\Orvane\Keelbox")
texts = policy.findall("p:elements/p:text", NS)
check("text elements", [(t.get("valueName"), t.get("expandable")) for t in texts], [("DataPath", None)])
# The presentation's text box edits that element.
boxes = [b.get("refId") for b in adml.iterfind(".//p:presentation/p:textBox", NS)]
check("text box", boxes, [texts[0].get("id")])
explain = next(s.text for s in adml.iterfind(".//p:stringTable/p:string", NS) if s.get("id") == "DataPath_Explain")
for token in ("%applicationdata%", "%mydocuments%", "%localapplicationdata%", "%userprofile%"):
    check(f"explained token {token}", token in explain, True)

for failure in failures:
    print("FAIL", failure)
checks = 7 + 4
print(f"{checks - len(failures)} passed, {len(failures)} failed")
sys.exit(1 if failures else 0)
