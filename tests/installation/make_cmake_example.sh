#!/bin/sh
# The CMake example as a vendor's CI runs it, for the installation test:
#   make_cmake_example.sh HOST_BUILD_DIR SOURCE_DIR OUT_DIR
# Installs the tool with its CMake package from the host build tree, then
# configures examples/cmake for Windows with the project's mingw toolchain,
# builds it, packs it with `cpack -G External` and checks the installer with
# `stubkit test`; the target stubkit_add_installer() made packs it too. The
# installer is left as OUT_DIR/cmake-example-setup.exe for the Wine side.
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
cp "$installer" "$out/cmake-example-setup.exe"
