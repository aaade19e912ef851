#!/bin/sh
# Typesets the user guide: groff (ms macros, tbl, gropdf) on A4, then qpdf for object streams
# and PDF 1.5. The same source gives the same bytes: fixed dates and an ID made from the content.
#   make_guide.sh SOURCE.ms OUTPUT.pdf
set -eu
[ $# -eq 2 ] || { echo "usage: make_guide.sh SOURCE.ms OUTPUT.pdf" >&2; exit 2; }
source=$1
output=$2
work=$(mktemp -d "${TMPDIR:-/tmp}/guide.XXXXXX")
trap 'rm -rf "$work"' EXIT

# A4 exactly as 595.32 x 841.92 points (gropdf's "a4" rounds it to 595 x 842).
paper=841.92p,595.32p
# The edition date, 2025-01-01 00:00 UTC, for CreationDate and ModDate: gropdf reads it here
# instead of the clock.
SOURCE_DATE_EPOCH=1735689600
export SOURCE_DATE_EPOCH
# A fixed locale and no user macro path, so nothing of the caller's setup reaches the output.
LC_ALL=C
export LC_ALL
unset GROFF_TMAC_PATH GROFF_FONT_PATH || true

# Every groff warning fails the build: an overfull line or a bad macro call is a fault here.
groff -ww -ms -t -Tpdf -P-p"$paper" "$source" >"$work/groff.pdf" 2>"$work/groff.log" || {
  cat "$work/groff.log" >&2; exit 1; }
if [ -s "$work/groff.log" ]; then
  cat "$work/groff.log" >&2
  echo "make_guide.sh: groff reported warnings for $source" >&2
  exit 1
fi
qpdf --object-streams=generate --min-version=1.5 --deterministic-id --recompress-flate \
  --compression-level=9 "$work/groff.pdf" "$work/guide.pdf"
mv "$work/guide.pdf" "$output"
