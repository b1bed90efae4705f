#!/bin/sh
# Compression benchmark: stubkit's levels beside gzip, xz and zstd on the PE
# and TEXT corpora, each compressed as one stream, all single-threaded, plus
# stubkit's highest level given here once more on two threads (same output).
# Decompression seconds are the median of DECODE_RUNS runs (7 unless set);
# memory is the compressor's peak resident set (/usr/bin/time).
# Prints a table and writes the figures as JSON.
#   usage: run-bench.sh OUTDIR STUBKIT [LEVELS]
set -eu
out=${1:?usage: run-bench.sh OUTDIR STUBKIT [LEVELS]}
stubkit=${2:?usage: run-bench.sh OUTDIR STUBKIT [LEVELS]}
levels=${3:-1 3 5 7 9 10 11 12}
decode_runs=${DECODE_RUNS:-7}
here=$(cd "$(dirname "$0")" && pwd)

"$here/make-corpora.sh" "$out/corpora"
work="$out/work"
mkdir -p "$work"
json="$out/results.json"

now() { date +%s.%N; }
# seconds between two stamps
elapsed() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", b - a }'; }
mbps() { awk -v bytes="$1" -v s="$2" 'BEGIN { printf "%.1f", (s > 0 ? bytes / 1e6 / s : 0) }'; }

# run_case CORPUS NAME COMPRESS-COMMAND DECOMPRESS-COMMAND
# Each command runs under sh -c with $0 = input file, $1 = compressed file; the
# decompressor writes to stdout. The first decompression is checked against the input.
run_case() {
    corpus=$1 name=$2 compress=$3 decompress=$4
    in="$out/corpora/$corpus"
    packed="$work/$corpus.$(echo "$name" | tr -c 'a-zA-Z0-9\n' '_')"
    size=$(stat -c %s "$in")
    start=$(now); /usr/bin/time -f %M -o "$work/peak" sh -c "$compress" "$in" "$packed"; mid=$(now)
    peak_mb=$(awk 'END { printf "%.0f", $1 / 1024 }' "$work/peak")
    sh -c "$decompress" "$in" "$packed" | cmp -s - "$in" ||
        { echo "bench: $name did not restore $corpus" >&2; exit 1; }
    # A decompression takes a fraction of a second: the median of several
    # runs keeps one scheduling hiccup out of the figure.
    d_times=""
    i=0
    while [ $i -lt "$decode_runs" ]; do
        mid2=$(now); sh -c "$decompress" "$in" "$packed" > /dev/null; end=$(now)
        d_times="$d_times $(elapsed "$mid2" "$end")"
        i=$((i + 1))
    done
    packed_size=$(stat -c %s "$packed")
    c_time=$(elapsed "$start" "$mid")
    d_time=$(echo "$d_times" | tr ' ' '\n' | grep . | sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }')
    ratio=$(awk -v a="$packed_size" -v b="$size" 'BEGIN { printf "%.4f", a / b }')
    printf '%-6s %-28s %12d %12d %7s %9s %9s %8s\n' "$corpus" "$name" "$size" "$packed_size" "$ratio" \
        "$(mbps "$size" "$c_time")" "$(mbps "$size" "$d_time")" "$peak_mb"
    [ -s "$json.tmp" ] && printf ',\n' >> "$json.tmp"
    printf '  {"corpus": "%s", "tool": "%s", "input_bytes": %d, "compressed_bytes": %d, "ratio": %s, "compress_seconds": %s, "decompress_seconds": %s, "compress_mb_per_s": %s, "decompress_mb_per_s": %s, "compress_peak_mb": %s}' \
        "$corpus" "$name" "$size" "$packed_size" "$ratio" "$c_time" "$d_time" \
        "$(mbps "$size" "$c_time")" "$(mbps "$size" "$d_time")" "$peak_mb" >> "$json.tmp"
}

: > "$json.tmp"
printf '%-6s %-28s %12s %12s %7s %9s %9s %8s\n' corpus tool input compressed ratio "comp MB/s" "dec MB/s" "peak MB"
for corpus in pe text; do
    total=$(stat -c %s "$out/corpora/$corpus")
    for level in $levels; do
        run_case "$corpus" "stubkit -$level" \
            "\"$stubkit\" encode -$level -T1 \"\$0\" \"\$1\"" \
            "\"$stubkit\" decode --total $total \"\$1\" /dev/stdout"
    done
    run_case "$corpus" "stubkit -$level -T2" \
        "\"$stubkit\" encode -$level -T2 \"\$0\" \"\$1\"" \
        "\"$stubkit\" decode --total $total \"\$1\" /dev/stdout"
    run_case "$corpus" "gzip -9" "gzip -9 -c \"\$0\" > \"\$1\"" "gzip -d -c \"\$1\""
    run_case "$corpus" "xz -9e -T1" "xz -9e -T1 -c \"\$0\" > \"\$1\"" "xz -d -T1 -c \"\$1\""
    run_case "$corpus" "zstd -19 --long=22 -T1" "zstd -q -19 --long=22 -T1 -c \"\$0\" > \"\$1\"" \
        "zstd -q -d --long=22 -c \"\$1\""
    run_case "$corpus" "zstd --ultra -22 -T1" "zstd -q --ultra -22 -T1 -c \"\$0\" > \"\$1\"" \
        "zstd -q -d --memory=128MB -c \"\$1\""
done
{ echo '['; cat "$json.tmp"; printf '\n]\n'; } > "$json"
rm -f "$json.tmp"
echo "bench: figures written to $json"
