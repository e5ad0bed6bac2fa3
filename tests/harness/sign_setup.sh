#!/bin/sh
# Signs a setup file as a vendor would, with a throw-away certificate made here, and checks the
# signature; the e2e runner installs from the result. Writes OUT only when signing and the check
# both succeeded (OUT.log says what happened either way).
#   sign_setup.sh IN OUT        (host paths)
in=$1 out=$2
work=$(mktemp -d) || exit 1
trap 'rm -rf "$work"' EXIT
{
  openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj "/CN=Pondwick Test Signing" \
    -keyout "$work/key.pem" -out "$work/cert.pem" &&
  osslsigncode sign -certs "$work/cert.pem" -key "$work/key.pem" -n "Pondwick Setup" \
    -h sha256 -in "$in" -out "$work/signed.exe" &&
  osslsigncode verify -CAfile "$work/cert.pem" -in "$work/signed.exe" &&
  cp "$work/signed.exe" "$out.tmp" && mv "$out.tmp" "$out"
} >"$out.log" 2>&1
