#!/bin/sh
# release_test.sh HOST_BUILD_DIR WIN32_BUILD_DIR VERSION
# Installs the tool three ways (cmake --install with a prefix, with DESTDIR,
# and the Debian package through dpkg into a scratch root) and checks what a
# vendor gets each time: the binary reporting the carried stub's and
# uninstaller's sizes, a manual page that renders without warnings and covers
# every command, bash completion that completes, and a package that only
# needs Debian 12's libc. The packaged binary then builds and tests an
# installer on its own.
set -eu
build=$1 win32=$2 version=$3 source=$(cd "$(dirname "$0")/../.." && pwd)
scratch=$(mktemp -d "${TMPDIR:-/tmp}/stubkit-release-XXXXXX")
trap 'rm -rf "$scratch"' EXIT
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
expect_equal() { [ "$1" = "$2" ] || fail "$3: got '$1', expected '$2'"; }

stub_size=$(stat -c %s "$win32/installer/setup-stub.exe")
uninstaller_size=$(stat -c %s "$win32/uninstall/davirado.exe")

# check_tree ROOT PREFIX: the files an installation must hold, and the tool in it.
check_tree() {
    tool=$1$2/bin/stubkit
    man_page=$1$2/share/man/man1/stubkit.1.gz
    for file in "$tool" "$man_page" "$1$2/share/bash-completion/completions/stubkit" "$1$2/share/doc/stubkit/README.md" \
                "$1$2/share/doc/stubkit/copyright" "$1$2/share/doc/stubkit/changelog.gz" \
                "$1$2/share/cmake/stubkit/stubkitConfig.cmake" "$1$2/share/cmake/stubkit/StubkitCPack.cmake"; do
        [ -f "$file" ] || fail "$file is missing"
    done
    [ -x "$tool" ] || { fail "$tool is not executable"; return; }
    expect_equal "$("$tool" --version | head -n 3)" "stubkit $version
installer stub: $stub_size bytes
uninstaller:    $uninstaller_size bytes (inside the stub)" "$tool --version"
    case $("$tool" --version) in *"zlib License"*) ;; *) fail "$tool --version names no licence" ;; esac
    cmp -s "$1$2/share/doc/stubkit/LICENSE" "$source/LICENSE" || fail "the installed LICENSE is not the repository's"
    grep -q "^License: Zlib" "$1$2/share/doc/stubkit/copyright" || fail "the copyright file names no zlib licence"
    expect_equal "$(zcat "$1$2/share/doc/stubkit/changelog.gz" | head -n 1)" "stubkit ($version) unstable; urgency=medium" \
        "the changelog's latest entry"
    warnings=$(zcat "$man_page" | groff -man -Tutf8 -ww -z 2>&1)
    expect_equal "$warnings" "" "groff warnings for $man_page"
    # Justified lines spread their words: compare with single blanks.
    page=$(zcat "$man_page" | groff -man -Tutf8 -P-cbou 2>/dev/null | tr -s ' ')
    for text in "stubkit build CONFIG [OPTIONS]" "stubkit list SETUP" "stubkit test SETUP" "stubkit extract SETUP DIR [NAME-OR-PATTERN]..." \
                "stubkit encode IN OUT" "stubkit decode" "--sign-pkcs12" "--sign-pass-file" "--require-signature" \
                "--ca-file" "title = \"Korvan Reader\"" "stubkit build product.toml -o product-setup.exe" \
                "EXIT STATUS" "A usage error" "ENVIRONMENT" "SOURCE_DATE_EPOCH" "LIMITS" "at most 16 start_menu"; do
        case $page in *"$text"*) ;; *) fail "the manual page lacks '$text'" ;; esac
    done
}

# completions FILE WORD...: what bash offers for the last word.
completions() {
    bash -c '. "$1"; shift; COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); _stubkit; printf "%s\n" "${COMPREPLY[@]}" | sort' \
        sh "$@" | tr '\n' ' '
}

check_completion() {
    file=$1
    touch "$scratch/vendor.p12" "$scratch/vendor.pem"
    expect_equal "$(completions "$file" stubkit bu)" "build " "stubkit bu<TAB>"
    expect_equal "$(completions "$file" stubkit e)" "encode extract " "stubkit e<TAB>"
    expect_equal "$(completions "$file" stubkit build --sign-p)" "--sign-pass-file --sign-pkcs12 " "build --sign-p<TAB>"
    expect_equal "$(completions "$file" stubkit test -q --re)" "--require-signature " "test -q --re<TAB>"
    expect_equal "$(completions "$file" stubkit build x.toml --sign-pkcs12 "$scratch/vendor.p1")" "$scratch/vendor.p12 " \
        "a file for --sign-pkcs12"
    expect_equal "$(completions "$file" stubkit list "$scratch/vendor.pe")" "$scratch/vendor.pem " "a file for SETUP"
    expect_equal "$(completions "$file" stubkit build x.toml --codepage 125)" "1250 1251 1252 1253 1254 1255 1256 1257 1258 " \
        "code pages for --codepage"
}

# 1. cmake --install with a prefix, and with DESTDIR in front of it.
cmake --install "$build" --prefix "$scratch/prefix" >/dev/null
check_tree "$scratch/prefix" ""
DESTDIR="$scratch/staged" cmake --install "$build" --prefix /opt/stubkit >/dev/null
check_tree "$scratch/staged" /opt/stubkit

# 2. The Debian package: its control fields, its files, then installed by dpkg.
cpack --config "$build/CPackConfig.cmake" -B "$scratch/package" >/dev/null
set -- "$scratch"/package/*.deb
[ $# -eq 1 ] && [ -f "$1" ] || { echo "FAIL: cpack made no single package: $*" >&2; exit 1; }
deb=$1
expect_equal "$(dpkg-deb -f "$deb" Package Version Recommends)" "Package: stubkit
Version: $version
Recommends: osslsigncode" "control fields"
maintainer=$(sed -n 's/^STUBKIT_PACKAGE_MAINTAINER:STRING=//p' "$build/CMakeCache.txt")
expect_equal "$(dpkg-deb -f "$deb" Maintainer)" "$maintainer" "the maintainer from STUBKIT_PACKAGE_MAINTAINER"
case $maintainer in *?" <"*?"@"*?">") ;; *) fail "maintainer '$maintainer' is not 'Name <address>'" ;; esac
libc=$(dpkg-deb -f "$deb" Depends | sed -n 's/^libc6 (>= 2\.\([0-9][0-9]*\))$/\1/p')
[ -n "$libc" ] && [ "$libc" -le 36 ] || fail "Depends must be only a libc6 that Debian 12 (2.36) has: $(dpkg-deb -f "$deb" Depends)"
expect_equal "$(dpkg-deb -c "$deb" | awk '$2 != "root/root"')" "" "files not owned by root"
root=$scratch/root
mkdir -p "$root/var/lib/dpkg/info" "$root/var/lib/dpkg/updates" "$root/var/lib/dpkg/triggers"
touch "$root/var/lib/dpkg/status" "$root/var/lib/dpkg/available"
# libc6 is the host's; the scratch root's empty database does not know it.
dpkg --root="$root" --force-depends --force-not-root --log=/dev/null -i "$deb" >/dev/null 2>&1 || fail "dpkg -i"
check_tree "$root" /usr
check_completion "$root/usr/share/bash-completion/completions/stubkit"
expect_equal "$(readelf -d "$root/usr/bin/stubkit" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p' | grep -v -x -e libc.so.6 -e libm.so.6 -e "ld-linux.*")" "" \
    "libraries beyond libc"

# 3. The packaged tool alone builds and tests an installer with the stub it carries.
mkdir -p "$scratch/product/dist"
printf 'read me\n' > "$scratch/product/dist/readme.txt"
printf 'title = "Release Check"\nsource = "dist"\n' > "$scratch/product/product.toml"
"$root/usr/bin/stubkit" build "$scratch/product/product.toml" -o "$scratch/setup.exe" || fail "build with the packaged tool"
tested=$("$root/usr/bin/stubkit" test "$scratch/setup.exe" 2>&1) || fail "test with the packaged tool: $tested"
expect_equal "$tested" "$scratch/setup.exe: OK, 1 file, 8 bytes: all CRCs match; not signed" "test's verdict"
dpkg --root="$root" --force-not-root --log=/dev/null -r stubkit >/dev/null 2>&1 || fail "dpkg -r"
[ ! -e "$root/usr/bin/stubkit" ] || fail "dpkg -r left the binary behind"

[ "$failures" -eq 0 ] || { echo "$failures check(s) failed" >&2; exit 1; }
echo "release: installed three ways, packaged and run: all checks pass"
