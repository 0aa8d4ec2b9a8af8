#!/bin/bash
# Builds the deliverables of the commit this tree holds and packs them:
#   DIST/wirelet-VERSION.zip        both plug-ins, Wirebench, Wirecodes, nbrun.exe,
#                                   guide.html, the README, the examples
#                                   (with the device library and the
#                                   recipes), COMMIT and SHA256SUMS
#   DIST/wirelet-VERSION-debug.zip  their debug files, to resolve crash addresses
# Two runs give the same bytes, wherever the tree and the build folder are
# and whenever they run: the binaries carry no link time and no folder name
# (CMakeLists.txt), and the zips hold their entries in name order, with
# fixed modes, dated from the commit (SOURCE_DATE_EPOCH; from git when not
# set, as is WL_COMMIT, the commit's id). Prints the two zips' paths.
# usage: tools/build-release.sh BUILD_DIR DIST_DIR
set -uo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
[ $# = 2 ] || { echo "usage: tools/build-release.sh BUILD_DIR DIST_DIR" >&2; exit 2; }
build=$1
dist=$2
shipped=(Wirelet.nbp Quillport.nbp Wirebench.nbp Wirecodes.nbp nbrun.exe)
fail() { echo "build-release: $*" >&2; exit 1; }

commit=${WL_COMMIT:-$(git -C "$top" rev-parse HEAD 2>/dev/null)} || fail "no commit: set WL_COMMIT"
export SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git -C "$top" log -1 --format=%ct HEAD 2>/dev/null)}
[ -n "$commit" ] && [ -n "$SOURCE_DATE_EPOCH" ] || fail "no commit: set WL_COMMIT and SOURCE_DATE_EPOCH"

cmake --no-warn-unused-cli -S "$top" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$top/cmake/mingw-i686.cmake" >/dev/null &&
  cmake --build "$build" -j "$(nproc)" --target "${shipped[@]%.*}" guide >/dev/null ||
  fail "the build failed"
out=$build/out

version=$(i686-w64-mingw32-windres -i "$out/Wirelet.nbp" -O rc 2>/dev/null |
          sed -n 's/^ *FILEVERSION *\([0-9]*\), *\([0-9]*\), *\([0-9]*\), *\([0-9]*\)$/\1.\2.\3.\4/p')
[ -n "$version" ] || fail "Wirelet.nbp has no version resource"
name=wirelet-$version

stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
mkdir -p "$stage/$name/examples/devices" "$stage/$name/examples/recipes" "$stage/debug/$name" "$dist"
for file in "${shipped[@]}"; do
  cp "$out/$file" "$stage/$name/"
  cp "$out/$file.debug" "$stage/debug/$name/"
done
cp "$out/guide.html" "$top/README.md" "$stage/$name/"
cp "$top/examples/"*.nbs "$top/examples/"*.dev "$stage/$name/examples/"
cp "$top/examples/devices/"*.dev "$stage/$name/examples/devices/"
cp "$top/examples/recipes/"*.nbs "$stage/$name/examples/recipes/"
printf '%s\n%s\n' "$commit" "$(TZ=UTC date -d "@$SOURCE_DATE_EPOCH" '+%Y-%m-%d %H:%M:%S UTC')" \
  >"$stage/$name/COMMIT"
sums=$(cd "$stage/$name" && find . -type f -printf '%P\n' | LC_ALL=C sort | xargs sha256sum) || exit 1
echo "$sums" >"$stage/$name/SHA256SUMS"

# zip_tree DIR ZIP: DIR's folder NAME into ZIP, entries in name order, each
# dated from the commit (zip keeps local time: UTC here), modes fixed, no
# owner or extra time fields (-X).
zip_tree() {
  find "$1" -type d -exec chmod 755 {} + -o -type f -exec chmod 644 {} +
  find "$1" -exec touch -h -d "@$SOURCE_DATE_EPOCH" {} +
  rm -f "$2"
  (cd "$1" && find "$name" -print | LC_ALL=C sort | TZ=UTC zip -q -X -@ "$2") || fail "cannot write $2"
}
dist=$(cd "$dist" && pwd)
zip_tree "$stage" "$dist/$name.zip"
zip_tree "$stage/debug" "$dist/$name-debug.zip"
echo "$dist/$name.zip"
echo "$dist/$name-debug.zip"
