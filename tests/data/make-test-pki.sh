#!/usr/bin/env bash
# Makes the test PKI and the RFC 3161 tokens under tests/data/pki/ with the
# `openssl` command. The output is committed; rerun only to change it.
#
#   root            VRD Test Root CA, self-signed, 2020-2049
#   inter           VRD Test Intermediate CA, issued by root
#   tsa             the good time-stamping authority (critical timeStamping
#                   EKU), issued by inter; subject carries UTF-8 (Korean)
#   tsa-twin        same key, issuer and serial as tsa, one second shorter
#                   validity: same DER length, different ESS hash
#   tsa-expired     issued by inter, valid 2020-2022 only
#   tsa-selfsigned  self-signed, with the EKU
#   tsa-noeku       issued by inter, no extended key usage (key of tsa)
#
# Tokens (DER SignedData, content.txt is the time-stamped data):
#   token-sha256.der        ESS v2, TSA name, carries tsa + inter
#   token-sha512.der        ESS v1 (SHA-1 ESSCertID), carries tsa + inter
#   token-sha1.der          SHA-1 imprint, ESS v2
#   token-nocert.der        no certificates in the token
#   token-selfsigned.der    signed by tsa-selfsigned
#   token-noeku.der         signed by tsa-noeku, genTime 2024-05-01T09:30:00Z
#   token-expired.der       signed by tsa-expired, genTime 2021-06-15T12:00:00.5Z
#                           (both: TSTInfo built by hand, signed with cms -cades)
#   token-noess.der         a TSTInfo signed without signing-certificate attribute
#   cms-data.der            a plain `openssl cms -sign` of content.txt (id-data)
#   cms-two-signers.der     content.txt signed by tsa and by tsa-expired
#   cms-empty.der           an empty content signed by tsa
#   ca-pubs.der             DER SEQUENCE { inter, root }
set -euo pipefail
cd "$(dirname "$0")"
out=pki
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$out"

GOOD_START=20200101000000Z
GOOD_END=20491231235959Z

key() { [ -f "$out/$1.key" ] || openssl genrsa -out "$out/$1.key" 2048 2>/dev/null; }

# issue NAME SUBJECT ISSUER(or self) SERIAL START END EXTSECTION [KEYNAME]
issue() {
  local name=$1 subject=$2 issuer=$3 serial=$4 start=$5 end=$6 ext=$7 keyname=${8:-$1}
  local db="$work/db-$name"
  mkdir -p "$db"
  : >"$db/index.txt"
  echo "$serial" >"$db/serial"
  cat >"$db/ca.cnf" <<EOF
[ca]
default_ca = ca_default
[ca_default]
database = $db/index.txt
serial = $db/serial
new_certs_dir = $db
default_md = sha256
policy = policy_any
unique_subject = no
email_in_dn = no
copy_extensions = none
[policy_any]
commonName = supplied
[req]
distinguished_name = dn
[dn]
[v3_root]
basicConstraints = critical, CA:TRUE
keyUsage = critical, keyCertSign, cRLSign
subjectKeyIdentifier = hash
[v3_inter]
basicConstraints = critical, CA:TRUE, pathlen:0
keyUsage = critical, keyCertSign, cRLSign
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
[v3_tsa]
basicConstraints = critical, CA:FALSE
keyUsage = critical, digitalSignature, nonRepudiation
extendedKeyUsage = critical, timeStamping
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
[v3_tsa_self]
basicConstraints = critical, CA:FALSE
keyUsage = critical, digitalSignature, nonRepudiation
extendedKeyUsage = critical, timeStamping
subjectKeyIdentifier = hash
[v3_noeku]
basicConstraints = critical, CA:FALSE
keyUsage = critical, digitalSignature, nonRepudiation
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
EOF
  openssl req -new -utf8 -key "$out/$keyname.key" -subj "$subject" -config "$db/ca.cnf" \
    -out "$db/req.csr"
  if [ "$issuer" = self ]; then
    openssl ca -batch -utf8 -notext -selfsign -config "$db/ca.cnf" -keyfile "$out/$keyname.key" \
      -startdate "$start" -enddate "$end" -extensions "$ext" -preserveDN \
      -in "$db/req.csr" -out "$out/$name.pem" 2>/dev/null
  else
    openssl ca -batch -utf8 -notext -config "$db/ca.cnf" -cert "$out/$issuer.pem" \
      -keyfile "$out/$issuer.key" -startdate "$start" -enddate "$end" -extensions "$ext" \
      -preserveDN -in "$db/req.csr" -out "$out/$name.pem" 2>/dev/null
  fi
  openssl x509 -in "$out/$name.pem" -outform DER -out "$out/$name.der"
}

for k in root inter tsa tsa-expired tsa-selfsigned; do key "$k"; done

issue root "/C=KR/O=VRD Test/CN=VRD Test Root CA" self 01 $GOOD_START $GOOD_END v3_root
issue inter "/C=KR/O=VRD Test/CN=VRD Test Intermediate CA" root 02 $GOOD_START $GOOD_END v3_inter
issue tsa "/C=KR/O=VRD Test/OU=시험/CN=VRD Test TSA" inter 10 $GOOD_START $GOOD_END v3_tsa
issue tsa-twin "/C=KR/O=VRD Test/OU=시험/CN=VRD Test TSA" inter 10 $GOOD_START 20491231235958Z \
  v3_tsa tsa
issue tsa-expired "/C=KR/O=VRD Test/CN=VRD Test TSA Expired" inter 11 $GOOD_START \
  20221231235959Z v3_tsa
issue tsa-selfsigned "/C=KR/O=VRD Test/CN=VRD Test TSA Self-signed" self 12 $GOOD_START \
  $GOOD_END v3_tsa_self
issue tsa-noeku "/C=KR/O=VRD Test/CN=VRD Test TSA Without EKU" inter 13 $GOOD_START $GOOD_END \
  v3_noeku tsa

printf 'VRD time-stamp test content\n' >"$out/content.txt"

cat >"$work/ts.cnf" <<EOF
[tsa]
default_tsa = tsa_v2
[tsa_v2]
serial = $work/tsaserial
crypto_device = builtin
signer_digest = sha256
default_policy = 1.2.3.4.1
other_policies = 1.2.3.4.2
digests = sha1, sha256, sha384, sha512
accuracy = secs:1, millisecs:500
ordering = yes
tsa_name = yes
ess_cert_id_chain = no
ess_cert_id_alg = sha256
[tsa_v1]
serial = $work/tsaserial
crypto_device = builtin
signer_digest = sha256
default_policy = 1.2.3.4.2
digests = sha1, sha256, sha384, sha512
ordering = yes
tsa_name = no
ess_cert_id_chain = no
ess_cert_id_alg = sha1
EOF
echo 1000 >"$work/tsaserial"

# token NAME DIGEST SECTION SIGNER [query options...]
token() {
  local name=$1 digest=$2 section=$3 signer=$4 keyname=$5
  shift 5
  openssl ts -query -data "$out/content.txt" "-$digest" "$@" -out "$work/$name.tsq" 2>/dev/null
  local chain=()
  [ "$signer" = tsa-selfsigned ] || chain=(-chain "$out/inter.pem")
  openssl ts -reply -config "$work/ts.cnf" -section "$section" -queryfile "$work/$name.tsq" \
    -signer "$out/$signer.pem" -inkey "$out/$keyname.key" "${chain[@]}" -token_out \
    -out "$out/$name.der" 2>"$work/reply.log" || { cat "$work/reply.log" >&2; exit 1; }
}

token token-sha256 sha256 tsa_v2 tsa tsa -cert
token token-sha512 sha512 tsa_v1 tsa tsa -cert
token token-sha1 sha1 tsa_v2 tsa tsa -cert
token token-nocert sha256 tsa_v2 tsa tsa
token token-selfsigned sha256 tsa_v2 tsa-selfsigned tsa-selfsigned -cert

# openssl ts refuses signers without the EKU and cannot set genTime: these
# two TSTInfos are built by hand and signed as CMS with the RFC 5035
# signing-certificate-v2 attribute (-cades).
imprint=$(openssl dgst -sha256 -r "$out/content.txt" | cut -c1-64)
# handmade NAME SIGNER KEY SERIAL GENTIME
handmade() {
  local name=$1 signer=$2 keyname=$3 serial=$4 gentime=$5
  cat >"$work/$name.cnf" <<EOF
asn1 = SEQUENCE:tst
[tst]
version = INT:1
policy = OID:1.2.3.4.1
imprint = SEQUENCE:imprint
serial = INT:$serial
genTime = GENTIME:$gentime
[imprint]
alg = SEQUENCE:alg
hash = FORMAT:HEX,OCTETSTRING:$imprint
[alg]
oid = OID:sha256
null = NULL
EOF
  openssl asn1parse -genconf "$work/$name.cnf" -out "$work/$name.tst" >/dev/null
  openssl cms -sign -binary -nodetach -cades -md sha256 -econtent_type id-smime-ct-TSTInfo \
    -in "$work/$name.tst" -signer "$out/$signer.pem" -inkey "$out/$keyname.key" \
    -certfile "$out/inter.pem" -outform DER -out "$out/$name.der"
}
handmade token-noeku tsa-noeku tsa 0x0ABB 20240501093000Z
handmade token-expired tsa-expired tsa-expired 0x0ABC 20210615120000.5Z

# A TSTInfo signed without any ESS signing-certificate attribute.
openssl cms -sign -binary -nodetach -md sha256 -econtent_type id-smime-ct-TSTInfo \
  -in "$work/token-noeku.tst" -signer "$out/tsa.pem" -inkey "$out/tsa.key" -outform DER \
  -out "$out/token-noess.der"

openssl cms -sign -binary -nodetach -md sha256 -in "$out/content.txt" -signer "$out/tsa.pem" \
  -inkey "$out/tsa.key" -outform DER -out "$out/cms-data.der"
: >"$work/empty"
openssl cms -sign -binary -nodetach -md sha256 -in "$work/empty" -signer "$out/tsa.pem" \
  -inkey "$out/tsa.key" -outform DER -out "$out/cms-empty.der"
openssl cms -sign -binary -nodetach -md sha256 -in "$out/content.txt" -signer "$out/tsa.pem" \
  -inkey "$out/tsa.key" -signer "$out/tsa-expired.pem" -inkey "$out/tsa-expired.key" \
  -outform DER -out "$out/cms-two-signers.der"

# DER SEQUENCE { inter, root }: a CA set as QVTK_CERT_SetCaPubs takes it.
cat "$out/inter.der" "$out/root.der" >"$work/ca-body"
len=$(wc -c <"$work/ca-body")
printf "\\x30\\x82\\x$(printf %02x $((len >> 8)))\\x$(printf %02x $((len & 255)))" \
  >"$out/ca-pubs.der"
cat "$work/ca-body" >>"$out/ca-pubs.der"

echo "test PKI written to $(pwd)/$out"
