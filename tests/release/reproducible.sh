#!/bin/bash
# What would make two builds of one commit differ is absent from the shipped
# files and their debug files: a link time in the PE header or the export
# directory, the name of the folder the tree or the build is in. (The full
# proof, a second build compared byte for byte, is tools/release.sh's.)
# usage: reproducible.sh OUT_DIR SOURCE_DIR BUILD_DIR
set -u
shopt -s nullglob
out=$1
status=0
fail() { echo "$*" >&2; status=1; }
for file in "$out"/*.nbp "$out"/*.exe "$out"/*.debug; do
  name=$(basename "$file")
  before=$status
  stamps=$(i686-w64-mingw32-objdump -p "$file" | grep -E '^Time/Date|^Time/Date stamp')
  while read -r stamp; do
    [[ "$stamp" == *"Thu Jan  1 00:00:00 1970"* || "$stamp" =~ [[:space:]]0$ ]] ||
      fail "$name carries a time: $stamp"
  done <<<"$stamps"
  for folder in "$2" "$3"; do
    grep -q -a -F "$folder" "$file" && fail "$name names the folder $folder"
  done
  [ $status = "$before" ] && echo "$name: no time ($(wc -l <<<"$stamps") stamps read), no folder"
done
exit $status
