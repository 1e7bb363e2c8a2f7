#!/usr/bin/env bash
# The manual page must not go stale: every long option and every subcommand
# that the built aikorvane-sim prints in --help-all must be in the built page.
# Usage: man_page_test.sh MAN_PAGE_GZ SIM [EMULATOR...]
set -euo pipefail
page=$1 sim=$2
shift 2
help=$("$@" "$sim" --help-all)
# roff writes a hyphen as \-; the page's text with plain hyphens.
text=$(gzip -dc "$page" | sed 's/\\-/-/g')
names=$(grep -oE -- '--[a-z][a-z0-9-]*' <<<"$help" | sort -u)
names+=$'\n'$(sed -n '/^Subcommands:$/,$ s/^\([a-z][a-z0-9-]*\)$/aikorvane-sim \1/p' <<<"$help")
[ "$(wc -l <<<"$names")" -ge 5 ] || { echo "FAIL: too few options in --help-all: $help"; exit 1; }
missing=0
while read -r name; do
  [ -n "$name" ] || continue
  # Whole names only: --help is not found in --help-all.
  grep -qE -- "(^|[^a-z-])${name}([^a-z0-9-]|$)" <<<"$text" || { echo "FAIL: $name is not in $page"; missing=1; }
done <<<"$names"
# FILES names every document installed beside it and every bundled example.
source_dir=$(cd "$(dirname "$0")/../.." && pwd)
files=$(sed -n '/^\.SH FILES/,/^\.SH /p' <<<"$text")
for doc in "$source_dir"/README.md "$source_dir"/docs/*.md; do
  name=$(basename "$doc")
  grep -qE "(^|[^a-z.-])${name//./\\.}([^a-z-]|$)" <<<"$files" ||
    { echo "FAIL: FILES of $page does not name $name"; missing=1; }
done
# An example by its folder's name in italics, not a word of the text.
for example in "$source_dir"/examples/*/; do
  name=$(basename "$example")
  grep -qF "\\fI${name}\\fR" <<<"$files" ||
    { echo "FAIL: FILES of $page does not name the example $name"; missing=1; }
done
version=$("$@" "$sim" --version)
grep -qF "\"${version}\"" <<<"$text" || { echo "FAIL: $page is not of $version"; missing=1; }
[ "$missing" -eq 0 ] && echo "manual page covers: $(tr '\n' ' ' <<<"$names")"
