#!/bin/sh
# Prepares a private 32-bit Wine beside the system's wine64, so that the
# shipped 32-bit chainer runs as on 64-bit Windows (WoW64): Debian's own i386
# Wine parts of exactly the installed wine64's version (the loaders talk to
# the one wineserver), with the i386 C library and the X11 and FreeType
# libraries, fetched by apt under a private configuration for the i386
# architecture and unpacked into a folder of the project. Nothing is
# installed on the system: this machine cannot run 32-bit code, so the 32-bit
# Linux side runs under qemu-i386 of qemu-user-static, while wine64 and
# wineserver stay the system's. Then it makes the WoW64 test prefix that the
# tests copy. Idempotent: a finished folder whose stamp matches is left alone.
#
# $CORVANE_WINE32 (default build/wine32):
#   root/                      the unpacked packages, the emulator's root
#   root/usr/lib/wine/wine64   a copy of the system's loader: Wine looks for
#                              its other loader beside this one's real path
#   root/usr/lib/wine/wine     the 32-bit loader (started as "wine")
#   root/usr/lib/wine/wine-preloader   starts the 32-bit preloader under qemu
#   root/usr/lib/i386-linux-gnu/wine32_tls.so   preloaded into the 32-bit
#                              processes: tools/wine32_tls.c
#   prefix/                    the WoW64 prefix (win64 with SysWOW64)
#   wine64                     the loader to run, a link to the copy
set -e
cd "$(dirname "$0")/.."
dir=${CORVANE_WINE32:-build/wine32}
mkdir -p "$dir"
dir=$(cd "$dir" && pwd)
qemu=/usr/bin/qemu-i386-static
[ -x "$qemu" ] || { echo "setup_wine32: $qemu is missing (Debian package qemu-user-static)" >&2; exit 1; }
version=$(dpkg-query -W -f='${Version}' wine64)
stamp="wine64 $version, $(cat tools/setup_wine32.sh tools/wine32_tls.c | sha256sum | cut -c1-16)"
if [ -f "$dir/stamp" ] && [ "$(cat "$dir/stamp")" = "$stamp" ]; then
    echo "32-bit Wine ready in $dir"
    exit 0
fi
rm -f "$dir/stamp"
started=$(date +%s)

# apt with state, cache and sources of its own, for i386 only. The sources
# are the system's Debian ones; the system's keys and settings (a proxy)
# apply as they are.
apt_dir="$dir/apt"
rm -rf "$apt_dir"
mkdir -p "$apt_dir/lists/partial" "$apt_dir/cache/archives/partial" "$apt_dir/sources.list.d" "$dir/debs"
: > "$apt_dir/status"
: > "$apt_dir/sources.list"
if [ -f /etc/apt/sources.list ]; then cp /etc/apt/sources.list "$apt_dir/sources.list"; fi
for f in /etc/apt/sources.list.d/*.list /etc/apt/sources.list.d/*.sources; do
    if [ -f "$f" ] && grep -q debian-archive-keyring "$f"; then cp "$f" "$apt_dir/sources.list.d/"; fi
done
apt_private() {
    "$@" -o Dir::State="$apt_dir" -o Dir::State::Lists="$apt_dir/lists" -o Dir::State::status="$apt_dir/status" \
        -o Dir::Cache="$apt_dir/cache" -o Dir::Etc::sourcelist="$apt_dir/sources.list" \
        -o Dir::Etc::sourceparts="$apt_dir/sources.list.d" -o APT::Architecture=i386 \
        -o APT::Architectures::=i386 -o Acquire::Languages=none -o APT::Sandbox::User=root -o Debug::NoLocking=1
}
# An index that fails (a mirror in sync) is not fatal: the download below
# says whether every package could be had.
apt_private apt-get -q update > "$dir/apt-update.log" 2>&1 || echo "setup_wine32: apt-get update reported errors (see $dir/apt-update.log)"
packages="libwine=$version wine32=$version wine32-preloader=$version libc6 libgcc-s1
libx11-6 libxext6 libxcb1 libxau6 libxdmcp6 libbsd0 libmd0 libxrender1 libfreetype6 libpng16-16 zlib1g libbrotli1
libfontconfig1 libexpat1"
rm -f "$dir/debs/"*.deb
(cd "$dir/debs" && apt_private apt-get -q download $packages) > "$dir/apt-download.log" 2>&1 ||
    { cat "$dir/apt-download.log" >&2; echo "setup_wine32: the i386 packages could not be fetched" >&2; exit 1; }

rm -rf "$dir/root" "$dir/root.new"
mkdir -p "$dir/root.new"
for deb in "$dir/debs/"*.deb; do dpkg -x "$deb" "$dir/root.new"; done
# The i386 libraries' own cache: the 32-bit loader reads /etc/ld.so.cache
# below the emulator's root.
echo 'include /etc/ld.so.conf.d/*.conf' > "$dir/root.new/etc/ld.so.conf"
/sbin/ldconfig -r "$dir/root.new"
# The emulator shares the thread-local descriptors among a process's
# threads; tools/wine32_tls.c keeps Wine's threads apart (see there).
gcc -m32 -O2 -fPIC -shared -nostdlib -Wall -Werror -o "$dir/root.new/usr/lib/i386-linux-gnu/wine32_tls.so" tools/wine32_tls.c
echo /usr/lib/i386-linux-gnu/wine32_tls.so > "$dir/root.new/etc/ld.so.preload"
lib="$dir/root.new/usr/lib/wine"
cp /usr/lib/wine/wine64 "$lib/wine64"
# The 64-bit loader finds its libraries relative to its own folder.
ln -sfn /usr/lib/x86_64-linux-gnu "$dir/root.new/usr/lib/x86_64-linux-gnu"
# The PE zlib of libz-mingw-w64 with Wine's builtin marker, as the package's
# install script writes it.
for arch in i686:i386 x86_64:x86_64; do
    in="/usr/${arch%%:*}-w64-mingw32/lib/zlib1.dll"
    out="$dir/root.new/usr/lib/i386-linux-gnu/wine/${arch##*:}-windows/zlib1.dll"
    { head -c 64 "$in"; printf 'Wine builtin DLL'; head -c 16 /dev/zero; tail -c +97 "$in"; } > "$out"
done
# Wine starts every 32-bit process through "wine-preloader" beside its
# loader; the preloader itself is a 32-bit program and runs under qemu (its
# early reservation of the address space would take a minute emulated
# without it). The folder is named from where it will stay.
rm -f "$lib/wine-preloader"
cat > "$lib/wine-preloader" <<EOF
#!/bin/sh
exec $qemu -L "$dir/root" -0 "\$0" "$dir/root/usr/lib/wine/wine-preloader.static" "\$@"
EOF
chmod 755 "$lib/wine-preloader"
mv "$dir/root.new" "$dir/root"
ln -sfn root/usr/lib/wine/wine64 "$dir/wine64"

# The WoW64 prefix: one made by the plain wine64 cannot be given SysWOW64
# later, so it is made here with the 32-bit side in place.
prefix="$dir/prefix"
if [ -d "$prefix" ]; then WINEPREFIX="$prefix" /usr/lib/wine/wineserver -k 2>/dev/null || true; fi
rm -rf "$prefix"
wine_in_prefix() {
    env -u DISPLAY WINEPREFIX="$prefix" WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" "$dir/wine64" "$@"
}
wine_in_prefix wineboot -i > "$dir/wineboot.log" 2>&1
# Z: maps the Linux root: as a network drive it stays out of the searches
# that walk the fixed drives.
wine_in_prefix reg add 'HKLM\Software\Wine\Drives' /v z: /d network /f >> "$dir/wineboot.log" 2>&1
WINEPREFIX="$prefix" /usr/lib/wine/wineserver -w
[ -f "$prefix/drive_c/windows/syswow64/kernel32.dll" ] ||
    { cat "$dir/wineboot.log" >&2; echo "setup_wine32: the prefix has no SysWOW64" >&2; exit 1; }
# The packages and apt's lists are not needed any more.
rm -rf "$dir/debs" "$apt_dir"
echo "$stamp" > "$dir/stamp"
echo "32-bit Wine ready in $dir ($(($(date +%s) - started)) s)"
