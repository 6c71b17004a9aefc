#!/bin/sh
# Reads the record writer's plain and quoted CSV with Python's csv module:
# every row must have as many fields as the header line, and every field must
# read back as the text that was set (line ends as their marks; in plain rows
# ',' replaced by a blank). Skips (77) when python3 is absent.
tests="$1"
if ! command -v python3 >/dev/null 2>&1; then
  echo "python3 not found: skipping the Python csv module check"
  exit 77
fi
dir=$(mktemp -d) || exit 1
trap 'rm -rf "$dir"' EXIT
VESK_CSV_DUMP_DIR="$dir" "$tests" --gtest_filter='RecordWriterCsv.DumpForPython' >"$dir/log" 2>&1 ||
  { cat "$dir/log"; exit 1; }
python3 - "$dir" <<'PY'
import csv, os, sys
d = sys.argv[1]
for name in ("plain", "quoted"):
    with open(os.path.join(d, name + ".csv"), newline="", encoding="utf-8") as f:
        rows = list(csv.reader(f, strict=(name == "quoted")))
    with open(os.path.join(d, name + ".txt"), encoding="utf-8") as f:
        expected = [[bytes.fromhex(v).decode("utf-8") for v in line.split(" ")]
                    for line in f.read().split("\n") if line != ""]
    header, body = rows[0], rows[1:]
    if len(header) != 5 or len(body) != len(expected):
        sys.exit("%s: %d header fields, %d rows for %d expected" % (name, len(header), len(body), len(expected)))
    for row, want in zip(body, expected):
        if len(row) != len(header):
            sys.exit("%s: row %r has %d fields" % (name, row, len(row)))
        if row[2:] != want:
            sys.exit("%s: read %r, set %r" % (name, row[2:], want))
print("plain and quoted CSV read back by the csv module")
PY
