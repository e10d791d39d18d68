#!/usr/bin/env python3
"""Reads the exported CSV the way a spreadsheet user's script would (csv module, utf-8-sig,
";") and compares it cell by cell with the "table" of the JSON export of the same table. A cell
may differ only by the apostrophe that guards a would-be formula."""
import csv
import json
import sys
from pathlib import Path

FORMULA_STARTS = "=+-@"


def guarded(cell):
    stripped = cell.lstrip(" \t\r\n")
    return bool(stripped) and stripped[0] in FORMULA_STARTS


def main(folder):
    folder = Path(folder)
    raw = (folder / "table.csv").read_bytes()
    if not raw.startswith(b"\xef\xbb\xbf"):
        sys.exit("CSV without the UTF-8 byte-order mark")
    if (folder / "table.json").read_bytes().startswith(b"\xef\xbb\xbf"):
        sys.exit("JSON with a byte-order mark")
    with open(folder / "table.csv", encoding="utf-8-sig", newline="") as handle:
        rows = list(csv.reader(handle, delimiter=";"))
    table = json.loads((folder / "table.json").read_text(encoding="utf-8"))["table"]
    if len(rows) != len(table):
        sys.exit(f"{len(rows)} CSV rows, {len(table)} JSON rows")
    for r, (csv_row, json_row) in enumerate(zip(rows, table)):
        if len(csv_row) != len(json_row):
            sys.exit(f"row {r}: {len(csv_row)} CSV cells, {len(json_row)} JSON cells")
        for c, (read, expected) in enumerate(zip(csv_row, json_row)):
            wanted = "'" + expected if guarded(expected) else expected
            if read != wanted:
                sys.exit(f"row {r} cell {c}: CSV {read!r}, JSON {expected!r}")
    print(f"{len(rows)} rows read back alike")


if __name__ == "__main__":
    main(sys.argv[1])
