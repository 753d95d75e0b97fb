#!/usr/bin/env bash
# Lets 32-bit x86 programs start on a kernel built without 32-bit support, where exec fails with
# "Exec format error": registers the user-mode emulator with binfmt_misc, which keeps argv[0] (P)
# and opens the emulator once (F). The build needs this too, as it runs the 32-bit stamping tool
# on the programs it links. Does nothing where such programs start already. Needs root and
# qemu-i386-static where it registers.
# Usage: tests/i386_emulator.sh [32-bit command that succeeds where it starts, default
#        /lib32/ld-linux.so.2 --version]
set -uo pipefail
[ $# -gt 0 ] || set -- /lib32/ld-linux.so.2 --version
starts() { "$@" >/dev/null 2>&1; }
starts "$@" && exit 0
emulator=$(command -v qemu-i386-static || true)
binfmt=/proc/sys/fs/binfmt_misc
if [ -z "$emulator" ]; then
  echo "32-bit programs do not start here and qemu-i386-static is not installed" >&2
  exit 2
fi
[ -e "$binfmt/register" ] || mount -t binfmt_misc binfmt_misc "$binfmt"
if [ ! -e "$binfmt/qemu-i386" ]; then
  magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
  mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
  printf '%s' ":qemu-i386:M::$magic:$mask:$emulator:PF" >"$binfmt/register"
fi
starts "$@" || { echo "32-bit programs still do not start" >&2; exit 2; }
echo "i386: 32-bit programs start through $emulator"
