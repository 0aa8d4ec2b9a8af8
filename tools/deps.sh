#!/bin/bash
# Installs what building and testing need on Debian 12, as root, and proves
# that 32-bit Windows programs run under Wine. Idempotent: what is already
# there is left as it is.
#
# Machines whose kernel runs no 32-bit code (some hypervisors give user
# programs no 32-bit mode) get the i386 emulation: qemu-user-static from the
# release's backports suite, registered with binfmt_misc. Machines that run
# 32-bit code natively are left without it.
#
# usage: tools/deps.sh        (WL_WINEPREFIX names the prefix used for the
#                              final check; default build/win/wineprefix)
set -uo pipefail
export DEBIAN_FRONTEND=noninteractive
top=$(cd "$(dirname "$0")/.." && pwd)
work=$top/build/deps
mkdir -p "$work"

packages=(cmake make gcc g++ googletest g++-mingw-w64-i686 wine wine32:i386 socat python3 zip
          memcached clang-14 libclang-rt-14-dev python3-markdown
          chromium)  # the page of a spy log is tested in a real browser
codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-bookworm}")
qemu=/usr/bin/qemu-i386-static
binfmt=/proc/sys/fs/binfmt_misc

say() { echo "deps: $*"; }
installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }

# An index that fails (a mirror caught mid-sync) must not end the set-up: the
# install below names the release when the indexes disagree.
update() {
  apt-get update -qq >"$work/apt-update.log" 2>&1 ||
    say "apt-get update reported errors (kept going): $(grep -m1 -E '^(E|W):' "$work/apt-update.log")"
}

# apt_install [apt options] PACKAGES: once as asked, once more with the release
# named so that amd64 and i386 take versions from the same suite.
apt_install() {
  local opts=() pkgs=()
  while [ $# -gt 0 ]; do case "$1" in -t) opts+=("$1" "$2"); shift 2 ;; *) pkgs+=("$1"); shift ;; esac; done
  local log=$work/apt-install.log
  apt-get install -y -qq --no-install-recommends "${opts[@]}" "${pkgs[@]}" >"$log" 2>&1 && return 0
  if [ ${#opts[@]} = 0 ]; then
    say "install failed; trying again with the release named (-t $codename)"
    apt-get install -y -qq --no-install-recommends -t "$codename" "${pkgs[@]}" >"$log" 2>&1 && return 0
  fi
  say "could not install: ${pkgs[*]}"
  grep -E '^(E:| )' "$log" | head -n 15 >&2
  return 1
}

# Does the kernel itself run 32-bit code? A 64-bit program far-jumps into the
# 32-bit user code segment and exits from there with 42; where the kernel
# refuses 32-bit mode it is killed. binfmt_misc plays no part in this.
kernel_runs_32bit() {
  cat >"$work/probe32.c" <<'EOF'
#include <stdint.h>
extern char code32[];
__asm__(".code32\ncode32:\n movl $1, %eax\n movl $42, %ebx\n int $0x80\n.code64\n");
int main(void) {
    static struct __attribute__((packed)) { uint32_t offset; uint16_t selector; } target = {0, 0x23};
    target.offset = (uint32_t)(uintptr_t)code32;
    __asm__ volatile("ljmpl *%0" : : "m"(target));
    return 1;
}
EOF
  gcc -no-pie -O0 -o "$work/probe32" "$work/probe32.c" >/dev/null 2>&1 || { say "cannot build the 32-bit probe"; return 1; }
  # Grouped with its stderr closed: the shell reports the probe's death there.
  local status
  status=$( { "$work/probe32" >/dev/null 2>&1; echo $?; } 2>/dev/null )
  [ "$status" = 42 ]
}

# The suite that carries a qemu new enough for Wine: the release's own archive.
add_backports() {
  local list=/etc/apt/sources.list.d/$codename-backports.list
  grep -rqs -- "$codename-backports" /etc/apt/sources.list /etc/apt/sources.list.d/ && return 0
  local uri
  uri=$(apt-cache policy 2>/dev/null | awk -v s=" $codename/main " 'index($0, s) { print $2; exit }')
  [ -n "$uri" ] || { say "cannot find the archive of $codename to add its backports"; return 1; }
  say "adding $codename-backports ($uri) for qemu-user-static"
  echo "deb $uri $codename-backports main" >"$list"
  update
}

# Debian 12's own qemu (7.2) starts each Wine process in about a minute;
# 8 and later do it in a fraction of a second.
qemu_fit() {
  installed qemu-user-static &&
    dpkg --compare-versions "$(dpkg-query -W -f='${Version}' qemu-user-static)" ge 1:8
}

# Registers the i386 entry. Flag F makes the kernel open the interpreter now,
# so after an upgrade of qemu the entry is written again; a stamp in /run
# (gone at boot, like the entry) records which binary it opened.
register_i386() {
  [ -e "$binfmt/register" ] || mount -t binfmt_misc binfmt_misc "$binfmt" ||
    { say "cannot mount binfmt_misc"; return 1; }
  local stamp=/run/wirelet-qemu-i386.stamp now
  now=$(stat -c '%d:%i:%Y' "$qemu")
  if [ -e "$binfmt/qemu-i386" ] && grep -qx enabled "$binfmt/qemu-i386" &&
     grep -qx "interpreter $qemu" "$binfmt/qemu-i386" && [ "$(cat "$stamp" 2>/dev/null)" = "$now" ]; then
    return 0
  fi
  [ -e "$binfmt/qemu-i386" ] && echo -1 >"$binfmt/qemu-i386"
  printf '%s' ':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:'"$qemu"':F' \
    >"$binfmt/register" || { say "cannot register qemu-i386 with binfmt_misc"; return 1; }
  echo "$now" >"$stamp"
}

setup_emulation() {
  if ! qemu_fit; then
    add_backports || return 1
    apt_install -t "$codename-backports" qemu-user-static || return 1
  fi
  register_i386 || return 1
  say "this kernel runs no 32-bit code: 32-bit programs run emulated by $("$qemu" --version | head -n 1)"
}

# The smallest console program, built and run once under Wine.
prove_wine() {
  local prefix=${WL_WINEPREFIX:-$top/build/win/wineprefix}
  export WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  printf '#include <stdio.h>\nint main(void) { puts("32-bit Windows program ran"); return 0; }\n' >"$work/hello.c"
  i686-w64-mingw32-gcc -O2 -o "$work/hello.exe" "$work/hello.c" ||
    { say "the mingw-w64 compiler does not work"; return 1; }
  mkdir -p "$(dirname "$prefix")"
  if [ ! -f "$prefix/system.reg" ]; then
    say "creating the Wine prefix $prefix"
    timeout 600 wineboot -i >/dev/null 2>&1 </dev/null
    timeout 60 wineserver -w
  fi
  local out
  out=$(timeout 300 wine "$work/hello.exe" 2>"$work/wine.log" </dev/null | tr -d '\r')
  if [ "$out" != "32-bit Windows program ran" ]; then
    say "Wine cannot run a 32-bit Windows program; it printed:"
    tail -n 10 "$work/wine.log" >&2
    return 1
  fi
  say "a 32-bit Windows program ran under Wine"
}

dpkg --print-foreign-architectures | grep -qx i386 || dpkg --add-architecture i386
missing=()
for p in "${packages[@]}"; do installed "$p" || missing+=("$p"); done
if [ ${#missing[@]} -gt 0 ]; then
  say "installing: ${missing[*]}"
  update
  apt_install "${missing[@]}" || exit 1
fi

# How 32-bit code runs here, for the benchmark's header.
if kernel_runs_32bit; then
  echo native >"$work/32bit"
else
  setup_emulation || exit 1
  echo "emulated by $("$qemu" --version | head -n 1)" >"$work/32bit"
fi
prove_wine || exit 1
