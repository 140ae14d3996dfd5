#!/usr/bin/env bash
# The metainfo states each screenshot's size; it must be the size of the picture it names in
# docs/screenshots/ (gui/tools/screenshots.sh takes them anew), or software centres lay it out
# wrongly. Usage: screenshots.sh SOURCE_DIR
set -uo pipefail
cd "${1:?usage: screenshots.sh SOURCE_DIR}" || exit 2
failures=0
seen=0
while read -r width height name; do
    seen=$((seen + 1))
    # A PNG's width and height are the two big-endian words at bytes 16 to 23.
    size=$(od -An -tu1 -j16 -N8 "docs/screenshots/$name" 2>/dev/null |
        awk '{ print $1 * 16777216 + $2 * 65536 + $3 * 256 + $4, $5 * 16777216 + $6 * 65536 + $7 * 256 + $8 }')
    if [[ $size != "$width $height" ]]; then
        printf 'FAIL %s: the metainfo says %s x %s, the file is "%s"\n' "$name" "$width" "$height" "$size"
        failures=$((failures + 1))
    fi
done < <(sed -n 's|.*<image type="source" width="\([0-9]*\)" height="\([0-9]*\)">.*/\([^/<]*\)</image>.*|\1 \2 \3|p' \
    packaging/desktop/org.quorix.Quorix.metainfo.xml)
[ $seen -gt 0 ] || { echo 'FAIL: the metainfo names no screenshot'; exit 1; }
[ $failures -eq 0 ] || exit 1
