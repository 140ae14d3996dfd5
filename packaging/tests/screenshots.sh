#!/usr/bin/env bash
# The metainfo states each screenshot's size; it must be that of the picture it names in
# docs/screenshots/ (gui/tools/screenshots.sh takes them anew). Usage: screenshots.sh SOURCE_DIR
cd "${1:?usage: screenshots.sh SOURCE_DIR}" || exit 2
pairs=$(sed -n 's|.*<image type="source" width="\([0-9]*\)" height="\([0-9]*\)">.*/\([^/<]*\)</image>.*|\3 \1 \2|p' \
    packaging/desktop/org.quorix.Quorix.metainfo.xml)
[ -n "$pairs" ] || { echo "FAIL: the metainfo names no screenshot"; exit 1; }
while read -r name width height; do
    # A PNG's width and height are the big-endian words at bytes 16 to 23.
    size=$(od -An -tu1 -j16 -N8 "docs/screenshots/$name" | awk '{ print $3 * 256 + $4, $7 * 256 + $8 }')
    [ "$size" = "$width $height" ] || { echo "FAIL $name: the metainfo says $width x $height, the file $size"; exit 1; }
done <<<"$pairs"
