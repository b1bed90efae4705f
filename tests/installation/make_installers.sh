#!/bin/sh
# Builds the installers the installation tests drive, with the real packer:
#   make_installers.sh STUBKIT STUB SOURCE_DIR OUT_DIR DEMO_HELLO_EXE SLEEPER_EXE
# STUB is the freshly built stub, so the installers never lag behind it.
# OUT_DIR/product is the demo product with its program and a sleeper;
# OUT_DIR/*.exe are the installers, one per configuration below. The damage
# suite's products lie beside it (damage, full-disk, table).
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

# A run-after program without arguments.
cat > "$out/quiet.toml" <<'TOML'
title = "E2E Quiet"
source = "product"
run_after_install = "bin/sleeper.exe"
TOML

# A run-after "program" that the system cannot start: a packed text file.
cat > "$out/missing.toml" <<'TOML'
title = "E2E Missing"
source = "product"
run_after_install = "readme.txt"
TOML

for name in demo plain sleeper quiet missing; do
    # The 100,000 files of the table at the fastest level: the time goes to the install.
    level=-9; [ "$name" = table ] && level=-1
    "$stubkit" build $level "$out/$name.toml" --stub "$stub" -o "$out/$name-setup.exe" >/dev/null
done

# A small product for the damage sweeps: text, an empty file and a program,
# so cuts and flips land in every kind of data without making a sweep long.
mkdir -p "$out/damage/docs" "$out/damage/Demo Hello"
cp "$source/examples/demo/product/readme.txt" "$out/damage/"
cp "$source/examples/demo/product/docs/User Guide.txt" "$out/damage/docs/"
: > "$out/damage/docs/empty.txt"
cp "$hello" "$out/damage/Demo Hello/demo-hello.exe"
cat > "$out/damage.toml" <<'TOML'
title = "E2E Damage"
source = "damage"
TOML

# A small file, then one of 1.5 MiB that cannot be compressed; it comes last
# in the table, so a write it loses can only show in the final count.
mkdir -p "$out/full-disk"
echo "first" > "$out/full-disk/a first.txt"
perl -e 'srand(16); print pack("L*", map { int(rand(2**32)) } 1 .. 393216)' > "$out/full-disk/z big.bin"
cat > "$out/full-disk.toml" <<'TOML'
title = "E2E Full Disk"
source = "full-disk"
TOML

# 100,000 one-byte files in 100 folders, their names (folder included) 135
# characters long for the first 77,216 and 134 for the rest: records of 33
# bytes and the name make a file table of exactly 16,777,216 bytes, the most
# the installer holds.
rm -rf "$out/table"
mkdir -p "$out/table"
perl -e 'for my $d (0 .. 99) { mkdir sprintf("%s/d%02d", $ARGV[0], $d) or die; }
    for my $i (0 .. 99999) { my $name = sprintf("d%02d/%05d", $i % 100, $i);
    $name .= "n" x (($i < 77216 ? 135 : 134) - length $name);
    open(my $f, ">", "$ARGV[0]/$name") or die; print $f chr(65 + $i % 26); }' "$out/table"
cat > "$out/table.toml" <<'TOML'
title = "E2E Table"
source = "table"
TOML

# Shortcut rows whose link paths the test stretches to the limit by
# rewriting the group (its slot holds 260 bytes).
cat > "$out/links.toml" <<'TOML'
title = "E2E Links"
source = "product"
program_group = "GROUP-PLACEHOLDER"

[[start_menu]]
link = "a.lnk"
target = "readme.txt"

[[start_menu]]
link = "ab.lnk"
target = "readme.txt"

[[desktop]]
link = "E2E Links Desktop.lnk"
target = "docs/User Guide.txt"
TOML

for name in damage full-disk table links; do
    # The 100,000 files of the table at the fastest level: the time goes to the install.
    level=-9; [ "$name" = table ] && level=-1
    "$stubkit" build $level "$out/$name.toml" --stub "$stub" -o "$out/$name-setup.exe" >/dev/null
done
"$stubkit" test "$out/table-setup.exe" >/dev/null

# The stub grown to exactly 16,777,216 bytes, the most the installer skips.
cp "$stub" "$out/big-stub.exe"
truncate -s 16777216 "$out/big-stub.exe"
sed 's/^title = .*/title = "E2E Big Stub"/' "$out/plain.toml" > "$out/big-stub.toml"
"$stubkit" build "$out/big-stub.toml" --stub "$out/big-stub.exe" -o "$out/big-stub-setup.exe" >/dev/null
"$stubkit" test --stub "$out/big-stub.exe" "$out/big-stub-setup.exe" >/dev/null

# Hostile installers rewritten from the damage installer, each judged by
# `stubkit test`; the hostile suite runs them through the real installer. The
# fixed rows always, and under `make stress` 400 random ones of a fixed seed.
random_rows=0
[ "${STUBKIT_STRESS:-0}" = 1 ] && random_rows=400
perl "$source/tests/installation/make_hostile.pl" "$stubkit" "$out/damage-setup.exe" "E2E Damage" "$out/hostile" \
    "$random_rows" 22
