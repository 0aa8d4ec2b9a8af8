#!/bin/bash
# Packs what a Windows user needs into dist/wirelet-VERSION.zip: both
# plug-ins, nbrun.exe, the README, the author's guide, the example scripts
# and the demo's device file. Runs every test first (tools/test.sh) and packs the files those
# tests ran against; nothing is packed when a test fails.
set -uo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/tools/test.sh" || { echo "tests failed: nothing packed" >&2; exit 1; }

out=$top/build/win/out
version=$(sed -n 's/.*FILEVERSION *\([0-9]*\),\([0-9]*\),\([0-9]*\),\([0-9]*\).*/\1.\2.\3.\4/p' \
  "$top/editions/wirelet/wirelet.rc" | head -n 1)
name=wirelet-${version:-unversioned}
stage=$top/dist/$name
rm -rf "$stage" "$top/dist/$name.zip"
mkdir -p "$stage/docs" "$stage/examples"
cp "$out/Wirelet.nbp" "$out/Quillport.nbp" "$out/nbrun.exe" "$stage/"
cp "$top/README.md" "$stage/"
cp -r "$top/docs/." "$stage/docs/"
cp "$top/examples/"*.nbs "$top/examples/"*.dev "$stage/examples/"
(cd "$top/dist" && zip -q -r "$name.zip" "$name") || exit 1
rm -rf "$stage"
echo "packed dist/$name.zip:"
unzip -l "$top/dist/$name.zip" | tail -n +4 | head -n -2
echo "sha256 of the tested files packed:"
(cd "$out" && sha256sum Wirelet.nbp Quillport.nbp nbrun.exe)
