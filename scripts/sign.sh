#!/usr/bin/env bash
# Signs the 32-bit product with Authenticode (SHA-256) and verifies the signature.
#   sign.sh [--exe FILE] [--ca FILE] [--timestamp URL] CERT.pfx [PASSWORD]
# CERT.pfx holds the code-signing certificate and its key (PKCS#12); PASSWORD is its password.
# --exe         the program to sign (default build/i686/qtxClear.exe), signed in place
# --ca          the certificates the verification trusts (default: the system's list)
# --timestamp   an RFC 3161 time-stamping service, so the signature outlives the certificate
# Exits non-zero when signing or verification fails; the program is then left unchanged.
set -u
root=$(cd "$(dirname "$0")/.." && pwd)
exe="$root/build/i686/qtxClear.exe"
ca=/etc/ssl/certs/ca-certificates.crt
timestamp=()
while [ $# -gt 0 ]; do
  case "$1" in
    --exe) exe=${2:?--exe needs a file}; shift 2 ;;
    --ca) ca=${2:?--ca needs a file}; shift 2 ;;
    --timestamp) timestamp=(-ts "${2:?--timestamp needs a URL}"); shift 2 ;;
    -*) echo "unknown option $1" >&2; exit 2 ;;
    *) break ;;
  esac
done
pfx=${1:?usage: sign.sh [--exe FILE] [--ca FILE] [--timestamp URL] CERT.pfx [PASSWORD]}
password=${2:-}
command -v osslsigncode >/dev/null || { echo "osslsigncode is missing (scripts/install-deps.sh)" >&2; exit 1; }
[ -f "$exe" ] || { echo "$exe not found" >&2; exit 1; }
[ -f "$pfx" ] || { echo "$pfx not found" >&2; exit 1; }

signed=$(mktemp "$exe.signing.XXXXXX")
passfile=$(mktemp)
trap 'rm -f "$signed" "$passfile"' EXIT
rm -f "$signed"
# The password goes through a private file, not the command line other users can read.
printf '%s' "$password" >"$passfile"
osslsigncode sign -pkcs12 "$pfx" -readpass "$passfile" -h sha256 \
  -n "VELKO Software Uninstall Utility" "${timestamp[@]}" -in "$exe" -out "$signed" >/dev/null \
  || { echo "signing failed" >&2; exit 1; }
osslsigncode verify -CAfile "$ca" -in "$signed" >/dev/null \
  || { echo "the signature does not verify" >&2; exit 1; }
mv "$signed" "$exe"
echo "signed and verified: $exe"
