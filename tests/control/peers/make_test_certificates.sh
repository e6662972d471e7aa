#!/bin/sh
# Makes the TLS test certificates in the folder given: a CA, certificates it
# signed for "localhost" and 127.0.0.1 (good), for another host (wronghost) and
# one whose validity ended in 2020 (expired), and a self-signed one. Each
# NAME.pem holds the certificate, NAME.key its private key.
set -eu
cd "$1"
quiet() { "$@" >/dev/null 2>&1 || { echo "failed: $*" >&2; exit 1; }; }
key() { quiet openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out "$1.key"; }

key ca
quiet openssl req -x509 -new -key ca.key -out ca.pem -days 2 -subj "/CN=Test CA"
key selfsigned
quiet openssl req -x509 -new -key selfsigned.key -out selfsigned.pem -days 2 -subj "/CN=localhost" \
  -addext "subjectAltName=DNS:localhost,IP:127.0.0.1"

signed() {  # name, subject alternative names, then openssl ca's date options
  name=$1 names=$2
  shift 2
  key "$name"
  quiet openssl req -new -key "$name.key" -out "$name.csr" -subj "/CN=$name"
  printf 'subjectAltName=%s\n' "$names" > "$name.ext"
  quiet openssl ca -batch -config ca.cnf -extfile "$name.ext" -in "$name.csr" -out "$name.pem" -notext "$@"
}
mkdir -p issued
: > index.txt
echo 1000 > serial
cat > ca.cnf <<CNF
[ca]
default_ca = test
[test]
dir = .
database = index.txt
serial = serial
new_certs_dir = issued
certificate = ca.pem
private_key = ca.key
default_md = sha256
policy = anything
unique_subject = no
[anything]
commonName = supplied
CNF
signed good "DNS:localhost,IP:127.0.0.1" -days 2
signed wronghost "DNS:elsewhere.test" -days 2
signed expired "DNS:localhost,IP:127.0.0.1" -startdate 20200101000000Z -enddate 20200102000000Z
