#!/bin/sh
# The CMake example as a vendor's CI runs it, for the installation test:
#   make_cmake_example.sh HOST_BUILD_DIR SOURCE_DIR OUT_DIR
# Installs the tool with its CMake package from the host build tree, then
# configures examples/cmake for Windows with the project's mingw toolchain,
# builds it, packs it with `cpack -G External` and checks the installer with
# `stubkit test` and `stubkit list`; the target stubkit_add_installer() made
# packs it too. Then packed again with the remaining variables set (signed),
# and with a code page stubkit refuses, which fails cpack in stubkit's own
# words. The installer is left as OUT_DIR/cmake-example-setup.exe for the
# Wine side.
set -eu
host=$1 source=$2 out=$3
prefix=$out/stubkit-prefix build=$out/build
rm -rf "$prefix" "$build" "$out/cmake-example-setup.exe"
mkdir -p "$out"
cmake --install "$host" --prefix "$prefix" >/dev/null
cmake -S "$source/examples/cmake" -B "$build" --toolchain "$source/cmake/mingw-i686.cmake" \
    -DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_BUILD_TYPE=MinSizeRel >/dev/null
cmake --build "$build" >/dev/null
(cd "$build" && cpack -G External >/dev/null)
installer=$build/stubkit-hello-1.0.0-win32.exe
"$prefix/bin/stubkit" test "$installer"
cmake --build "$build" --target hello-setup >/dev/null
"$prefix/bin/stubkit" test "$build/hello-setup.exe"
case $("$prefix/bin/stubkit" list "$build/hello-setup.exe") in
*"Title            'Stubkit Hello 1.0.0'"*) ;;
*) echo "FAIL: stubkit_add_installer() gave the config no \${VERSION}"; exit 1 ;;
esac

# What the CPACK_* and STUBKIT_* variables asked for, as the installer holds it.
listing=$("$prefix/bin/stubkit" list "$installer")
for expected in "Title            'Stubkit Hello'" "DefaultFolder    'Stubkit Hello'" \
                "ProgramGroup     'Stubkit Examples'" "StartMenu        'Hello.lnk' -> 'bin\\hello.exe'" \
                "'Uninstall Stubkit Hello.lnk' -> 'davirado.exe'" "Desktop          'Hello.lnk' -> 'bin\\hello.exe'" \
                "  README.txt" "  bin\\hello.exe"; do
    case $listing in *"$expected"*) ;; *) echo "FAIL: the installer's listing lacks $expected:"; echo "$listing"; exit 1 ;; esac
done
cp "$installer" "$out/cmake-example-setup.exe"

# The other variables: a display name, a program to run, a code page and a
# signing key reach the installer too.
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=Hello -keyout "$out/key.pem" -out "$out/cert.pem" 2>/dev/null
cmake "-DCPACK_NSIS_DISPLAY_NAME=Hello Display" "-DSTUBKIT_RUN_AFTER_INSTALL=bin/hello.exe --greet \${VERSION}" -DSTUBKIT_CODEPAGE=1250 \
    "-DSTUBKIT_SIGN_CERT=$out/cert.pem" "-DSTUBKIT_SIGN_KEY=$out/key.pem" -DSTUBKIT_SIGN_NAME=Hello "$build" >/dev/null
(cd "$build" && cpack -G External >/dev/null)
"$prefix/bin/stubkit" test --require-signature --ca-file "$out/cert.pem" "$installer"
listing=$("$prefix/bin/stubkit" list --codepage 1250 "$installer")
for expected in "Title            'Hello Display'" "RunAfterInstall  'bin\\hello.exe --greet 1.0.0'" \
                "'Uninstall Hello Display.lnk' -> 'davirado.exe'" "Signature        signed by /CN=Hello"; do
    case $listing in *"$expected"*) ;; *) echo "FAIL: the signed installer's listing lacks $expected:"; echo "$listing"; exit 1 ;; esac
done

# stubkit's own complaint reaches cpack's output word for word, and cpack fails.
cmake -DSTUBKIT_CODEPAGE=437 "$build" >/dev/null
if failed=$(cd "$build" && cpack -G External 2>&1); then
    echo "FAIL: cpack succeeded with code page 437"; exit 1
fi
case $failed in
*"--codepage: code page '437' is not a Windows ANSI code page; use one of 874, 932, 936, 949, 950, 1250 to 1258"*) ;;
*) echo "FAIL: cpack's output lacks stubkit's message:"; echo "$failed"; exit 1 ;;
esac
echo "cmake example: configured, built, packed, tested and listed"
