#!/bin/sh
# Materialises the two benchmark corpora as single files: every file of the
# source set concatenated in sorted path order.
#   PE:   /usr/lib/i386-linux-gnu/wine/i386-windows/ files starting with a, b or c
#   TEXT: every file under /usr/share/perl/5.36.0
set -eu
out=${1:?usage: make-corpora.sh OUTDIR}
mkdir -p "$out"

pe_dir=/usr/lib/i386-linux-gnu/wine/i386-windows
text_dir=/usr/share/perl/5.36.0
for dir in "$pe_dir" "$text_dir"; do
    [ -d "$dir" ] || { echo "make-corpora: missing $dir (run make setup)" >&2; exit 1; }
done

build() {   # name, then the file list on stdin
    tmp="$out/$1.tmp"
    : > "$tmp"
    while IFS= read -r file; do cat "$file" >> "$tmp"; done
    mv "$tmp" "$out/$1"
}

[ -f "$out/pe" ] || find "$pe_dir" -maxdepth 1 -type f -name '[abc]*' | LC_ALL=C sort | build pe
[ -f "$out/text" ] || find "$text_dir" -type f | LC_ALL=C sort | build text
ls -l "$out/pe" "$out/text" | awk '{ printf "corpus %-40s %10d bytes\n", $9, $5 }'
