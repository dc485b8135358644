#!/usr/bin/env bash
# scripts/sign.sh with a throwaway self-signed code-signing certificate, on copies of the
# product: the signed copy verifies, a copy changed after signing does not, and a wrong
# password or an untrusted certificate leaves the program unchanged with a failure.
#   sign_test.sh path/to/qtxClear.exe
set -u
product=$(realpath "${1:?path to the 32-bit qtxClear.exe}")
[ -f "$product" ] || { echo "$product not found"; exit 1; }
sign="$(cd "$(dirname "$0")/../.." && pwd)/scripts/sign.sh"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail=0
check() { if "${@:2}" >/dev/null 2>&1; then echo "ok: $1"; else echo "FAIL: $1"; fail=1; fi; }
fails() { if "${@:2}" >/dev/null 2>&1; then echo "FAIL: $1"; fail=1; else echo "ok: $1"; fi; }

cd "$work"
openssl req -x509 -newkey rsa:2048 -nodes -keyout key.pem -out cert.pem -days 2 \
  -subj "/CN=qtxClear test signing" -addext "keyUsage=critical,digitalSignature" \
  -addext "extendedKeyUsage=codeSigning" 2>/dev/null || { echo "cannot make a certificate"; exit 1; }
openssl pkcs12 -export -inkey key.pem -in cert.pem -out cert.pfx -passout pass:test-pass \
  || { echo "cannot make the PKCS#12 file"; exit 1; }
openssl req -x509 -newkey rsa:2048 -nodes -keyout other.pem -out other-cert.pem -days 2 \
  -subj "/CN=someone else" 2>/dev/null || exit 1

cp "$product" signed.exe
check "sign.sh signs and verifies" bash "$sign" --exe signed.exe --ca cert.pem cert.pfx test-pass
check "the program changed (a signature was added)" test "$(stat -c %s signed.exe)" -gt "$(stat -c %s "$product")"
check "the signed copy verifies on its own" osslsigncode verify -CAfile cert.pem -in signed.exe
fails "the signed copy does not verify against another certificate" osslsigncode verify -CAfile other-cert.pem -in signed.exe

# One byte of code changed after signing.
cp signed.exe modified.exe
byte=$(od -An -tu1 -j 1100 -N1 modified.exe | tr -d ' ')
printf "$(printf '\\%03o' $(( (byte + 1) % 256 )))" | dd of=modified.exe bs=1 seek=1100 conv=notrunc 2>/dev/null
check "the modified copy differs" bash -c '! cmp -s signed.exe modified.exe'
fails "the modified copy does not verify" osslsigncode verify -CAfile cert.pem -in modified.exe

cp "$product" wrongpass.exe
fails "a wrong password fails" bash "$sign" --exe wrongpass.exe --ca cert.pem cert.pfx not-the-password
check "a wrong password leaves the program unchanged" cmp -s "$product" wrongpass.exe
cp "$product" untrusted.exe
fails "a signature that does not verify fails" bash "$sign" --exe untrusted.exe --ca other-cert.pem cert.pfx test-pass
check "a failed verification leaves the program unchanged" cmp -s "$product" untrusted.exe
check "no temporary file is left" test -z "$(ls | grep signing)"

[ $fail -eq 0 ] && echo "signing test passed"
exit $fail
