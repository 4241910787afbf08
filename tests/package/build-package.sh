#!/usr/bin/env bash
# Test fixture: the Debian packages of this build tree (veilgate,
# veilgate-pages, veilgate-service), made by cpack from what is already built
# (only the files the install rules name are brought up to date, not the
# whole project), then unpacked with dpkg-deb into one root, as installing
# all three would leave them; each is also unpacked alone into
# root-<package>/.
# Usage: build-package.sh <build folder> <output folder>
# Leaves <output folder>/*.deb, <output folder>/root/ and root-<package>/.
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
for deb in "$out"/*.deb; do
  dpkg-deb -x "$deb" "$out/root"
  name=$(dpkg-deb -f "$deb" Package)
  dpkg-deb -x "$deb" "$out/root-$name"
  echo "package: $deb ($(dpkg-deb -f "$deb" Installed-Size) KiB installed)"
done
