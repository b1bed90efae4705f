#!/bin/sh
# Install-time benchmark: full installations of the PE and TEXT corpora under
# Wine, by stubkit's installers at -9 and -12 (driven through its boxes by install-timer: the
# seconds from the folder dialog's OK to "Installation Complete.") and by NSIS
# installers of the same files (lzma solid, zlib, bzip2; run silently with /S
# and /D=, start to end). Every run installs into a folder of its own, with
# one warm wineserver for all runs; the median of RUNS runs is reported with
# the fastest and slowest as the noise. Prints a table and writes JSON.
# STUB is the installer stub to pack with (the freshly built one, so the figures
# never lag behind it).
#   usage: install-bench.sh OUTDIR STUBKIT TIMER STUB [RUNS]
# While developing, INSTALL_BENCH_CORPORA (e.g. "text") and
# INSTALL_BENCH_INSTALLERS (e.g. "stubkit") narrow the run; reported figures
# come from the full run.
set -eu
out=${1:?usage: install-bench.sh OUTDIR STUBKIT TIMER STUB [RUNS]}
stubkit=${2:?} timer=${3:?} stub=${4:?}
runs=${5:-5}
here=$(cd "$(dirname "$0")" && pwd)
mkdir -p "$out"
out=$(cd "$out" && pwd)

# The peer comes from Debian's package; the project installs what it needs.
command -v makensis > /dev/null || "$here/../cmake/setup.sh"

if [ -z "${STUBKIT_WINE_SESSION:-}" ]; then
    exec "$here/../cmake/wine-run" --wine-dir "$here/../build/win32/wine" --session \
        "$0" "$out" "$stubkit" "$timer" "$stub" "$runs"
fi

. "$here/corpus-files.sh"
json="$out/install.json"
targets="$out/targets"

windows_path() { printf 'Z:%s' "$1" | tr / '\\'; }

stage_corpus() {   # corpus -> $out/stage/files, real copies (makensis packs no links)
    rm -rf "$out/stage"; mkdir -p "$out/stage/files"
    list_files "$1" | tar -C "$(base_of "$1")" -chf - -T - | tar -C "$out/stage/files" -xf -
}

build_stubkit() {   # corpus, installer, level
    printf 'title = "Install bench %s"\nsource = "files"\n' "$1" > "$out/stage/bench.toml"
    "$stubkit" build "$out/stage/bench.toml" --stub "$stub" -o "$2" "$3" -q
}

build_nsis() {   # corpus, compressor line, installer
    cat > "$out/stage/bench.nsi" <<NSI
Unicode false
Name "Install bench $1"
OutFile "$3"
SetCompressor $2
RequestExecutionLevel user
InstallDir "C:\\install-bench"
Section
SetOutPath "\$INSTDIR"
File /r "files\\*"
WriteUninstaller "\$INSTDIR\\uninstall.exe"
WriteRegStr HKLM "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Install bench $1" "DisplayName" "Install bench $1"
WriteRegStr HKLM "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Install bench $1" "UninstallString" '"\$INSTDIR\\uninstall.exe"'
SectionEnd
Section "Uninstall"
RMDir /r "\$INSTDIR"
DeleteRegKey HKLM "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Install bench $1"
SectionEnd
NSI
    (cd "$out/stage" && makensis -V1 bench.nsi)
}

# One installation into a folder not used before; prints its seconds. No
# earlier run's files are removed before it: removing a thousand files costs
# this disk work that lands inside whatever runs next, so the folders are
# removed together once a corpus is done, and everything is synced first.
install_once() {   # kind, installer, run number
    target="$targets/$(basename "$2" .exe)-$3"
    sync
    case $1 in
        stubkit) wine "$timer" drive "$(windows_path "$2")" "$(windows_path "$target")" ;;
        nsis) wine "$timer" silent "\"$(windows_path "$2")\" /S /D=$(windows_path "$target")" ;;
    esac | tr -d '\r'
}

check_installed() {   # corpus, name
    list_files "$1" | (cd "$(base_of "$1")" && xargs -d '\n' md5sum) | fold_case > "$out/expected.sums"
    (cd "$targets/$1-$2-warm" && find . -type f ! -name davirado.dat ! -name davirado.exe ! -name uninstall.exe |
        sed 's|^\./||' | xargs -d '\n' md5sum) | fold_case > "$out/installed.sums"
    cmp -s "$out/expected.sums" "$out/installed.sums" ||
        { echo "install-bench: $2 installed $1 differently" >&2; exit 1; }
}

median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

: > "$json.tmp"
printf '%-6s %-22s %10s %8s %8s %8s %8s\n' corpus installer bytes "vs lzma" median fastest slowest
for corpus in ${INSTALL_BENCH_CORPORA:-pe text}; do
    stage_corpus "$corpus"
    rm -rf "$targets"; mkdir -p "$targets"
    build_stubkit "$corpus" "$out/$corpus-stubkit.exe" -9
    case " ${INSTALL_BENCH_INSTALLERS:-stubkit-12} " in
        *" stubkit-12 "*) build_stubkit "$corpus" "$out/$corpus-stubkit-12.exe" -12 ;;
    esac
    for compressor in lzma zlib bzip2; do
        case " ${INSTALL_BENCH_INSTALLERS:-stubkit nsis-lzma nsis-zlib nsis-bzip2} " in
            *" nsis-$compressor "*) ;;
            *) continue ;;
        esac
        solid=""; [ "$compressor" = lzma ] && solid="/SOLID "
        build_nsis "$corpus" "$solid$compressor" "$out/$corpus-nsis-$compressor.exe"
    done
    lzma_size=$(stat -c %s "$out/$corpus-nsis-lzma.exe" 2>/dev/null || stat -c %s "$out/$corpus-stubkit.exe")
    for name in ${INSTALL_BENCH_INSTALLERS:-stubkit stubkit-12 nsis-lzma nsis-zlib nsis-bzip2}; do
        installer="$out/$corpus-$name.exe"
        kind=${name%%-*}
        install_once "$kind" "$installer" warm > /dev/null   # warms the caches, then checked
        check_installed "$corpus" "$name"
        times=""
        i=0
        while [ $i -lt "$runs" ]; do
            times="$times $(install_once "$kind" "$installer" $i)"
            i=$((i + 1))
        done
        size=$(stat -c %s "$installer")
        mid=$(echo "$times" | tr ' ' '\n' | grep . | median)
        fastest=$(echo "$times" | tr ' ' '\n' | grep . | sort -n | head -1)
        slowest=$(echo "$times" | tr ' ' '\n' | grep . | sort -n | tail -1)
        versus=$(awk -v a="$size" -v b="$lzma_size" 'BEGIN { printf "%+.1f%%", (a - b) * 100 / b }')
        label=$name; [ "$name" = nsis-lzma ] && label="nsis-lzma-solid"; [ "$name" = stubkit-12 ] && label="stubkit -12"
        printf '%-6s %-22s %10d %8s %8.3f %8.3f %8.3f\n' "$corpus" "$label" "$size" "$versus" "$mid" "$fastest" "$slowest"
        [ -s "$json.tmp" ] && printf ',\n' >> "$json.tmp"
        printf '  {"corpus": "%s", "installer": "%s", "bytes": %d, "bytes_vs_nsis_lzma": "%s", "median_seconds": %s, "fastest_seconds": %s, "slowest_seconds": %s, "runs": [%s]}' \
            "$corpus" "$label" "$size" "$versus" "$mid" "$fastest" "$slowest" \
            "$(echo "$times" | sed 's/^ //; s/ /, /g')" >> "$json.tmp"
    done
    rm -rf "$targets" "$out/stage"
    sync
done
{ echo '['; cat "$json.tmp"; printf '\n]\n'; } > "$json"
rm -f "$json.tmp"
echo "install-bench: stubkit timed from the folder dialog's OK to \"Installation Complete.\";" \
    "NSIS from start to end with /S; median of $runs runs; figures in $json"
