#!/usr/bin/env bash
# Makes a small code-signing and TLS PKI in OUTDIR with the openssl command line:
#   root.pem                 trusted root
#   inter.pem                code-signing intermediate "DigiCert SHA2 Assured ID Code Signing CA"
#   signer.pem/.key          "Dravo Corporation", code signing, serial SIGNER_SERIAL
#   chain.pem                inter.pem (what a signature carries besides the signer)
#   expired.pem/.key         the same subject, validity long past
#   other.pem/.key           "Other Corporation", code signing
#   noeku.pem/.key           "Dravo Corporation" without the code-signing usage
#   rogue-*.pem/.key         a look-alike root, intermediate and signer nobody trusts
#   server.pem/.key          TLS server certificate for 127.0.0.1 and localhost
# Usage: make-pki.sh OUTDIR [SIGNER_SERIAL_HEX]
set -euo pipefail
out="$1"
serial="${2:-0A1B2C3D4E5F60718293A4B5C6D7E8F9}"
mkdir -p "$out"
cd "$out"
rm -rf db && mkdir db && : > db/index.txt && echo 1000 > db/serial

key() { openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out "$1" 2>/dev/null; }

cat > ext.cnf <<'CNF'
[root]
basicConstraints = critical, CA:true
keyUsage = critical, keyCertSign, cRLSign
subjectKeyIdentifier = hash
[inter]
basicConstraints = critical, CA:true, pathlen:0
keyUsage = critical, keyCertSign, cRLSign
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
[codesign]
basicConstraints = critical, CA:false
keyUsage = critical, digitalSignature
extendedKeyUsage = codeSigning
[noeku]
basicConstraints = critical, CA:false
keyUsage = critical, digitalSignature
[server]
basicConstraints = critical, CA:false
keyUsage = critical, digitalSignature
extendedKeyUsage = serverAuth
subjectAltName = IP:127.0.0.1, DNS:localhost
[ca]
default_ca = ca_section
[ca_section]
database = db/index.txt
serial = db/serial
new_certs_dir = db
default_md = sha256
policy = anything
unique_subject = no
copy_extensions = none
[anything]
commonName = supplied
organizationName = optional
CNF

selfsigned() {  # name cn
  key "$1.key"
  openssl req -new -x509 -key "$1.key" -subj "/CN=$2" -days 3650 -sha256 \
    -config ext.cnf -extensions root -out "$1.pem" 2>/dev/null
}
issue() {  # name cn issuer extensions serial [startdate enddate]
  key "$1.key"
  openssl req -new -key "$1.key" -subj "/CN=$2" -out "$1.csr" 2>/dev/null
  local dates=(-days 3650)
  [ $# -ge 7 ] && dates=(-startdate "$6" -enddate "$7")
  [ -n "$5" ] && echo "$5" > db/serial
  openssl ca -batch -notext -config ext.cnf -cert "$3.pem" -keyfile "$3.key" -in "$1.csr" \
    -extfile ext.cnf -extensions "$4" "${dates[@]}" -out "$1.pem" 2>/dev/null
  rm -f "$1.csr"
}

selfsigned root "OMK Demo Root CA"
issue inter "DigiCert SHA2 Assured ID Code Signing CA" root inter ""
issue signer "Dravo Corporation" inter codesign "$serial"
issue expired "Dravo Corporation" inter codesign 2001 20200101000000Z 20210101000000Z
issue other "Other Corporation" inter codesign 2002
issue noeku "Dravo Corporation" inter noeku 2003
issue server "localhost" root server 2004
# The look-alike chain has its own issuing database (it reuses the signer's serial).
rm -rf db && mkdir db && : > db/index.txt && echo 3000 > db/serial
selfsigned rogue-root "OMK Demo Root CA"
issue rogue-inter "DigiCert SHA2 Assured ID Code Signing CA" rogue-root inter 2005
issue rogue-signer "Dravo Corporation" rogue-inter codesign "$serial"
cp inter.pem chain.pem
cp rogue-inter.pem rogue-chain.pem
rm -rf db ext.cnf
