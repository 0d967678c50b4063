#!/usr/bin/env bash
# Signs files in place with Authenticode (osslsigncode, SHA-256): DLLs and installer
# packages alike.
#   SIGN_CERT=cert.pem SIGN_KEY=key.pem tools/sign-files.sh FILE...
#   SIGN_PKCS12=signer.p12 SIGN_PASSWORD=... tools/sign-files.sh FILE...
# SIGN_PASSWORD also opens an encrypted SIGN_KEY; SIGN_TIMESTAMP_URL, when set, names a
# time-stamping server (RFC 3161), so that the signature outlives the certificate;
# SIGN_TIME (seconds since 1970) is the signing time the signature states, so that one
# commit signed with one key gives the same bytes (the time-stamp, asked of a server, does not).
set -euo pipefail

credentials=()
if [ -n "${SIGN_PKCS12:-}" ]; then
  credentials=(-pkcs12 "$SIGN_PKCS12")
elif [ -n "${SIGN_CERT:-}" ] && [ -n "${SIGN_KEY:-}" ]; then
  credentials=(-certs "$SIGN_CERT" -key "$SIGN_KEY")
else
  echo "sign-files: give SIGN_CERT and SIGN_KEY, or SIGN_PKCS12" >&2
  exit 2
fi
[ -n "${SIGN_PASSWORD:-}" ] && credentials+=(-pass "$SIGN_PASSWORD")
[ -n "${SIGN_TIMESTAMP_URL:-}" ] && credentials+=(-ts "$SIGN_TIMESTAMP_URL")
[ -n "${SIGN_TIME:-}" ] && credentials+=(-time "$SIGN_TIME")

for file in "$@"; do
  osslsigncode sign "${credentials[@]}" -h sha256 -n VoskTolvane -in "$file" -out "$file.signed" >/dev/null
  mv "$file.signed" "$file"
  echo "signed $file"
done
