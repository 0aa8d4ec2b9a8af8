#!/bin/bash
# The shipped files carry no debugging sections and no symbols, and each
# one's debug file (FILE.debug beside it) resolves an address in it to its
# source line, as an author's crash address would be. addr2line is handed
# the shipped file: it reaches the debug file only through the file's
# .gnu_debuglink, whose checksum must match.
# usage: debug_files.sh DIR    (DIR holds the shipped files and their .debug files)
set -u
dir=$1
tools=i686-w64-mingw32
status=0
fail() { echo "$*" >&2; status=1; }

# check FILE SYMBOL SOURCE: SYMBOL's address resolves to a line of SOURCE.
check() {
  local file=$dir/$1 sections address where
  sections=$($tools-objdump -h "$file") || { fail "$1: not readable"; return; }
  grep -q ' \.debug_' <<<"$sections" && fail "$1: has debugging sections"
  grep -q ' \.gnu_debuglink ' <<<"$sections" || fail "$1: has no debug link"
  [ -z "$($tools-nm "$file" 2>/dev/null)" ] || fail "$1: has a symbol table"
  address=$($tools-nm "$file.debug" | awk -v s="$2" '$3 == s { print $1; exit }')
  [ -n "$address" ] || { fail "$1.debug: no symbol $2"; return; }
  where=$($tools-addr2line -e "$file" "0x$address")
  [[ "$where" == /wirelet/"$3":[1-9]* ]] || { fail "$1: $2 at 0x$address resolves to '$where', not to $3"; return; }
  echo "$1: $2 at 0x$address is $where"
}

check Wirelet.nbp _nbExecAction@8 plugin/exports.cpp
check Quillport.nbp _nbExecAction@8 plugin/exports.cpp
check Wirebench.nbp _nbExecAction@8 plugin/exports.cpp
check Wirecodes.nbp _nbExecAction@8 plugin/exports.cpp
check nbrun.exe _main host/runner/main.cpp
exit $status
