#!/bin/sh
# Builds the release of the current commit twice, from clean clones in two
# different folders, and fails unless both are byte-identical and SHA256SUMS
# verifies. The second is signed with a throwaway certificate authority made
# here, and its signatures must verify against it; without them its
# executables must equal the first release's.
set -e
cd "$(dirname "$0")/.."
commit=$(git rev-parse HEAD)
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
fail() { echo "check_release: $*" >&2; exit 1; }
[ -z "$(git status --porcelain)" ] || echo "check_release: checks commit $commit, not the uncommitted changes"

a="$tmp/a/corvane"
b="$tmp/second/folder/elsewhere"
for clone in "$a" "$b"; do
    git clone -q --no-checkout . "$clone"
    git -C "$clone" checkout -q --detach "$commit"
done

# A test authority and a code-signing certificate issued by it.
keys="$tmp/keys"
mkdir "$keys"
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$keys/ca.key" -out "$keys/ca.pem" -days 2 \
    -subj "/CN=Corvane Test CA" -addext "basicConstraints=critical,CA:TRUE" \
    -addext "keyUsage=critical,keyCertSign" 2>/dev/null
openssl req -newkey rsa:2048 -nodes -keyout "$keys/sign.key" -out "$keys/sign.csr" -subj "/CN=Corvane Test Signer" 2>/dev/null
printf 'basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=codeSigning\n' > "$keys/ext"
openssl x509 -req -in "$keys/sign.csr" -CA "$keys/ca.pem" -CAkey "$keys/ca.key" -CAcreateserial -days 2 \
    -extfile "$keys/ext" -out "$keys/sign.pem" 2>/dev/null

(cd "$a" && tools/release.sh) > "$tmp/a.log" 2>&1 || { tail -30 "$tmp/a.log"; fail "the first release failed"; }
(cd "$b" && CORVANE_SIGN_CERT="$keys/sign.pem" CORVANE_SIGN_KEY="$keys/sign.key" CORVANE_SIGN_CA="$keys/ca.pem" \
    tools/release.sh) > "$tmp/b.log" 2>&1 || { tail -30 "$tmp/b.log"; fail "the second (signed) release failed"; }
# The linker's checksum and the release's own computation agree.
! grep 'written (was 0x0*[1-9A-F]' "$tmp/a.log" || fail "the linker's PE checksum differs from the computed one"
grep -q "are unsigned" "$tmp/a.log" || fail "the unsigned release does not say so"
grep -q "are signed and verified" "$tmp/b.log" || fail "the signed release does not say so"

version=$(tr -d ' \r\n' < "$a/VERSION")
status=0
for exe in corvane.exe corvane-check.exe; do
    cmp "$a/build/release/i686/bin/$exe" "$b/build/release/i686/bin/$exe" || status=1
    signed="$b/dist/corvane-$version/$exe"
    osslsigncode verify -CAfile "$keys/ca.pem" -in "$signed" > /dev/null 2>&1 ||
        { echo "$exe: the signed release does not verify"; status=1; }
    osslsigncode remove-signature -in "$signed" -out "$tmp/unsigned-$exe" > /dev/null 2>&1 || status=1
    cmp "$a/dist/corvane-$version/$exe" "$tmp/unsigned-$exe" || status=1
done
# Everything else of the release is the same in both, the Linux checker too.
(cd "$a/dist/corvane-$version" && find . -type f ! -name '*.exe' ! -name SHA256SUMS) | sort | while read -r f; do
    cmp "$a/dist/corvane-$version/$f" "$b/dist/corvane-$version/$f" || exit 1
done || status=1
# The unsigned release: its zip holds exactly the folder, and SHA256SUMS verifies.
unzipped="$tmp/unzipped"
mkdir "$unzipped"
(cd "$unzipped" && unzip -q "$a/dist/corvane-$version.zip") || status=1
diff -r "$a/dist/corvane-$version" "$unzipped/corvane-$version" || status=1
(cd "$unzipped/corvane-$version" && sha256sum --quiet -c SHA256SUMS) || status=1
(cd "$a/dist" && sha256sum --quiet -c "corvane-$version.zip.sha256") || status=1
[ $status -eq 0 ] || fail "the two releases of $commit differ or do not verify"
echo "check_release: two builds of $commit in different folders are identical; SHA256SUMS and the signatures verify"
