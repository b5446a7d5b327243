#!/bin/sh
# Builds the release of the current commit from a clean tree and writes
# dist/corvane-<version>/ (the 32-bit chainer and checker, the checker for
# Linux build machines, the README with its pictures, the example packages
# and SHA256SUMS) and dist/corvane-<version>.zip beside it.
#
# Signing: with CORVANE_SIGN_CERT (certificate chain, PEM) and
# CORVANE_SIGN_KEY (private key, PEM) both executables are signed with
# osslsigncode and the signatures verified against CORVANE_SIGN_CA (default:
# the system's trusted authorities). CORVANE_SIGN_PASS_FILE names a file
# holding the key's password.
set -e
cd "$(dirname "$0")/.."
fail() { echo "release: $*" >&2; exit 1; }

[ -z "$(git status --porcelain)" ] || { git status --short >&2; fail "the tree has uncommitted changes or untracked files"; }
version=$(tr -d ' \r\n' < VERSION)
echo "$version" | grep -Eq '^[0-9]+\.[0-9]+\.[0-9]+$' || fail "VERSION holds '$version', not MAJOR.MINOR.PATCH"
commit=$(git rev-parse HEAD)
if [ -n "${CORVANE_SIGN_CERT:-}${CORVANE_SIGN_KEY:-}" ]; then
    [ -f "${CORVANE_SIGN_CERT:-}" ] && [ -f "${CORVANE_SIGN_KEY:-}" ] ||
        fail "signing needs both CORVANE_SIGN_CERT and CORVANE_SIGN_KEY as files"
fi

# Everything that could make two builds of this commit differ is fixed here:
# the date (the commit's), the time zone, the locale, the umask, and no
# compiler launcher between the build and the compiler.
SOURCE_DATE_EPOCH=$(git log -1 --format=%ct)
export SOURCE_DATE_EPOCH TZ=UTC LC_ALL=C
unset CMAKE_C_COMPILER_LAUNCHER CMAKE_CXX_COMPILER_LAUNCHER
umask 022

trees=build/release
rm -rf "$trees"
cmake -S . -B "$trees/i686" -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686-win32.cmake \
    -DCMAKE_BUILD_TYPE=Release >/dev/null
ninja -C "$trees/i686" corvane corvane-check
cmake -S . -B "$trees/native" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCORVANE_SANITIZE=OFF >/dev/null
ninja -C "$trees/native" corvane-check

checker_version=$("$trees/native/corvane-check" --version)
[ "$checker_version" = "corvane-check $version" ] || fail "the checker says '$checker_version', VERSION says $version"
for exe in corvane corvane-check; do
    # The version resource, as Windows shows it in the file's properties.
    resource=$(i686-w64-mingw32-windres -i "$trees/i686/bin/$exe.exe" -O rc)
    words=$(echo "$version" | sed 's/\./, /g')
    for line in "FILEVERSION $words, 0" "PRODUCTVERSION $words, 0" "\"FileVersion\", \"$version\"" \
        "\"ProductVersion\", \"$version\""; do
        printf "%s\n" "$resource" | grep -qF "$line" || fail "$exe.exe: the version resource lacks $line"
    done
done

dist=dist/corvane-$version
rm -rf "$dist" "$dist.zip"
mkdir -p "$dist"
cp "$trees/i686/bin/corvane.exe" "$trees/i686/bin/corvane-check.exe" "$trees/native/corvane-check" "$dist/"
# The example packages and the README's pictures, as committed.
git archive --format=tar HEAD README.md examples docs | tar -x -C "$dist"
if [ -n "${CORVANE_SIGN_CERT:-}" ]; then
    for exe in corvane.exe corvane-check.exe; do
        rm -f "$dist/$exe.signed"
        osslsigncode sign -certs "$CORVANE_SIGN_CERT" -key "$CORVANE_SIGN_KEY" \
            ${CORVANE_SIGN_PASS_FILE:+-readpass "$CORVANE_SIGN_PASS_FILE"} \
            -h sha256 -n "Corvane $version" -in "$dist/$exe" -out "$dist/$exe.signed" >/dev/null
        mv "$dist/$exe.signed" "$dist/$exe"
        osslsigncode verify -CAfile "${CORVANE_SIGN_CA:-/etc/ssl/certs/ca-certificates.crt}" -in "$dist/$exe" \
            > "$trees/verify-$exe.log" 2>&1 || { cat "$trees/verify-$exe.log" >&2; fail "$exe: the signature does not verify"; }
    done
    signed="signed and verified"
else
    signed="unsigned (set CORVANE_SIGN_CERT and CORVANE_SIGN_KEY to sign them)"
fi
# The linker fills the checksum in (older ones leave it 0); a signature
# changes the file but leaves the field out of its hash: written here if wrong.
/usr/bin/python3 tools/pe_checksum.py "$dist/corvane.exe" "$dist/corvane-check.exe"

chmod -R u=rwX,go=rX "$dist"
chmod 755 "$dist/corvane-check"
(cd "$dist" && find . -type f ! -name SHA256SUMS -print0 | sed -z 's|^\./||' | sort -z |
    xargs -0 sha256sum > SHA256SUMS && sha256sum --quiet -c SHA256SUMS)
find "$dist" -exec touch -h -d "@$SOURCE_DATE_EPOCH" {} +
/usr/bin/python3 tools/release_zip.py "$dist" "$dist.zip"
(cd dist && sha256sum "corvane-$version.zip" > "corvane-$version.zip.sha256")

echo "release: $dist and $dist.zip of $version (commit $commit)"
echo "release: corvane.exe and corvane-check.exe are $signed"
cat "dist/corvane-$version.zip.sha256"
