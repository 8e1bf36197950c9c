#!/usr/bin/env bash
# pandas reads the clean tables as a user would, read_csv(index_col=0), and
# finds every pair by its labels with the value of karvel's shortest text.
#   pandas_tables.sh KARVEL INPUT
# Exits 77 (skipped) where Debian's pandas is not installed.
set -eu
karvel=$1
input=$2
python=/usr/bin/python3
"$python" -c 'import pandas' 2>/dev/null || { echo "skipped: no pandas for $python"; exit 77; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$karvel" --to=lsmat --exact "$input" >"$work/d.lsmat"
"$karvel" --to=csv --exact "$input" >"$work/d.csv"
"$karvel" --to=pairs --exact "$input" >"$work/pairs.txt"
"$python" - "$work" <<'PY'
import sys
import pandas
work = sys.argv[1]
tables = {
    "lsmat": pandas.read_csv(f"{work}/d.lsmat", sep="\t", index_col=0),
    "csv": pandas.read_csv(f"{work}/d.csv", index_col=0),
}
pairs = 0
with open(f"{work}/pairs.txt") as lines:
    for line in lines:
        if not line.strip():
            continue
        # The pairs layout pads its labels; the tables must not.
        a, b, value = (cell.strip() for cell in line.split("\t"))
        for name, df in tables.items():
            for x, y in ((a, b), (b, a)):
                got = df.loc[x, y]
                if got != float(value):
                    sys.exit(f"{name}: df.loc[{x!r}, {y!r}] = {got!r}, karvel wrote {value}")
        pairs += 1
for name, df in tables.items():
    if list(df.index) != list(df.columns) or len(df.index) * (len(df.index) - 1) // 2 != pairs:
        sys.exit(f"{name}: labels {list(df.index)} / {list(df.columns)} for {pairs} pairs")
print(f"{pairs} pairs found by label in both tables")
PY
