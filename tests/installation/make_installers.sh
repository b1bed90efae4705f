#!/bin/sh
# Builds the installers the installation tests drive, with the real packer:
#   make_installers.sh STUBKIT STUB SOURCE_DIR OUT_DIR DEMO_HELLO_EXE SLEEPER_EXE
# STUB is the freshly built stub, so the installers never lag behind it.
# OUT_DIR/product is the demo product with its program and a sleeper;
# OUT_DIR/*.exe are the installers, one per configuration below.
set -eu
stubkit=$1 stub=$2 source=$3 out=$4 hello=$5 sleeper=$6

rm -rf "$out" && mkdir -p "$out/product/Demo Hello" "$out/product/bin"
cp -R "$source/examples/demo/product/." "$out/product/"
cp "$hello" "$out/product/Demo Hello/demo-hello.exe"
cp "$sleeper" "$out/product/bin/sleeper.exe"

cp "$source/examples/demo/demo.toml" "$out/demo.toml"

# Only files: no shortcuts, nothing to run afterwards.
cat > "$out/plain.toml" <<'TOML'
title = "E2E Plain"
source = "product"
TOML

# A run-after program that runs 3 s, started from a folder with blanks.
cat > "$out/sleeper.toml" <<'TOML'
title = "E2E Sleeper"
source = "product"
run_after_install = "bin/sleeper.exe 3000"
TOML

# A run-after program that does not exist.
cat > "$out/missing.toml" <<'TOML'
title = "E2E Missing"
source = "product"
run_after_install = "bin/missing.exe"
TOML

for name in demo plain sleeper missing; do
    "$stubkit" build "$out/$name.toml" --stub "$stub" -o "$out/$name-setup.exe" >/dev/null
done
