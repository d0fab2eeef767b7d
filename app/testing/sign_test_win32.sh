#!/usr/bin/env bash
# The release's signing step with a throw-away self-signed certificate: the
# signed velmora.exe verifies against it, and without a certificate the
# program is left byte for byte as it was.
# Usage: sign_test_win32.sh VELMORA.EXE SIGN_WINDOWS WORK_FOLDER
set -euo pipefail
program=$1 sign=$2 work=$3
for tool in osslsigncode openssl; do
  command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
done
rm -rf "$work"
mkdir -p "$work"
trap 'rm -rf "$work"' EXIT
# A key behind a password, which the step reads without a command line showing it.
openssl req -x509 -newkey rsa:2048 -passout pass:throw-away -days 2 -subj "/CN=Velmora Config test" \
  -keyout "$work/key.pem" -out "$work/cert.pem" 2>/dev/null
cp "$program" "$work/unsigned.exe"
cp "$program" "$work/signed.exe"
(unset VELMORA_SIGN_CERT; "$sign" "$work/unsigned.exe" >/dev/null)
cmp -s "$program" "$work/unsigned.exe" || { echo "FAIL: without a certificate the program changed"; exit 1; }
VELMORA_SIGN_CERT="$work/cert.pem" VELMORA_SIGN_KEY="$work/key.pem" VELMORA_SIGN_PASS=throw-away \
  "$sign" "$work/signed.exe"
osslsigncode verify -CAfile "$work/cert.pem" -in "$work/signed.exe" >"$work/verify.log" 2>&1 ||
  { cat "$work/verify.log"; echo "FAIL: the signed program does not verify"; exit 1; }
grep -q "Velmora Config test" "$work/verify.log" || { echo "FAIL: not signed by the certificate given"; exit 1; }
echo "PASS: signed with the certificate given, and left alone without one"
