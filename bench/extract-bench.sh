#!/bin/sh
# Extraction benchmark: MB/s of the installer's own extraction under Wine for
# the PE and TEXT corpora, each packed as its files into an installer made
# from extract-probe.exe, extracted into a fresh folder with the buffered
# reader and with one ReadFile per read; beside `stubkit extract` of the same
# installer on the host (or, while that command is missing, `stubkit decode`
# of the same stream). Prints a table and writes the figures as JSON.
#   usage: extract-bench.sh OUTDIR STUBKIT PACKER PROBE [LEVEL]
set -eu
out=${1:?usage: extract-bench.sh OUTDIR STUBKIT PACKER PROBE [LEVEL]}
stubkit=${2:?} packer=${3:?} probe=${4:?}
level=${5:-9}
here=$(cd "$(dirname "$0")" && pwd)
mkdir -p "$out"
out=$(cd "$out" && pwd)

# One Wine session for every run: a warm wineserver, so start-up stays small.
if [ -z "${STUBKIT_WINE_SESSION:-}" ]; then
    exec "$here/../cmake/wine-run" --wine-dir "$here/../build/win32/wine" --session \
        "$0" "$out" "$stubkit" "$packer" "$probe" "$level"
fi

pe_dir=/usr/lib/i386-linux-gnu/wine/i386-windows
text_dir=/usr/share/perl/5.36.0
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

list_files() {   # corpus -> relative paths, sorted
    case $1 in
        pe) (cd "$pe_dir" && find . -maxdepth 1 -type f -name '[abc]*') ;;
        text) (cd "$text_dir" && find . -type f) ;;
    esac | sed 's|^\./||' | LC_ALL=C sort
}

fold_case() { tr 'A-Z' 'a-z' | LC_ALL=C sort; }
base_of() { [ "$1" = pe ] && echo "$pe_dir" || echo "$text_dir"; }

# Start-up of a probe with an empty payload: subtracted from every Wine run,
# so the figures are the extraction's own.
empty="$out/empty-setup.exe"
printf '' | "$packer" "$probe" /nonexistent "$level" "$empty" > /dev/null
startup=$(best_of 5 "$out/target" wine "$empty" "$(windows_path "$out/target")")

has_extract=0
"$stubkit" --help 2>/dev/null | grep -q "^ *extract " && has_extract=1

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
    summary=$(list_files "$corpus" | "$packer" "$probe" "$(base_of "$corpus")" "$level" "$setup")
    bytes=$(echo "$summary" | awk '{ print $4 }')
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
    if [ "$has_extract" = 1 ]; then
        host=$(best_of $runs "$target" "$stubkit" extract "$setup" "$target")
        report "$corpus" "stubkit extract (host)" "$bytes" "$host"
    else
        stream="$out/$corpus.stream"
        stub_and_head=$(echo "$summary" | awk '{ print $6 + 12 + $8 }')
        tail -c +$((stub_and_head + 1)) "$setup" > "$stream"
        host=$(best_of $runs "$target" "$stubkit" decode --total "$bytes" "$stream" /dev/null)
        report "$corpus" "stubkit decode of the stream (host)" "$bytes" "$host"
    fi
    rm -rf "$target"
done
{ echo '['; cat "$json.tmp"; printf '\n]\n'; } > "$json"
rm -f "$json.tmp"
echo "extract-bench: Wine start-up of ${startup} s subtracted; level -$level; figures in $json"
[ "$has_extract" = 1 ] || echo "extract-bench: stubkit has no extract command yet; its decode stands in"
