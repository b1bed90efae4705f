#!/bin/sh
# How an installation's time grows with its file count: products of 1,000,
# 10,000 and 50,000 small files (100 to a folder, 200 to 900 bytes each)
# installed under Wine by the real stub, timed by install-timer from the
# folder dialog's OK to "Installation Complete."; the seconds per file beside
# those of the smallest product. Prints a table and writes JSON.
#   usage: file-count-bench.sh OUTDIR STUBKIT TIMER STUB
# FILE_COUNT_BENCH_COUNTS (default "1000 10000 50000") narrows a run.
set -eu
out=${1:?usage: file-count-bench.sh OUTDIR STUBKIT TIMER STUB}
stubkit=${2:?} timer=${3:?} stub=${4:?}
here=$(cd "$(dirname "$0")" && pwd)
mkdir -p "$out"
out=$(cd "$out" && pwd)
if [ -z "${STUBKIT_WINE_SESSION:-}" ]; then
    exec "$here/../cmake/wine-run" --wine-dir "$here/../build/win32/wine" --session "$0" "$out" "$stubkit" "$timer" "$stub"
fi
windows_path() { printf 'Z:%s' "$1" | tr / '\\'; }
json=$out/file-count.json
: > "$json.tmp"
printf '%8s %12s %10s %14s %8s\n' files bytes seconds "ms per file" "vs 1000"
base=""
for count in ${FILE_COUNT_BENCH_COUNTS:-1000 10000 50000}; do
    product=$out/product-$count
    rm -rf "$product" "$out/targets"; mkdir -p "$product/files" "$out/targets"
    perl -e 'my ($dir, $count) = @ARGV; srand(7);
        for my $i (0 .. $count - 1) { my $folder = sprintf("%s/f%03d", $dir, $i / 100); mkdir $folder;
            open(my $f, ">", sprintf("%s/file%05d.txt", $folder, $i)) or die;
            print $f join(" ", map { int(rand(100000)) } 1 .. 30 + int(rand(120))), "\n"; }' "$product/files" "$count"
    printf 'title = "File count bench %s"\nsource = "files"\n' "$count" > "$product/product.toml"
    "$stubkit" build -q -9 "$product/product.toml" --stub "$stub" -o "$product/setup.exe"
    sync
    seconds=$(wine "$timer" drive "$(windows_path "$product/setup.exe")" "$(windows_path "$out/targets/t")" | tr -d '\r')
    installed=$(find "$out/targets/t" -type f -name 'file*.txt' | wc -l)
    [ "$installed" -eq "$count" ] || { echo "file-count-bench: $installed of $count files installed" >&2; exit 1; }
    per_file=$(awk -v s="$seconds" -v n="$count" 'BEGIN { printf "%.3f", s * 1000 / n }')
    base=${base:-$per_file}
    ratio=$(awk -v a="$per_file" -v b="$base" 'BEGIN { printf "%.2f", a / b }')
    printf '%8d %12d %10.2f %14s %8s\n' "$count" "$(du -sb "$product/files" | cut -f1)" "$seconds" "$per_file" "$ratio"
    [ -s "$json.tmp" ] && printf ',\n' >> "$json.tmp"
    printf '  {"files": %d, "seconds": %s, "ms_per_file": %s, "per_file_vs_smallest": %s}' \
        "$count" "$seconds" "$per_file" "$ratio" >> "$json.tmp"
    rm -rf "$product" "$out/targets"
done
{ echo '['; cat "$json.tmp"; printf '\n]\n'; } > "$json"
rm -f "$json.tmp"
echo "file-count-bench: figures in $json"
