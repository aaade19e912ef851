#!/bin/sh
# Checks the built user guide: PDF 1.5, four A4 pages with text on each, a clean qpdf check,
# the facts that the guide must state, and the same bytes on every build.
#   guide_test.sh make_guide.sh SOURCE.ms BUILT.pdf
set -u
[ $# -eq 3 ] || { echo "usage: guide_test.sh make_guide.sh SOURCE.ms BUILT.pdf" >&2; exit 2; }
make_guide=$1
source=$2
guide=$3
work=$(mktemp -d "${TMPDIR:-/tmp}/guide_test.XXXXXX")
trap 'rm -rf "$work"' EXIT
failures=0

# expect WHAT EXPECTED ACTUAL
expect() {
  if [ "$2" != "$3" ]; then
    printf 'FAIL %s: expected "%s", got "%s"\n' "$1" "$2" "$3"
    failures=$((failures + 1))
  fi
}

if [ ! -s "$guide" ]; then
  echo "FAIL $guide: missing or empty"
  exit 1
fi

# The file itself.
expect "first 8 bytes of $guide" "%PDF-1.5" "$(head -c 8 "$guide")"
pdfinfo -f 1 -l 4 "$guide" >"$work/info" 2>"$work/info.err"
expect "pdfinfo exit status" "0" "$?"
expect "pdfinfo messages" "" "$(cat "$work/info.err")"
expect "pdfinfo Pages" "4" "$(sed -n 's/^Pages: *//p' "$work/info")"
expect "pdfinfo PDF version" "1.5" "$(sed -n 's/^PDF version: *//p' "$work/info")"
for page in 1 2 3 4; do
  expect "pdfinfo page $page size" "595.32 x 841.92 pts (A4)" \
    "$(sed -n "s/^Page *$page size: *//p" "$work/info")"
done
expect "pdfinfo CreationDate" "Wed Jan  1 00:00:00 2025 UTC" \
  "$(sed -n 's/^CreationDate: *//p' "$work/info")"

qpdf --check "$guide" >"$work/check" 2>&1
expect "qpdf --check exit status (0: no errors, no warnings)" "0" "$?"
expect "qpdf --check lines with WARNING" "" "$(grep -i 'warning' "$work/check")"
expect "qpdf --check verdict" "1" "$(grep -c '^No syntax or stream encoding errors found' "$work/check")"

# Every page carries text: a layout fault would leave one blank.
for page in 1 2 3 4; do
  pdftotext -f "$page" -l "$page" "$guide" "$work/page$page.txt"
  words=$(tr -s ' \n\f' '\n\n\n' <"$work/page$page.txt" | grep -c .)
  [ "$words" -ge 150 ] || expect "words on page $page (at least 150)" ">= 150" "$words"
done
expect "page 1 says that this is the sample guide" "1" \
  "$(grep -c 'This is the sample user guide' "$work/page1.txt")"

# The facts that readers look for, each somewhere in the text.
pdftotext "$guide" "$work/all.txt"
while IFS= read -r fact; do
  [ -n "$fact" ] || continue
  expect "occurrences of '$fact' (at least one)" "found" \
    "$(grep -F -q -- "$fact" "$work/all.txt" && echo found || echo missing)"
done <<'EOF'
C:\Solvarine\archive
C:\Solvarine\Solvarine.exe
7za.exe
Solvarine_PC.pdf
Checklist_Lightwave.txt
Checklist_Terragen.txt
Solvarine.lnk
Checklist_Cinema4D.txt
Checklist_Maya.txt
scripts/build --payload DIR
http://www.tarnwick.com/manuals/lightwave_en.pdf
http://www.tarnwick.com/manuals/terragen_en.pdf
LWEXT*.CFG
.lws
.tgd
EOF

# The same bytes on every build, whatever the clock, time zone or date of the caller says.
sh "$make_guide" "$source" "$work/first.pdf" || expect "first rebuild exit status" 0 "$?"
SOURCE_DATE_EPOCH=1 TZ=Pacific/Auckland sh "$make_guide" "$source" "$work/second.pdf" ||
  expect "second rebuild exit status" 0 "$?"
built_sum=$(sha256sum <"$guide" | cut -d' ' -f1)
expect "sha256 of a rebuild against the built guide" "$built_sum" \
  "$(sha256sum <"$work/first.pdf" | cut -d' ' -f1)"
expect "sha256 of a rebuild with another SOURCE_DATE_EPOCH and TZ" "$built_sum" \
  "$(sha256sum <"$work/second.pdf" | cut -d' ' -f1)"

if [ "$failures" -ne 0 ]; then
  echo "$failures check(s) failed"
  exit 1
fi
echo "guide: all checks passed"
