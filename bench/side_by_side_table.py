#!/usr/bin/env python3
"""The table of bench/side_by_side.sh, with the speed targets checked.

Usage: python3 side_by_side_table.py WORKDIR

Reads WORKDIR/res/cases.tsv, res/ID.json (hyperfine), res/ID.rss (GNU time
%M, one line per run), res/ID.err, res/machine.txt and the sizes written by
the generators (wb/manifest.json, wb/scale.xlsx.json, wb/tree.json).
Prints Markdown: the machine and its load, one row per case (median wall
time, peak RSS and the ratios), then PASS/FAIL per target.
"""
import csv
import json
import os
import statistics
import sys

W = sys.argv[1]
RES = os.path.join(W, "res")
WB = os.path.join(W, "wb")
SD = "SheetDrain (sheetdrain-cli)"
ORDER = ["big.xlsx", "wide.xlsx", "big.xls", "many", "many_xls", "scale.xlsx", "tree"]


def load_json(path):
    try:
        with open(path) as fh:
            return json.load(fh)
    except (OSError, ValueError):
        return None


def input_info():
    """input -> (MB of sheet XML or .xls bytes, unit, rows of all sheets)."""
    info = {}
    man = (load_json(os.path.join(WB, "manifest.json")) or {}).get("files", {})
    for name in ("big.xlsx", "wide.xlsx", "big.xls"):
        if name in man:
            e = man[name]
            xml = name.endswith(".xlsx")
            info[name] = ((e["xml_bytes"] if xml else e["bytes"]) / 1e6, "XML" if xml else "xls",
                          e["sheets"] * e["rows_per_sheet"])
    for name in ("many", "many_xls"):
        e = man.get(name + "/")
        if e:
            xml = bool(e.get("xml_bytes"))
            info[name] = ((e["xml_bytes"] if xml else e["bytes"]) / 1e6, "XML" if xml else "xls",
                          e["count"] * e["sheets_each"] * e["rows_per_sheet"])
    scale = load_json(os.path.join(WB, "scale.xlsx.json"))
    if scale:
        info["scale.xlsx"] = (scale["xml_bytes"] / 1e6, "XML", scale["rows"])
    tree = load_json(os.path.join(WB, "tree.json"))
    if tree:
        info["tree"] = (None, "", tree["rows"])
    return info


def csv_stats(case_id):
    n = size = 0
    for root, _, files in os.walk(os.path.join(W, "out", case_id)):
        for f in files:
            if f.endswith(".csv") and f != "copy.csv":
                n += 1
                size += os.path.getsize(os.path.join(root, f))
    return n, size


def first_error(sid):
    try:
        with open(os.path.join(RES, sid + ".err"), errors="replace") as fh:
            for line in fh:
                if line.strip() and not line.startswith("["):
                    return line.strip()[:240]
    except OSError:
        pass
    return ""


def read_cases():
    rows = []
    with open(os.path.join(RES, "cases.tsv")) as fh:
        for r in csv.DictReader(fh, delimiter="\t"):
            sid = r["id"].replace("/", "_")
            res = load_json(os.path.join(RES, sid + ".json"))
            if not res or not res.get("results"):
                continue
            res = res["results"][0]
            rss = []
            try:
                with open(os.path.join(RES, sid + ".rss")) as fh2:
                    rss = [int(x) for x in fh2.read().split() if x.isdigit()]
            except OSError:
                pass
            times = res["times"]
            r.update(median=statistics.median(times), tmin=min(times), tmax=max(times),
                     nruns=len(times), rss=max(rss) / 1024 if rss else None,
                     failed=sum(1 for c in res.get("exit_codes", []) if c),
                     error=first_error(sid))
            r["ncsv"], r["csvbytes"] = csv_stats(r["id"])
            rows.append(r)
    return rows


def is_floor(r):
    return r["tool"].startswith("floor")


def print_table(rows, info):
    print("| input | tool | mode | runs | median s | min-max s | x SheetDrain | x fastest |"
          " x floor | peak RSS MB | input MB/s | rows/s | CSV files | CSV MB |")
    print("|---|---|---|---|---|---|---|---|---|---|---|---|---|---|")
    notes = []
    for inp in ORDER:
        grp = [r for r in rows if r["input"] == inp]
        if not grp:
            continue
        mb, unit, nrows = info.get(inp, (None, "", None))
        tools = [r for r in grp if not is_floor(r) and not r["failed"]]
        sd = [r["median"] for r in tools if r["tool"] == SD]
        sd = min(sd) if sd else None
        fastest = min((r["median"] for r in tools), default=None)
        floors = [r["median"] for r in grp if is_floor(r) and "unzip" in r["tool"]] or \
            [r["median"] for r in grp if r["tool"] in ("floor: cat", "floor: cat per file")]
        floor = min(floors) if floors else None
        grp.sort(key=lambda r: (is_floor(r), r["median"]))
        for r in grp:
            med, ok = r["median"], not is_floor(r) and not r["failed"]
            good = not r["failed"]  # a failed run's time says nothing of the speed
            cells = [inp, r["tool"], r["mode"],
                     "%d%s" % (r["nruns"], " (%d failed)" % r["failed"] if r["failed"] else ""),
                     "%.3f" % med, "%.3f-%.3f" % (r["tmin"], r["tmax"]),
                     "%.1f" % (med / sd) if sd and ok else "",
                     "%.1f" % (med / fastest) if fastest and ok else "",
                     "%.1f" % (med / floor) if floor and ok else "",
                     "%.0f" % r["rss"] if r["rss"] is not None else "",
                     "%.1f %s" % (mb / med, unit) if mb and good else "",
                     "{:,.0f}".format(nrows / med) if nrows and good else "",
                     str(r["ncsv"] or ""),
                     "%.1f" % (r["csvbytes"] / 1e6) if r["csvbytes"] else ""]
            print("| " + " | ".join(cells) + " |")
            if r["failed"] and r["error"]:
                notes.append("%s, %s: %s" % (inp, r["tool"], r["error"]))
    if os.path.exists(os.path.join(RES, "tree.na")):
        print("| tree | %s | --jobs 1 / --jobs 2 | n/a | | | | | | | | | | |" % SD)
    print()
    print("input MB: sheet XML + sharedStrings.xml for .xlsx inputs, file bytes for .xls "
          "inputs. x SheetDrain, x fastest, x floor: median / median of SheetDrain, of the "
          "fastest converter, of the floor of the same input (unzip -p, cat) in this run.")
    for n in notes:
        print("\nfailed: " + n)


def median_of(rows, case_id):
    for r in rows:
        if r["id"] == case_id and not r["failed"]:
            return r["median"]
    return None


def check(label, slow, fast, need, what):
    """PASS when slow / fast >= need; n/a when either is missing."""
    if slow is None or fast is None:
        print("- %s: n/a (%s)" % (label, what))
        return
    ratio = slow / fast
    print("- %s: %.3f s / %.3f s = %.1fx, target >= %.1fx: %s"
          % (label, slow, fast, ratio, need, "PASS" if ratio >= need else "FAIL"))


def main():
    with open(os.path.join(RES, "machine.txt")) as fh:
        print("```\n" + fh.read().rstrip() + "\n```\n")
    rows = read_cases()
    print_table(rows, input_info())
    print("\nTargets:")
    check("big.xlsx, LibreOffice / SheetDrain", median_of(rows, "big.xlsx/soffice"),
          median_of(rows, "big.xlsx/sheetdrain"), 20, "LibreOffice or SheetDrain not timed")
    check("big.xls, catdoc xls2csv / SheetDrain", median_of(rows, "big.xls/xls2csv"),
          median_of(rows, "big.xls/sheetdrain"), 4, "xls2csv or SheetDrain not timed")
    na = os.path.exists(os.path.join(RES, "tree.na"))
    check("tree (2,000 workbooks), --jobs 1 / --jobs 2", median_of(rows, "tree/jobs1"),
          median_of(rows, "tree/jobs2"), 1.7,
          "sheetdrain-cli has no --jobs option" if na else "a run failed")


if __name__ == "__main__":
    main()
