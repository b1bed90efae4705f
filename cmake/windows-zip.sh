#!/bin/sh
# The release zip of stubkit.exe: the program with the CMake package and the
# CPack module beside it in cmake/ (what `cmake --install` of the Windows
# tool's build puts there), the licence, the README and the manual as text
# (rendered from the page the Linux tool writes, lines ending in CR LF for
# Windows editors).
#   windows-zip.sh WINDOWS_TOOL_BUILD_DIR LINUX_TOOL SOURCE_DIR OUTPUT_ZIP
set -eu
build=$1 linux_tool=$2 source=$3 zip=$4
stage=$(dirname "$zip")/stage
folder=$(basename "$zip" .zip)
rm -rf "$stage" "$zip"
mkdir -p "$stage/$folder"
cmake --install "$build" --prefix "$stage/$folder" >/dev/null
for text in README.md LICENSE; do
    sed 's/$/\r/' "$source/$text" > "$stage/$folder/$text.txt"
done
"$linux_tool" --man-page | MANWIDTH=80 groff -man -Tutf8 -rLL=80n 2>/dev/null | col -bx | sed 's/$/\r/' \
    > "$stage/$folder/stubkit-manual.txt"
[ -s "$stage/$folder/stubkit-manual.txt" ] || { echo "windows-zip: the manual came out empty" >&2; exit 1; }
# Fixed times, so the same sources give the same zip.
stamp=$(date -u -d "@${SOURCE_DATE_EPOCH:-0}" '+%Y-%m-%d %H:%M:%S')
(cd "$stage" && cmake -E tar cf "../$(basename "$zip")" --format=zip --mtime="$stamp UTC" "$folder")
rm -rf "$stage"
echo "package: $zip"
