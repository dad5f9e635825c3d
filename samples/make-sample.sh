#!/usr/bin/env bash
# Makes the shipped sample: sample.pdf, a one-page PDF carrying an RFC 3161
# document time-stamp, and sample-root.pem, the root certificate of the
# throwaway test authority that stamped it. Only openssl and coreutils are
# used; the authority's keys live in a temporary directory and are discarded,
# so every run produces a new authority.
#
#   samples/make-sample.sh [OUTPUT_DIR]     (default: the script's directory)
set -euo pipefail

out_dir=$(cd "${1:-$(dirname "$0")}" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

# --- the test authority: a root and a time-stamping certificate under it ----
cat > tsa.ext <<'EOF'
basicConstraints = critical, CA:FALSE
keyUsage = critical, digitalSignature, nonRepudiation
extendedKeyUsage = critical, timeStamping
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
EOF
openssl req -x509 -newkey rsa:2048 -nodes -sha256 -days 7300 -keyout root.key -out root.pem \
  -subj "/C=KR/O=vrd Sample Authority/CN=vrd Sample Root CA" \
  -addext "basicConstraints=critical,CA:TRUE" \
  -addext "keyUsage=critical,keyCertSign,cRLSign" 2>/dev/null
openssl req -newkey rsa:2048 -nodes -sha256 -keyout tsa.key -out tsa.csr \
  -subj "/C=KR/O=vrd Sample Authority/CN=vrd Sample TSA" 2>/dev/null
openssl x509 -req -in tsa.csr -CA root.pem -CAkey root.key -set_serial 2 -days 3650 -sha256 \
  -extfile tsa.ext -out tsa.pem 2>/dev/null

cat > ts.cnf <<'EOF'
[ tsa ]
default_tsa = sample_tsa
[ sample_tsa ]
serial = ./tsaserial
crypto_device = builtin
signer_digest = sha256
default_policy = 1.2.3.4.1
digests = sha256, sha384, sha512
accuracy = secs:1
ordering = no
tsa_name = no
ess_cert_id_chain = no
ess_cert_id_alg = sha256
EOF
echo 01 > tsaserial

# --- the PDF, with a signature dictionary whose /Contents is reserved -------
hex_digits=8192
page_text="Time-stamped sample document"
stream="BT /F1 24 Tf 72 760 Td (${page_text}) Tj ET"
zeros=$(head -c "$hex_digits" /dev/zero | tr '\0' '0')
range_slot='/ByteRange [0 0 0 0]                                '  # rewritten below

size() { wc -c < "$1" | tr -d ' '; }
: > sample.pdf
offsets=()
emit() { printf '%s' "$1" >> sample.pdf; }
object() {  # number, body
  offsets+=("$(size sample.pdf)")
  emit "$1 0 obj"$'\n'"$2"$'\n'"endobj"$'\n'
}

emit $'%PDF-1.7\n%\xe2\xe3\xcf\xd3\n'
object 1 "<< /Type /Catalog /Pages 2 0 R /AcroForm << /Fields [5 0 R] /SigFlags 3 >> >>"
object 2 "<< /Type /Pages /Kids [3 0 R] /Count 1 >>"
object 3 "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 595 842] /Contents 4 0 R /Resources << /Font << /F1 6 0 R >> >> /Annots [5 0 R] >>"
object 4 "<< /Length ${#stream} >>"$'\n'"stream"$'\n'"${stream}"$'\n'"endstream"
object 5 "<< /Type /Annot /Subtype /Widget /FT /Sig /T (DocumentTimeStamp) /Rect [0 0 0 0] /F 132 /P 3 0 R /V 7 0 R >>"
object 6 "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>"
sig_offset=$(size sample.pdf)
object 7 "<< /Type /DocTimeStamp /Filter /Adobe.PPKLite /SubFilter /ETSI.RFC3161 ${range_slot}/Contents <${zeros}> >>"
xref=$(size sample.pdf)
{
  printf 'xref\n0 8\n0000000000 65535 f \n'
  for o in "${offsets[@]}"; do printf '%010d 00000 n \n' "$o"; done
  printf 'trailer\n<< /Size 8 /Root 1 0 R >>\nstartxref\n%d\n%%%%EOF\n' "$xref"
} >> sample.pdf

# --- byte ranges: everything except the hexadecimal string and its brackets --
open_pos=$(grep -abo '/Contents <' sample.pdf | tail -n 1 | cut -d: -f1)
open_pos=$((open_pos + 10))              # the '<'
close_pos=$((open_pos + 1 + hex_digits))  # the '>'
total=$(size sample.pdf)
ranges="/ByteRange [0 ${open_pos} $((close_pos + 1)) $((total - close_pos - 1))]"
if [ ${#ranges} -gt ${#range_slot} ]; then echo "byte-range slot too small" >&2; exit 1; fi
range_pos=$(grep -abo '/ByteRange \[0 0 0 0\]' sample.pdf | cut -d: -f1)
printf '%-*s' ${#range_slot} "$ranges" |
  dd of=sample.pdf bs=1 seek="$range_pos" conv=notrunc status=none
[ "$range_pos" -gt "$sig_offset" ] || { echo "layout error" >&2; exit 1; }

# --- the token over the signed content ---------------------------------------
{ head -c "$open_pos" sample.pdf; tail -c +$((close_pos + 2)) sample.pdf; } > signed.bin
digest=$(openssl dgst -sha256 -r signed.bin | cut -d' ' -f1)
openssl ts -query -digest "$digest" -sha256 -cert -no_nonce -out request.tsq 2>/dev/null
openssl ts -reply -config ts.cnf -section sample_tsa -queryfile request.tsq \
  -signer tsa.pem -inkey tsa.key -token_out -out token.der >/dev/null 2>&1
openssl ts -verify -in token.der -token_in -data signed.bin -CAfile root.pem >/dev/null

token_hex=$(od -An -v -tx1 token.der | tr -d ' \n')
if [ ${#token_hex} -gt "$hex_digits" ]; then echo "token does not fit" >&2; exit 1; fi
printf '%s' "$token_hex" | dd of=sample.pdf bs=1 seek=$((open_pos + 1)) conv=notrunc status=none

cp sample.pdf "$out_dir/sample.pdf"
cp root.pem "$out_dir/sample-root.pem"
echo "wrote $out_dir/sample.pdf ($(size sample.pdf) bytes) and $out_dir/sample-root.pem"
