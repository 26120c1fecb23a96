#!/usr/bin/env bash
# Builds the SoftHSM2 tokens the PKCS#11 adapter tests run against.
#   make_tokens.sh DIR MODULE [CACHE]
# DIR receives softhsm2.conf, the token store and the key/certificate files;
# MODULE is the SoftHSM2 Cryptoki module. Everything stays inside DIR.
# With CACHE, the tokens are built once (under a lock, in CACHE plus a
# checksum of this script) and every later call copies them into DIR, which
# spares each test the key generation.
#
# Token "alpha" (user PIN 1234), objects by CKA_ID:
#   01  RSA, keyUsage digitalSignature + nonRepudiation      (listed)
#   02  RSA, keyUsage digitalSignature + dataEncipherment    (not listed)
#   03  RSA, no keyUsage extension                          (not listed)
#   04  SM2 certificate, digitalSignature; a P-256 key with the same CKA_ID
#   05  RSA, digitalSignature; two private keys with this CKA_ID: the
#       certificate's key and the key of 02 (the tests clear CKA_SIGN on one)
#   06  P-256 certificate and key, digitalSignature
# Token "beta" (user PIN 4321):
#   01  RSA, digitalSignature + nonRepudiation, a key of its own
set -euo pipefail
dir=$1
module=$2
cache=${3:-}

# conf DIR: the SoftHSM2 configuration that keeps the tokens in DIR/tokens.
conf() {
  printf 'directories.tokendir = %s/tokens\nobjectstore.backend = file\nlog.level = ERROR\nslots.removable = false\n' \
    "$1" > "$1/softhsm2.conf"
}

# build DIR: keys, certificates and tokens, from scratch.
build() (
cd "$1"
mkdir -p tokens
conf "$PWD"
export SOFTHSM2_CONF=$PWD/softhsm2.conf

cat > cert.cnf <<'CNF'
[req]
distinguished_name = dn
[dn]
[ku_sign]
keyUsage = critical, digitalSignature, nonRepudiation
[ku_enc]
keyUsage = critical, digitalSignature, dataEncipherment
[ku_none]
basicConstraints = CA:FALSE
[ku_ds]
keyUsage = critical, digitalSignature
CNF

# cert NAME KEYFILE EXTENSIONS [extra req options]
cert() {
  local name=$1 key=$2 ext=$3
  shift 3
  openssl req -x509 -new -key "$key" -subj "/CN=$name/O=sealdesk test" -days 3650 \
    -config cert.cnf -extensions "$ext" "$@" -outform DER -out "$name.der"
}
rsa() { openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:2048 -out "$1.pem" 2>/dev/null; }

rsa sign;  cert sign  sign.pem  ku_sign
rsa enc;   cert enc   enc.pem   ku_enc
rsa noku;  cert noku  noku.pem  ku_none
rsa two;   cert two   two.pem   ku_ds
rsa beta;  cert beta  beta.pem  ku_sign
openssl genpkey -algorithm SM2 -out sm2.pem
cert sm2 sm2.pem ku_ds -sm3 -sigopt distid:1234567812345678
openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out p256.pem
cert p256 p256.pem ku_ds
for k in sign enc noku two beta p256; do openssl pkey -in "$k.pem" -outform DER -out "$k.key.der"; done

softhsm2-util --init-token --free --label alpha --so-pin 5555 --pin 1234 >/dev/null
softhsm2-util --init-token --free --label beta --so-pin 5555 --pin 4321 >/dev/null

# put TOKEN PIN TYPE FILE ID LABEL
put() {
  pkcs11-tool --module "$module" --token-label "$1" --login --pin "$2" \
    --write-object "$4" --type "$3" --id "$5" --label "$6" >/dev/null 2>&1 ||
    { echo "cannot write $6 to token $1" >&2; exit 1; }
}
put alpha 1234 cert    sign.der      01 sign
put alpha 1234 privkey sign.key.der  01 sign
put alpha 1234 cert    enc.der       02 enc
put alpha 1234 privkey enc.key.der   02 enc
put alpha 1234 cert    noku.der      03 noku
put alpha 1234 privkey noku.key.der  03 noku
put alpha 1234 cert    sm2.der       04 sm2
put alpha 1234 privkey p256.key.der  04 sm2
put alpha 1234 cert    two.der       05 two
put alpha 1234 privkey enc.key.der   05 two-other
put alpha 1234 privkey two.key.der   05 two
put alpha 1234 cert    p256.der      06 p256
put alpha 1234 privkey p256.key.der  06 p256
put beta  4321 cert    beta.der      01 beta
put beta  4321 privkey beta.key.der  01 beta
)

if [ -z "$cache" ]; then
  build "$dir"
  exit 0
fi
cache=$cache-$(sha1sum "$0" | cut -c1-12)
mkdir -p "$cache"
exec 9>"$cache.lock"
flock 9
if [ ! -f "$cache/ready" ]; then
  rm -rf "${cache:?}"/*
  build "$cache"
  touch "$cache/ready"
fi
flock -u 9
cp -a "$cache/." "$dir/"
rm -f "$dir/ready"
conf "$dir"
