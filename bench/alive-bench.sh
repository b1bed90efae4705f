#!/bin/sh
# Liveness during a big installation: a product of 200 MB (20 files of
# 10 MiB that do not compress, the fastest to decode and the most to write)
# installed under Wine by stubkit's installer, while install-timer's probe
# sends the setup window WM_NULL every 200 ms with a 1 s timeout, as the
# system's hung-window check does. Prints the sends, those left unanswered
# and the slowest answer, and writes JSON.
#   usage: alive-bench.sh OUTDIR STUBKIT TIMER STUB
set -eu
out=${1:?usage: alive-bench.sh OUTDIR STUBKIT TIMER STUB}
stubkit=${2:?} timer=${3:?} stub=${4:?}
here=$(cd "$(dirname "$0")" && pwd)
mkdir -p "$out"
out=$(cd "$out" && pwd)

if [ -z "${STUBKIT_WINE_SESSION:-}" ]; then
    exec "$here/../cmake/wine-run" --wine-dir "$here/../build/win32/wine" --session \
        "$0" "$out" "$stubkit" "$timer" "$stub"
fi

windows_path() { printf 'Z:%s' "$1" | tr / '\\'; }

product="$out/product"
if [ ! -f "$product/part-20.bin" ]; then
    rm -rf "$product"; mkdir -p "$product"
    for i in $(seq 1 20); do
        perl -e 'srand($ARGV[0]); print pack("L*", map { int(rand(2**32)) } 1 .. 2621440)' "$i" \
            > "$product/part-$i.bin"
    done
fi
printf 'title = "Alive bench"\nsource = "product"\n' > "$out/alive.toml"
"$stubkit" build -1 "$out/alive.toml" --stub "$stub" -o "$out/alive-setup.exe" -q

target="$out/target"
rm -rf "$target"
sync
set -- $(wine "$timer" probe "$(windows_path "$out/alive-setup.exe")" "$(windows_path "$target")" | tr -d '\r')
rm -rf "$target"
printf '%-28s %8s %6s %11s %12s\n' installation seconds sends unanswered "slowest ms"
printf '%-28s %8s %6s %11s %12s\n' "stubkit, 200 MB in 20 files" "$1" "$2" "$3" "$4"
printf '{"bytes": %d, "seconds": %s, "sends": %s, "unanswered": %s, "slowest_ms": %s}\n' \
    "$(du -cb "$product"/* | tail -1 | cut -f1)" "$1" "$2" "$3" "$4" > "$out/alive.json"
echo "alive-bench: WM_NULL every 200 ms, 1 s timeout, from the folder dialog's OK to \"Installation Complete.\";" \
    "figures in $out/alive.json"
