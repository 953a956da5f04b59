#!/usr/bin/env bash
# Makes sure this machine can execute the 32-bit (-m32) test programs.
# Some x86_64 kernels are built without 32-bit emulation; there the i386
# binaries are handed to qemu-i386 through binfmt_misc (needs root and
# qemu-user). Exits 0 when 32-bit programs run afterwards, 1 otherwise.
# Standard output: the emulator's name ("qemu-i386") when 32-bit programs run
# through it, nothing when they run natively; messages go to standard error,
# among them every system-wide change (package installed, file system mounted,
# binfmt_misc entry registered) before it is made.
set -u
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
# The program's shell child names the executable of its parent as the kernel
# sees it: the program itself, or the emulator that runs it.
printf '#include <stdlib.h>\nint main(void){return system("readlink /proc/$PPID/exe")==0?42:1;}\n' > "$tmp/t.c"
gcc -m32 "$tmp/t.c" -o "$tmp/t32" 2>/dev/null || { echo "gcc -m32 cannot link (g++-multilib missing?)" >&2; exit 1; }
runs() {
    local exe
    exe=$("$tmp/t32" 2>/dev/null)
    [ $? -eq 42 ] || return 1
    case "${exe##*/}" in
        qemu-i386*) echo qemu-i386 ;;
    esac
}
runs && exit 0

echo "this kernel cannot execute i386 programs; they will run through qemu-i386" >&2
qemu=$(command -v qemu-i386 || true)
if [ -z "$qemu" ]; then
    echo "installing system-wide: qemu-user (apt-get install -y qemu-user)" >&2
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq qemu-user >/dev/null 2>&1 || true
    qemu=$(command -v qemu-i386 || true)
fi
[ -n "$qemu" ] || { echo "qemu-i386 is not available" >&2; exit 1; }
bm=/proc/sys/fs/binfmt_misc
if [ ! -e $bm/register ]; then
    echo "mounting binfmt_misc on $bm (system-wide, until reboot)" >&2
    mount -t binfmt_misc binfmt_misc $bm 2>/dev/null
fi
if [ -w $bm/register ] && [ ! -e $bm/zolt-i386 ]; then
    # ELF, 32-bit, little endian, executable or shared object, machine i386.
    magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
    mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
    entry=":zolt-i386:M::$magic:$mask:$qemu:F"
    echo "registering with binfmt_misc (system-wide, until reboot; remove with" \
        "'echo -1 > $bm/zolt-i386'): every i386 ELF program runs through $qemu: $entry" >&2
    echo "$entry" > $bm/register 2>/dev/null
fi
runs && exit 0
echo "could not enable i386 execution" >&2
exit 1
