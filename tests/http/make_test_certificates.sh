#!/usr/bin/env bash
# Makes a test certificate authority and server certificates in DIRECTORY with the openssl
# command, for servers on 127.0.0.1 ("localhost"):
#   ca.pem                       the authority that the tests trust (SSL_CERT_FILE)
#   good.pem, good.key           for IP 127.0.0.1 and DNS localhost, valid now
#   expired.pem, expired.key     the same names, valid only in January 2020
#   wronghost.pem, wronghost.key for DNS elsewhere.test only
#   unknown.pem, unknown.key     the good names, issued by an authority nobody trusts
# Usage: make_test_certificates.sh DIRECTORY
set -euo pipefail
dir=$1
mkdir -p "$dir"
cd "$dir"

cat > openssl.cnf <<CONF
[ req ]
distinguished_name = name
prompt = no
[ name ]
CN = unused
[ authority ]
basicConstraints = critical, CA:TRUE
keyUsage = critical, keyCertSign, cRLSign
subjectKeyIdentifier = hash
[ ca ]
default_ca = signer
[ signer ]
database = index.txt
new_certs_dir = .
serial = serial
default_md = sha256
policy = any_name
copy_extensions = copy
unique_subject = no
x509_extensions = server
[ any_name ]
commonName = supplied
[ server ]
basicConstraints = critical, CA:FALSE
keyUsage = critical, digitalSignature, keyEncipherment
extendedKeyUsage = serverAuth
authorityKeyIdentifier = keyid
CONF
export OPENSSL_CONF=$PWD/openssl.cnf

key() { openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out "$1" 2>/dev/null; }

authority() {  # NAME COMMON_NAME
    key "$1.key"
    openssl req -x509 -new -key "$1.key" -subj "/CN=$2" -days 30 -extensions authority \
        -out "$1.pem"
}

# NAME AUTHORITY SUBJECT_ALT_NAME CA_DATE_OPTIONS...
server() {
    local name=$1 signer=$2 names=$3
    shift 3
    key "$name.key"
    openssl req -new -key "$name.key" -subj "/CN=$name" -addext "subjectAltName=$names" \
        -out "$name.csr"
    : > index.txt
    echo 01 > serial
    openssl ca -batch -notext -cert "$signer.pem" -keyfile "$signer.key" -in "$name.csr" \
        -out "$name.pem" "$@" 2>/dev/null
    rm -f "$name.csr" 01.pem index.txt* serial*
}

authority ca "Tertulia Test Authority"
authority other-ca "Nobody's Authority"
here="IP:127.0.0.1,DNS:localhost"
server good ca "$here" -days 30
server expired ca "$here" -startdate 20200101000000Z -enddate 20200131000000Z
server wronghost ca "DNS:elsewhere.test" -days 30
server unknown other-ca "$here" -days 30
rm -f other-ca.key ca.key
