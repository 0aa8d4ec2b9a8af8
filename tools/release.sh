#!/bin/bash
# Packs a release for Windows users and proves it works as they would use it:
#   dist/wirelet-VERSION.zip        both plug-ins, Wirebench, Wirecodes, nbrun.exe,
#                                   guide.html, the README, the example
#                                   scripts, the demo's device files, the
#                                   device library and its recipes, COMMIT
#                                   and SHA256SUMS
#   dist/wirelet-VERSION-debug.zip  their debug files, to resolve crash addresses
# Runs every test first (tools/test.sh); the build strips the files as it
# links them, so the tests ran against the very bytes packed. Nothing is
# packed when a test fails, the versions disagree or the tree holds changes
# not committed (a release is the build of a commit). The commit is then
# built again from git's own copy of it, in another folder, and both zips
# must be the same bytes (tools/build-release.sh makes both). The zip is
# then unpacked into an empty folder and used from there: its sums, its
# debug files, the four catalogues listed by its runner with an anchor in
# its guide for every action, the demo dialogue with both editions against
# the virtual devices, and with both devices played from the zip's device
# files, and every recipe against its device played from the zip's library
# (each recipe's first lines name it), with Wirecodes beside Wirelet.
set -uo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
fail() { echo "release: $*" >&2; exit 1; }
[ -z "$(git -C "$top" status --porcelain --untracked-files=no)" ] ||
  fail "the tree holds changes not committed: commit them, a release is the build of a commit"
"$top/tools/test.sh" || { echo "tests failed: nothing packed" >&2; exit 1; }

build=$top/build/win
out=$build/out

# resource_version FILE KEY: FILEVERSION or PRODUCTVERSION of the version
# resource in the built FILE, as 1.8.0.2.
resource_version() {
  i686-w64-mingw32-windres -i "$1" -O rc 2>/dev/null |
    sed -n "s/^ *$2 *\([0-9]*\), *\([0-9]*\), *\([0-9]*\), *\([0-9]*\)\$/\1.\2.\3.\4/p"
}

# The zip is named after Wirelet's version; the README's layout names each
# plug-in's version and the zip's names.
for file in Wirelet.nbp Quillport.nbp Wirebench.nbp Wirecodes.nbp; do
  v=$(resource_version "$out/$file" FILEVERSION)
  [ -n "$v" ] || fail "$file has no version resource"
  [ "$(resource_version "$out/$file" PRODUCTVERSION)" = "$v" ] || fail "$file: product and file versions differ"
  readme=$(sed -n "s/^ *${file//./\\.} .*version \([0-9.]*[0-9]\).*/\1/p" "$top/README.md")
  [ "$readme" = "$v" ] || fail "$file is version $v, the README's release layout says '$readme'"
done
name=wirelet-$(resource_version "$out/Wirelet.nbp" FILEVERSION)
others=$(grep -o 'wirelet-[0-9][0-9.]*[0-9]' "$top/README.md" | grep -vx "$name" | sort -u)
[ -z "$others" ] || fail "the README names $(echo $others) where $name is packed"

"$top/tools/build-release.sh" "$build" "$top/dist" >/dev/null || fail "packing failed"
echo "packed:"
(cd "$top/dist" && ls -l "$name.zip" "$name-debug.zip" && sha256sum "$name.zip" "$name-debug.zip")
unzip -l "$top/dist/$name.zip" | tail -n +4 | head -n -2

# --- the same bytes again, from the commit alone, elsewhere ----------------
again=$(mktemp -d /tmp/wirelet-rebuild.XXXXXX)
mkdir -p "$again/src"
git -C "$top" archive --format=tar HEAD | tar -x -C "$again/src" || fail "cannot copy the commit"
echo "== built again from the commit in $again"
WL_COMMIT=$(git -C "$top" rev-parse HEAD) SOURCE_DATE_EPOCH=$(git -C "$top" log -1 --format=%ct HEAD) \
  "$again/src/tools/build-release.sh" "$again/build" "$again/dist" >/dev/null || fail "the second build failed"
for file in "$out"/*.nbp "$out"/*.exe "$out"/*.debug "$out/guide.html"; do
  other=$again/build/out/$(basename "$file")
  [ -e "$other" ] || continue  # built for the tests only (wlbench.exe)
  cmp -s "$file" "$other" || fail "$(basename "$file") differs between the two builds (both kept: $again)"
done
for zip in "$name.zip" "$name-debug.zip"; do
  cmp -s "$top/dist/$zip" "$again/dist/$zip" || fail "$zip differs between the two builds (both kept: $again)"
done
echo "== the two builds are identical: $(cd "$top/dist" && sha256sum "$name.zip")"
rm -rf "$again"

# --- the zip as an author uses it -----------------------------------------
check=$(mktemp -d)
. "$top/tools/devices.sh"
trap 'devices_stop; rm -rf "$check"' EXIT
unzip -q "$top/dist/$name.zip" -d "$check" || fail "cannot unpack $name.zip"
here=$check/$name
echo "== unpacked into $check"
(cd "$here" && sha256sum --quiet -c SHA256SUMS) || fail "SHA256SUMS does not match the unpacked files"
listed=$(cut -c67- "$here/SHA256SUMS")
unpacked=$(cd "$here" && find . -type f ! -name SHA256SUMS -printf '%P\n' | sort)
[ "$listed" = "$unpacked" ] || fail "SHA256SUMS does not list exactly the files in the zip"
for file in "$here"/*.nbp "$here"/*.exe; do
  cmp -s "$file" "$out/$(basename "$file")" || fail "$(basename "$file") in the zip is not the tested file"
done
echo "SHA256SUMS matches, and the binaries are the tested ones:"
cat "$here/SHA256SUMS"
for file in $(git -C "$top" ls-files examples); do
  [ -e "$here/$file" ] || fail "the zip has no $file"
done

devices_start "$build" || fail "the virtual devices did not start"
for edition in Wirelet Quillport Wirebench Wirecodes; do
  catalogue=$("$build/wine-run" "$(winpath "$here/nbrun.exe")" --list "$(winpath "$here/$edition.nbp")" |
              tr -d '\r') || fail "nbrun --list $edition.nbp failed"
  actions=$(awk '/^ +[0-9]+ / { print $2 }' <<<"$catalogue")
  [ -n "$actions" ] || fail "nbrun --list $edition.nbp listed no action"
  for action in $actions; do
    grep -q "<h3 id=\"$action\"" "$here/guide.html" || fail "guide.html has no anchor for $edition's $action"
  done
  echo "== $edition.nbp from the zip: $(wc -w <<<"$actions") actions listed, each with its anchor in guide.html"
  [ $edition = Wirebench ] || [ $edition = Wirecodes ] && continue
  echo "== nbrun $edition.nbp examples/demo.nbs, all from the zip"
  devices_dialogue "$here/nbrun.exe" "$here/$edition.nbp" "$here/examples/demo.nbs" ||
    fail "the demo dialogue failed with the unpacked $edition.nbp"
done
echo "== the demo with both devices played from the zip's device files"
devices_played_options "$here/examples"
devices_dialogue "$here/nbrun.exe" "$here/Wirelet.nbp" "$here/examples/demo.nbs" "${devices_played[@]}" ||
  fail "the demo dialogue failed with its devices played"
for recipe in "$here"/examples/recipes/*.nbs; do
  # "#   nbrun --device COM1=examples/devices/gps-nmea.dev Wirelet.nbp"
  played=$(sed -n 's|^#   nbrun --device \([^=]*\)=\(examples/devices/[^ ]*\).*|\1=\2|p' "$recipe")
  [ -n "$played" ] || fail "$(basename "$recipe") does not name its device"
  echo "== the recipe $(basename "$recipe") from the zip, --device $played"
  devices_dialogue "$here/nbrun.exe" "$here/Wirelet.nbp" "$recipe" \
    --device "${played%%=*}=$(winpath "$here/${played#*=}")" "$(winpath "$here/Wirecodes.nbp")" ||
    fail "the recipe $(basename "$recipe") failed"
done

# The debug archive unpacked over the release puts each debug file beside its file.
unzip -q "$top/dist/$name-debug.zip" -d "$check" || fail "cannot unpack $name-debug.zip"
"$top/tests/release/debug_files.sh" "$here" || fail "the debug files do not resolve addresses"
echo "== dist/$name.zip works as unpacked"
