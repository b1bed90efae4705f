#!/bin/sh
# stubkit.exe (under 64-bit Wine) beside the Linux tool.
#   windows_tool_test.sh LINUX_TOOL STUBKIT_EXE HELPER_EXE SOURCE_DIR WIN32_DIR
# Both tools run in one scratch folder with the same relative arguments, so
# their installers, output and exit codes must be the same to the byte. Then
# the rows only Windows has: a junction, a file in use, a long path, folders
# named outside the code page. Run inside `wine-run --arch win64 --session`.
set -u
linux_tool=$1 windows_tool=$2 helper=$3 source_dir=$4 win32_dir=$5
wine=${WINELOADER:-wine}
scratch=$(mktemp -d "${TMPDIR:-/tmp}/stubkit-windows-tool-XXXXXX")
trap 'rm -rf "$scratch"' EXIT
cd "$scratch" || exit 1
failures=0
export SOURCE_DATE_EPOCH=1700000000

fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

linux() { "$linux_tool" "$@"; }
windows() { "$wine" "$windows_tool" "$@"; }

# Runs one command with each tool; exit codes and output (stdout and stderr,
# each in order) must match. Files a command writes are kept as
# linux.<name>/windows.<name> when named by WRITES.
compare() {
    writes=$1; shift
    linux "$@" >linux.stdout 2>linux.stderr; linux_code=$?
    [ -n "$writes" ] && [ -e "$writes" ] && mv "$writes" "linux.$writes"
    windows "$@" >windows.stdout 2>windows.stderr; windows_code=$?
    [ -n "$writes" ] && [ -e "$writes" ] && mv "$writes" "windows.$writes"
    [ "$linux_code" = "$windows_code" ] || fail "$*: exit code $linux_code on Linux, $windows_code on Windows"
    cmp -s linux.stdout windows.stdout || { fail "$*: stdout differs"; diff linux.stdout windows.stdout | head -n 20; }
    cmp -s linux.stderr windows.stderr || { fail "$*: stderr differs"; diff linux.stderr windows.stderr | head -n 20; }
    if [ -n "$writes" ] && [ -e "linux.$writes" ]; then
        if [ -d "linux.$writes" ]; then
            diff -r "linux.$writes" "windows.$writes" >/dev/null || fail "$*: the extracted files differ"
        else
            cmp -s "linux.$writes" "windows.$writes" || fail "$*: $writes differs between the tools"
        fi
    fi
}

# ---- the same installers and the same words -------------------------------------
mkdir -p "demo/product/Demo Hello"
cp -R "$source_dir/examples/demo/product/." demo/product/
cp "$win32_dir/examples/demo/hello/demo-hello.exe" "demo/product/Demo Hello/"
cp "$source_dir/examples/demo/demo.toml" demo/
compare setup.exe build demo/demo.toml -o setup.exe
[ -s linux.setup.exe ] || fail "the demo installer was not built"
cp linux.setup.exe setup.exe
compare "" list setup.exe
compare "" list --json setup.exe
compare "" test setup.exe
compare out extract setup.exe out
compare "" extract setup.exe ""

# Names outside ASCII, packed for Central European Windows.
mkdir -p pl/product/Zdjęcia
printf 'Łódź\r\n' > "pl/product/Łódź.txt"
printf 'x' > "pl/product/Zdjęcia/Kraków.txt"
printf 'title = "Przewodnik"\nsource = "product"\n[[start_menu]]\nlink = "Łódź.lnk"\ntarget = "Łódź.txt"\n' > pl/pl.toml
compare pl.exe build pl/pl.toml -o pl.exe --codepage 1250 -9
cp linux.pl.exe pl.exe
compare "" list --codepage 1250 pl.exe
compare "" test --codepage 1250 pl.exe
compare pl-out extract --codepage 1250 pl.exe pl-out
[ -f "linux.pl-out/Łódź.txt" ] && [ -f "windows.pl-out/Łódź.txt" ] || fail "Łódź.txt was not extracted under its name"
# The same names cannot be written in Western European code page 1252.
compare "" build pl/pl.toml -o pl-1252.exe

for arguments in "--help" "build --help" "list --help" "test --help" "extract --help" "encode --help" \
                 "decode --help" "--version" "frob" "list demo" "list missing.exe" "test --codepage 1253x setup.exe" \
                 "encode -T 0 setup.exe x.bin" "decode --total 12x setup.exe x.bin"; do
    # shellcheck disable=SC2086
    compare "" $arguments
done
printf 'title = ""\nsource = "nowhere"\nfrob = 1\n' > bad.toml
compare bad.exe build bad.toml -o bad.exe

# ---- what only Windows has ----------------------------------------------------------
mkdir -p only/product/real
printf 'kept' > only/product/real/kept.txt
printf 'title = "Only"\nsource = "product"\n' > only/only.toml
# A junction is a link to a folder: skipped, as on Linux, not packed twice.
"$wine" "$helper" junction only/product/junction only/product/real
case $? in
    0) windows build only/only.toml -o only.exe >junction.log 2>&1 || fail "junction: build failed: $(cat junction.log)"
       grep -q "skipped 'junction' (a link to a folder, not followed)" junction.log || fail "junction: not skipped: $(cat junction.log)"
       windows list only.exe | grep -q 'junction' && fail "junction: packed through the junction"
       rm -rf only/product/junction ;;
    2) echo "SKIPPED: junction row (this file system cannot make a junction; Wine 8 cannot)" ;;
    *) fail "junction: the helper could not run" ;;
esac
# A product file another program holds without sharing: the build names it
# and leaves nothing behind.
printf 'busy' > only/product/busy.txt
"$wine" "$helper" hold only/product/busy.txt held.ready 20 &
holder=$!
waited=0
while [ ! -e held.ready ] && [ $waited -lt 200 ]; do sleep 0.1; waited=$((waited + 1)); done
[ -e held.ready ] || fail "in use: the helper did not take the file"
windows build only/only.toml -o busy.exe >busy.log 2>&1 && fail "in use: build succeeded"
grep -q "cannot open 'only.product.busy.txt': " busy.log || fail "in use: $(cat busy.log)"
ls -a | grep -q 'busy.exe' && fail "in use: an installer or temporary file was left: $(ls -a)"
kill "$holder" 2>/dev/null
wait "$holder" 2>/dev/null
rm -f only/product/busy.txt
# A config, product files and an output at paths longer than 260
# characters (the names in the file table stay within its 255 bytes).
long=long/$(printf '%0150d' 0 | tr 0 l)
deep=$(printf '%0100d' 0 | tr 0 d)
mkdir -p "$long/product/$deep"
printf 'deep' > "$long/product/$deep/$(printf '%0080d' 0 | tr 0 f).txt"
printf 'title = "Long"\nsource = "product"\n' > "$long/long.toml"
long_output=$long/$(printf '%0080d' 0 | tr 0 s).exe
windows build "$long/long.toml" -o "$long_output" >long.log 2>&1 || fail "long path: $(cat long.log)"
windows test "$long_output" >/dev/null 2>&1 || fail "long path: the installer does not test"
windows extract "$long_output" "$long/$(printf '%0100d' 0 | tr 0 x)" >/dev/null 2>&1 || fail "long path: extract failed"
[ "$(cat "$long"/x*/d*/f*.txt 2>/dev/null)" = deep ] || fail "long path: the deep file was not extracted"
# A config and an output in a folder whose name code page 1252 cannot write.
greek="Ελληνικά 漢字"
mkdir -p "$greek/product"
printf 'plain' > "$greek/product/plain.txt"
printf 'title = "Plain"\nsource = "product"\n' > "$greek/plain.toml"
linux build "$greek/plain.toml" -o "$greek/plain.exe" >/dev/null 2>&1 && mv "$greek/plain.exe" linux.plain.exe
windows build "$greek/plain.toml" -o "$greek/plain.exe" >greek.log 2>&1 || fail "folder outside the code page: $(cat greek.log)"
cmp -s linux.plain.exe "$greek/plain.exe" || fail "folder outside the code page: the installers differ"
windows list "$greek/plain.exe" 2>&1 | grep -q "^$greek/plain.exe: " || fail "folder outside the code page: list names it otherwise"
# Every path of the command line goes through one UTF-8 conversion: a stub
# and a JSON verdict there too.
cp "$win32_dir/installer/setup-stub.exe" "$greek/stub.exe"
windows test --stub "$greek/stub.exe" "$greek/plain.exe" >greek.log 2>&1 || fail "--stub outside the code page: $(cat greek.log)"
windows extract --stub "$greek/stub.exe" "$greek/plain.exe" "$greek/out" >greek.log 2>&1 || fail "extract --stub outside the code page: $(cat greek.log)"
[ "$(cat "$greek/out/plain.txt" 2>/dev/null)" = plain ] || fail "extract --stub outside the code page wrote nothing"
windows test --json "$greek/plain.exe" >greek.json 2>greek.log || fail "test --json outside the code page: $(cat greek.log)"
grep -q "\"installer\": \"$greek/plain.exe\"" greek.json || fail "test --json names the installer otherwise: $(cat greek.json)"
# Streams through Windows pipes: bytes, not text.
windows list -q - < setup.exe > streamed.txt 2>&1 || fail "list - under Windows: $(cat streamed.txt)"
grep -q "readme.txt" streamed.txt || fail "list - under Windows lists no file: $(cat streamed.txt)"
windows encode -1 - - < setup.exe > streamed.bin 2>streamed.log || fail "encode - -: $(cat streamed.log)"
windows decode --total "$(wc -c < setup.exe)" - - < streamed.bin > unstreamed.exe 2>streamed.log || fail "decode - -: $(cat streamed.log)"
cmp -s setup.exe unstreamed.exe || fail "encode and decode through pipes under Windows change the bytes"

[ $failures -eq 0 ] && echo "stubkit.exe matches the Linux tool"
exit $((failures > 0))
