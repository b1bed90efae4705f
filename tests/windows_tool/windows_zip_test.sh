#!/bin/sh
# The Windows zip as a vendor unpacks it: stubkit.exe with the licence, the
# README, the manual and the CMake package beside it, whose imported tool is
# the stubkit.exe of the same folder.
#   windows_zip_test.sh SOURCE_DIR WINDOWS_TOOL_BUILD_DIR LINUX_TOOL
set -eu
source=$1 build=$2 linux_tool=$3
scratch=$(mktemp -d "${TMPDIR:-/tmp}/stubkit-zip-XXXXXX")
trap 'rm -rf "$scratch"' EXIT
zip=$scratch/package/stubkit-test-windows-x64.zip
mkdir -p "$scratch/package"
sh "$source/cmake/windows-zip.sh" "$build" "$linux_tool" "$source" "$zip" >/dev/null
failures=0
contents=$(cd "$scratch" && cmake -E tar tf "$zip")
for file in stubkit.exe LICENSE.txt README.md.txt stubkit-manual.txt cmake/stubkitConfig.cmake \
            cmake/stubkitConfigVersion.cmake cmake/stubkitTargets.cmake cmake/StubkitCPack.cmake \
            cmake/StubkitCPackGenerator.cmake; do
    echo "$contents" | grep -qx "stubkit-test-windows-x64/$file" || { echo "FAIL: the zip lacks $file"; failures=$((failures + 1)); }
done
mkdir "$scratch/unpacked"
(cd "$scratch/unpacked" && cmake -E tar xf "$zip")
folder=$scratch/unpacked/stubkit-test-windows-x64
tr -d '\r' < "$folder/LICENSE.txt" | cmp -s - "$source/LICENSE" || { echo "FAIL: the zip's LICENSE.txt is not LICENSE"; failures=$((failures + 1)); }
# find_package from the unpacked folder names the stubkit.exe beside it.
mkdir "$scratch/probe"
cat > "$scratch/probe/CMakeLists.txt" <<'PROBE'
cmake_minimum_required(VERSION 3.20)
project(probe NONE)
find_package(stubkit REQUIRED)
get_target_property(tool stubkit::stubkit IMPORTED_LOCATION_RELEASE)
if(NOT tool)
    get_target_property(tool stubkit::stubkit IMPORTED_LOCATION_NOCONFIG)
endif()
cmake_path(NORMAL_PATH tool)
message(STATUS "stubkit tool: ${tool}")
PROBE
found=$(cmake -S "$scratch/probe" -B "$scratch/probe/build" -Dstubkit_DIR="$folder/cmake" 2>&1) ||
    { echo "FAIL: find_package(stubkit) in the zip: $found"; exit 1; }
case $found in
*"stubkit tool: $folder/stubkit.exe"*) ;;
*) echo "FAIL: the zip's package names another tool: $found"; failures=$((failures + 1)) ;;
esac
[ "$failures" -eq 0 ] && echo "the Windows zip holds the tool, its licence and its CMake package"
exit $((failures > 0))
