#!/usr/bin/env bash
# 32-bit Wine on a 64-bit machine whose kernel cannot run 32-bit Linux programs itself: Debian's
# wine32 runs through qemu-user. Installs the packages, mounts binfmt_misc if needed and registers
# qemu-i386 for i386 ELF files (F: the interpreter is opened now, so it works in every namespace).
# Safe to run again.
set -euo pipefail
sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
export DEBIAN_FRONTEND=noninteractive
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  "${sudo_cmd[@]}" dpkg --add-architecture i386
  "${sudo_cmd[@]}" apt-get update
fi
"${sudo_cmd[@]}" apt-get install -y --no-install-recommends wine32:i386 qemu-user-static

binfmt=/proc/sys/fs/binfmt_misc
[ -e "$binfmt/register" ] || "${sudo_cmd[@]}" mount -t binfmt_misc binfmt_misc "$binfmt"
if [ ! -e "$binfmt/qemu-i386" ]; then
  magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
  mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
  echo ":qemu-i386:M::$magic:$mask:/usr/bin/qemu-i386-static:F" | "${sudo_cmd[@]}" tee "$binfmt/register" >/dev/null
fi
