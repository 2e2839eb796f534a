#!/usr/bin/env python3
"""Compares SheetDrain's and LibreOffice's CSV files of the gen.py batteries.

Usage:  compare.py SD_DIR LO_DIR KNOWN_TSV REPORT

Each row's first field is the formula's text and its second the displayed
result. A disagreement listed in KNOWN_TSV (formula TAB LibreOffice's text
TAB the application's documented behaviour that shows LibreOffice wrong)
is explained; any other is open. Writes REPORT (Markdown) and exits 1 when
a disagreement is open or a listed one no longer occurs as listed.
"""
import csv
import os
import sys


def results(path):
    with open(path, encoding="utf-8", errors="replace", newline="") as f:
        return {row[0]: (row[1] if len(row) > 1 else "") for row in csv.reader(f) if row and row[0]}


def normal(sd_text, lo_text):
    """LibreOffice's text with two of its conventions mapped to the
    application's: it has no logical type (a logical result in a cell
    formatted as a number shows as 1 or 0), and it shows its "invalid
    argument" error, which it stores as #NUM!, as Err:502."""
    if lo_text == "Err:502":
        return "#NUM!"
    if sd_text in ("TRUE", "FALSE") and "." in lo_text and lo_text.replace("0", "").rstrip(".") in ("", "1"):
        try:
            return "TRUE" if float(lo_text) == 1 else "FALSE" if float(lo_text) == 0 else lo_text
        except ValueError:
            return lo_text
    return lo_text


def known(path):
    out = {}
    with open(path, encoding="utf-8") as f:
        for line in f:
            line = line.rstrip("\n")
            if line and not line.startswith("#"):
                formula, lo_text, reason = line.split("\t")
                out[formula] = (lo_text, reason)
    return out


def main():
    sd_dir, lo_dir, known_path, report = sys.argv[1:5]
    listed = known(known_path)
    total, explained, open_rows, stale = 0, [], [], []
    seen = set()
    for name in sorted(os.listdir(lo_dir)):
        if not name.endswith(".csv"):
            continue
        lo = results(os.path.join(lo_dir, name))
        sd_path = os.path.join(sd_dir, name)
        sd = results(sd_path) if os.path.exists(sd_path) else {}
        for formula, lo_text in lo.items():
            total += 1
            sd_text = sd.get(formula, "(missing)")
            lo_text = normal(sd_text, lo_text)
            seen.add(formula)
            if sd_text == lo_text:
                if formula in listed:
                    stale.append((name, formula, "now agree: " + sd_text))
                continue
            entry = listed.get(formula)
            if entry and entry[0] == lo_text:
                explained.append((name, formula, sd_text, lo_text, entry[1]))
            else:
                open_rows.append((name, formula, sd_text, lo_text))
    stale += [("?", f, "not generated") for f in listed if f not in seen]
    with open(report, "w", encoding="utf-8") as out:
        out.write(f"# Formula differences against LibreOffice\n\n{total} formulas, "
                  f"{total - len(explained) - len(open_rows)} agree, {len(explained)} explained, "
                  f"{len(open_rows)} open, {len(stale)} stale entries in the known list.\n\n")
        out.write("## Open\n\n| family | formula | SheetDrain | LibreOffice |\n|---|---|---|---|\n")
        for fam, f, s, l in open_rows:
            out.write(f"| {fam[:-4]} | `{f}` | `{s}` | `{l}` |\n")
        out.write("\n## Explained (LibreOffice departs from the documented behaviour)\n\n"
                  "| family | formula | SheetDrain | LibreOffice | why |\n|---|---|---|---|---|\n")
        for fam, f, s, l, why in explained:
            out.write(f"| {fam[:-4]} | `{f}` | `{s}` | `{l}` | {why} |\n")
        if stale:
            out.write("\n## Stale entries of the known list\n\n")
            for fam, f, why in stale:
                out.write(f"- `{f}`: {why}\n")
    print(f"{total} formulas: {total - len(explained) - len(open_rows)} agree, "
          f"{len(explained)} explained, {len(open_rows)} open, {len(stale)} stale; report in {report}")
    return 1 if open_rows or stale else 0


if __name__ == "__main__":
    sys.exit(main())
