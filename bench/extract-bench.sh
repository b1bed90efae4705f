#!/bin/sh
# Extraction benchmark: MB/s of the installer's own extraction under Wine for
# the PE and TEXT corpora, each packed by `stubkit build --stub` into an
# installer made from extract-probe.exe, extracted into a fresh folder with the
# buffered reader and with one ReadFile per read; beside `stubkit extract` of
# the same installer on the host. Prints a table and writes the figures as JSON.
#   usage: extract-bench.sh OUTDIR STUBKIT PROBE [LEVEL]
set -eu
out=${1:?usage: extract-bench.sh OUTDIR STUBKIT PROBE [LEVEL]}
stubkit=${2:?} probe=${3:?}
level=${4:-9}
here=$(cd "$(dirname "$0")" && pwd)
mkdir -p "$out"
out=$(cd "$out" && pwd)

# One Wine session for every run: a warm wineserver, so start-up stays small.
if [ -z "${STUBKIT_WINE_SESSION:-}" ]; then
    exec "$here/../cmake/wine-run" --wine-dir "$here/../build/win32/wine" --session \
        "$0" "$out" "$stubkit" "$probe" "$level"
fi

. "$here/corpus-files.sh"
json="$out/extract.json"
runs=3

now() { date +%s.%N; }
windows_path() { printf 'Z:%s' "$1" | tr / '\\'; }
mbps() { awk -v bytes="$1" -v s="$2" 'BEGIN { printf "%.1f", (s > 0 ? bytes / 1e6 / s : 0) }'; }

# Seconds of the fastest of N runs of a command, each into a fresh folder.
best_of() {
    count=$1 dir=$2; shift 2
    best=""
    i=0
    while [ $i -lt "$count" ]; do
        rm -rf "$dir"; mkdir -p "$dir"
        start=$(now); "$@" > /dev/null; end=$(now)
        took=$(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.3f", b - a }')
        best=$(awk -v a="$best" -v b="$took" 'BEGIN { print (a == "" || b < a) ? b : a }')
        i=$((i + 1))
    done
    echo "$best"
}



# Packs the files named on stdin (relative to BASE) as they are, through a
# staging folder of links: stubkit build CONFIG --stub PROBE -o OUT.
pack() {   # base, out
    stage="$out/stage"
    rm -rf "$stage"; mkdir -p "$stage/files"
    while IFS= read -r name; do
        mkdir -p "$stage/files/$(dirname "$name")"
        ln -s "$1/$name" "$stage/files/$name"
    done
    printf 'title = "Extraction benchmark"\nsource = "files"\n' > "$stage/bench.toml"
    "$stubkit" build "$stage/bench.toml" --stub "$probe" --follow-symlinks -o "$2" "-$level" -q
    rm -rf "$stage"
}

# Start-up of a probe with one empty file packed: subtracted from every Wine
# run, so the figures are the extraction's own.
empty="$out/empty-setup.exe"
: > "$out/empty"
echo empty | pack "$out" "$empty"
startup=$(best_of 5 "$out/target" wine "$empty" "$(windows_path "$out/target")")

: > "$json.tmp"
printf '%-6s %-42s %12s %9s %9s\n' corpus run bytes seconds "MB/s"
report() {   # corpus, run, bytes, seconds
    printf '%-6s %-42s %12d %9s %9s\n' "$1" "$2" "$3" "$4" "$(mbps "$3" "$4")"
    [ -s "$json.tmp" ] && printf ',\n' >> "$json.tmp"
    printf '  {"corpus": "%s", "run": "%s", "bytes": %d, "seconds": %s, "mb_per_s": %s}' \
        "$1" "$2" "$3" "$4" "$(mbps "$3" "$4")" >> "$json.tmp"
}
net() { awk -v a="$1" -v b="$startup" 'BEGIN { printf "%.3f", a - b }'; }

for corpus in pe text; do
    setup="$out/$corpus-setup.exe"
    target="$out/target"
    list_files "$corpus" | pack "$(base_of "$corpus")" "$setup"
    bytes=$(list_files "$corpus" | (cd "$(base_of "$corpus")" && xargs -d '\n' stat -L -c %s) |
        awk '{ total += $1 } END { print total }')
    buffered=$(best_of $runs "$target" wine "$setup" "$(windows_path "$target")")
    # Windows folds names that differ only in case ("Pod" and "pod") into one
    # folder, so paths are compared without case.
    list_files "$corpus" | (cd "$(base_of "$corpus")" && xargs -d '\n' md5sum) | fold_case > "$out/expected.sums"
    (cd "$target" && find . -type f ! -name davirado.dat | sed 's|^\./||' | xargs -d '\n' md5sum) |
        fold_case > "$out/extracted.sums"
    cmp -s "$out/expected.sums" "$out/extracted.sums" ||
        { echo "extract-bench: $corpus extracted differs from its files" >&2; exit 1; }
    report "$corpus" "installer under Wine, buffered reader" "$bytes" "$(net "$buffered")"
    unbuffered=$(best_of 1 "$target" wine "$setup" "$(windows_path "$target")" unbuffered)
    report "$corpus" "installer under Wine, one ReadFile per byte" "$bytes" "$(net "$unbuffered")"
    host=$(best_of $runs "$target" "$stubkit" extract -q "$setup" "$target")
    report "$corpus" "stubkit extract (host)" "$bytes" "$host"
    rm -rf "$target"
done
{ echo '['; cat "$json.tmp"; printf '\n]\n'; } > "$json"
rm -f "$json.tmp"
echo "extract-bench: Wine start-up of ${startup} s subtracted; level -$level; figures in $json"
