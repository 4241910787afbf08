#!/usr/bin/env bash
# Test fixture: the Debian package of this build tree, made by cpack from
# what is already built (only the files the install rules name are brought
# up to date, not the whole project), then unpacked with dpkg-deb.
# Usage: build-package.sh <build folder> <output folder>
# Leaves <output folder>/veilgate_*.deb and <output folder>/root/.
set -euo pipefail
bin=$1
out=$2
rm -rf "$out"
mkdir -p "$out"
cmake --build "$bin" --target vg_install_files
cpack --config "$bin/CPackConfig.cmake" -B "$out/cpack" >"$out/cpack.log" 2>&1 ||
  { cat "$out/cpack.log"; exit 1; }
mv "$out"/cpack/*.deb "$out/"
rm -rf "$out/cpack"
dpkg-deb -x "$out"/*.deb "$out/root"
echo "package: $(ls "$out"/*.deb)"
