#!/bin/sh
# Packing-order benchmark: real product trees built from what this machine
# has, each packed by stubkit at -9 and -12 in name order and in the order it
# chooses from the content, beside an NSIS lzma solid installer of the same
# folder and xz -9e of a tar in name order; with the seconds each pack took.
# Prints a table and writes the figures as JSON.
#   translations   /usr/share/locale, links left out
#   documentation  /usr/share/doc, links and names Windows cannot hold left out
#   python         a few standard-library packages with their __pycache__
#   perl           /usr/share/perl/5.36.0 (the TEXT corpus)
#   dll-family     60 DLLs present in both of Wine's i386 and x86-64 folders, as x86/ and x64/
#   pe             the PE corpus's files
#   usage: order-bench.sh OUTDIR STUBKIT
# ORDER_BENCH_PRODUCTS and ORDER_BENCH_LEVELS (default "9 12") narrow a run.
set -eu
out=${1:?usage: order-bench.sh OUTDIR STUBKIT}
stubkit=${2:?usage: order-bench.sh OUTDIR STUBKIT}
products=${ORDER_BENCH_PRODUCTS:-translations documentation python perl dll-family pe}
levels=${ORDER_BENCH_LEVELS:-9 12}
here=$(cd "$(dirname "$0")" && pwd)
command -v makensis > /dev/null || "$here/../cmake/setup.sh"
mkdir -p "$out"
out=$(cd "$out" && pwd)
json="$out/order.json"

now() { date +%s.%N; }
elapsed() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.1f", b - a }'; }

# Only names Windows creates as they stand, each once whatever its letter case.
windows_names() {
    perl -ne 'chomp; my $ok = 1;
        for my $part (split m{/}) {
            $ok = 0 if $part =~ /[<>:"\\|?*\x00-\x1f\x7f]/ || $part =~ /[. ]$/ || $part =~ /~\d/ ||
                       $part =~ /^(con|prn|aux|nul|com\d|lpt\d)(\.|$)/i || $part =~ /[^\x20-\x7e]/;
        }
        $ok = 0 if length > 200 || $seen{lc $_}++;
        print "$_\n" if $ok;'
}

stage() {   # product -> $out/products/<product>/files, real copies in name order
    folder=$out/products/$1
    [ -d "$folder/files" ] && return
    rm -rf "$folder"; mkdir -p "$folder/files"
    case $1 in
        translations) (cd /usr/share/locale && find . -type f | sed 's|^\./||' | LC_ALL=C sort) |
                          (cd /usr/share/locale && tar -cf - -T -) | tar -C "$folder/files" -xf - ;;
        documentation) (cd /usr/share/doc && find . -type f | sed 's|^\./||' | LC_ALL=C sort | windows_names) |
                          (cd /usr/share/doc && tar -cf - -T -) | tar -C "$folder/files" -xf - ;;
        python) (cd /usr/lib/python3.11 && find asyncio email json http urllib logging concurrent -type f |
                          LC_ALL=C sort) | (cd /usr/lib/python3.11 && tar -cf - -T -) | tar -C "$folder/files" -xf - ;;
        perl) cp -R /usr/share/perl/5.36.0/. "$folder/files/" ;;
        dll-family)
            mkdir -p "$folder/files/x86" "$folder/files/x64"
            x86=/usr/lib/i386-linux-gnu/wine/i386-windows x64=/usr/lib/x86_64-linux-gnu/wine/x86_64-windows
            (cd "$x86" && ls -- *.dll) | LC_ALL=C sort | while read -r name; do
                [ -f "$x64/$name" ] && echo "$name"; done | head -n 60 | while read -r name; do
                cp "$x86/$name" "$folder/files/x86/"; cp "$x64/$name" "$folder/files/x64/"; done ;;
        pe) find /usr/lib/i386-linux-gnu/wine/i386-windows -maxdepth 1 -type f -name '[abc]*' -exec cp {} "$folder/files/" \; ;;
    esac
    find "$folder/files" -type l -delete
    printf 'title = "Order bench %s"\nsource = "files"\n' "$1" > "$folder/product.toml"
}

# pack PRODUCT LABEL COMMAND...: runs the command, prints "bytes seconds".
pack() {
    product=$1 label=$2; shift 2
    start=$(now)
    "$@"
    end=$(now)
    echo "$(stat -c %s "$out/products/$product/$label") $(elapsed "$start" "$end")"
}

nsis() {   # product -> the NSIS lzma solid installer
    folder=$out/products/$1
    cat > "$folder/bench.nsi" <<NSI
Unicode false
Name "Order bench $1"
OutFile "nsis-lzma.exe"
SetCompressor /SOLID lzma
RequestExecutionLevel user
InstallDir "C:\\order-bench"
Section
SetOutPath "\$INSTDIR"
File /r "files\\*"
SectionEnd
NSI
    (cd "$folder" && makensis -V1 bench.nsi)
}

: > "$json.tmp"
row() {   # product label bytes seconds name-order-bytes
    versus=$(awk -v a="$3" -v b="$5" 'BEGIN { printf "%.4f", a / b }')
    printf '%-13s %-20s %11d %8s %8s\n' "$1" "$2" "$3" "$versus" "$4"
    [ -s "$json.tmp" ] && printf ',\n' >> "$json.tmp"
    printf '  {"product": "%s", "packer": "%s", "bytes": %d, "vs_name_order": %s, "seconds": %s}' \
        "$1" "$2" "$3" "$versus" "$4" >> "$json.tmp"
}

printf '%-13s %-20s %11s %8s %8s\n' product packer bytes "vs name" seconds
for product in $products; do
    stage "$product"
    folder=$out/products/$product
    files=$(find "$folder/files" -type f | wc -l)
    bytes=$(du -sb "$folder/files" | cut -f1)
    echo "$product: $files files, $bytes bytes"
    for level in $levels; do
        set -- $(pack "$product" "name-$level.exe" "$stubkit" build -q "-$level" --order name "$folder/product.toml" -o "$folder/name-$level.exe")
        name_bytes=$1
        row "$product" "stubkit -$level name" "$1" "$2" "$name_bytes"
        set -- $(pack "$product" "content-$level.exe" "$stubkit" build -q "-$level" --order content "$folder/product.toml" -o "$folder/content-$level.exe")
        row "$product" "stubkit -$level content" "$1" "$2" "$name_bytes"
        [ "$level" = 9 ] && reference=$name_bytes
    done
    reference=${reference:-$name_bytes}
    set -- $(pack "$product" "nsis-lzma.exe" nsis "$product")
    row "$product" "nsis lzma solid" "$1" "$2" "$reference"
    set -- $(pack "$product" "files.tar.xz" sh -c 'cd "$1" && find . -type f | LC_ALL=C sort | tar -cf - -T - | xz -9e -T1 > ../files.tar.xz' sh "$folder/files")
    row "$product" "tar | xz -9e" "$1" "$2" "$reference"
done
{ echo '['; cat "$json.tmp"; printf '\n]\n'; } > "$json"
rm -f "$json.tmp"
echo "order-bench: 'vs name' is the size over stubkit's name order at -9; figures in $json"
