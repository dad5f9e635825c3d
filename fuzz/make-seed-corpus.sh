#!/usr/bin/env bash
# Writes the seed corpus of assemble_fuzz: small signed PDF documents (an
# original revision with a classic cross-reference table, then an incremental
# update with the signature dictionary), in the forms the assembly stage
# distinguishes: LF and CR LF line ends, a seal-impression block, the
# encrypted template case, a token found only by the fallback search, and a
# few broken files. Usage: make-seed-corpus.sh [output directory]
set -euo pipefail
export LC_ALL=C

out="${1:-$(dirname "$0")/corpus/assemble_fuzz}"
mkdir -p "$out"

# Hexadecimal of a DER-like token: SEQUENCE, two-byte length, filler body.
token_hex() {
  local n=$1 i hex
  hex=$(printf '3082%04x' "$n")
  for ((i = 0; i < n; i++)); do hex+=$(printf '%02x' $(((i * 37) % 200 + 17))); done
  printf '%s' "$hex"
}

zeros() { printf '%*s' "$1" '' | tr ' ' '0'; }

# make_doc NAME EOL SEAL ENCRYPT RANGES CONTENTS_SEP
#   SEAL: none | plain ; ENCRYPT: 0 | 1 ; RANGES: exact | fallback | odd
make_doc() {
  local name=$1 eol=$2 seal=$3 encrypt=$4 ranges=$5 sep=$6
  local doc off1 off2 off3 off_seal="" xref1 sig_off xref2 data trailer
  doc="%PDF-1.7${eol}"
  off1=${#doc}
  doc+="1 0 obj${eol}<< /Type /Catalog /Pages 2 0 R >>${eol}endobj${eol}"
  off2=${#doc}
  doc+="2 0 obj${eol}<< /Type /Pages /Kids [] /Count 0 >>${eol}endobj${eol}"
  off3=${#doc}
  if [[ $seal == plain ]]; then
    if [[ $encrypt == 1 ]]; then
      data=$(printf '%*s' 242 '' | tr ' ' 'Q')
    else
      data="q 1 0 0 1 0 0 cm BT /F1 8 Tf (2013/04/30 10:31:57 KST) Tj ET Q"
    fi
    off_seal=$off3
    doc+="3 0 obj${eol}<< /Length ${#data} >>${eol}stream${eol}${data}${eol}endstream${eol}endobj${eol}"
  else
    doc+="3 0 obj${eol}<< /Producer (seed) >>${eol}endobj${eol}"
  fi
  xref1=${#doc}
  trailer="<< /Size 4 /Root 1 0 R"
  [[ $encrypt == 1 ]] && trailer+=" /Encrypt 3 0 R"
  trailer+=" >>"
  doc+="xref${eol}0 4${eol}0000000000 65535 f ${eol}"
  doc+="$(printf '%010d' "$off1") 00000 n ${eol}$(printf '%010d' "$off2") 00000 n ${eol}"
  doc+="$(printf '%010d' "$off3") 00000 n ${eol}"
  doc+="trailer${eol}${trailer}${eol}startxref${eol}${xref1}${eol}%%EOF${eol}"

  sig_off=${#doc}
  local head="4 0 obj${eol}<< /Type /Sig /ByteRange ["
  local placeholder
  placeholder=$(printf '%*s' 40 '')
  local middle="]"
  [[ $seal == plain ]] && middle+=" /ImprintInfo [0 0 0 0 0 0 0 3 0 R 3 2 0 9 4]"
  middle+=" /Contents${sep}<"
  local hex
  hex="$(token_hex 120)$(zeros 160)"
  local range_at=$((${#doc} + ${#head}))
  doc+="${head}${placeholder}${middle}"
  local lt=$((${#doc} - 1))
  doc+="${hex}> >>${eol}endobj${eol}"
  local after=$((lt + 1 + ${#hex} + 1))
  xref2=${#doc}
  doc+="xref${eol}0 1${eol}0000000000 65535 f ${eol}4 1${eol}"
  doc+="$(printf '%010d' "$sig_off") 00000 n ${eol}"
  doc+="trailer${eol}<< /Size 5 /Root 1 0 R /Prev ${xref1} >>${eol}startxref${eol}${xref2}${eol}%%EOF${eol}"
  local total=${#doc} text
  case $ranges in
    exact) text="0 ${lt} ${after} $((total - after))" ;;
    fallback) text="0 10 20 30" ;;
    odd) text="0 ${lt} ${after}" ;;
  esac
  text=$(printf '%-40s' "$text")
  doc="${doc:0:range_at}${text}${doc:range_at+40}"
  printf '%s' "$doc" >"$out/$name"
}

make_doc plain-lf $'\n' none 0 exact ' '
make_doc plain-crlf $'\r\n' none 0 exact ' '
make_doc no-space-contents $'\n' none 0 exact ''
make_doc seal-lf $'\n' plain 0 exact ' '
make_doc seal-crlf $'\r\n' plain 0 exact ' '
make_doc seal-encrypted $'\n' plain 1 exact ' '
make_doc fallback $'\n' none 0 fallback ' '
make_doc odd-ranges $'\n' none 0 odd ' '

# Broken files: each stops at a different structural check.
sed 's/%%EOF/%%EOX/g' "$out/plain-lf" >"$out/broken-no-eof"
sed 's/trailer/trailor/g' "$out/plain-lf" >"$out/broken-no-trailer"
sed 's/ImprintInfo \[/ImprintInfo  [/' "$out/seal-lf" >"$out/broken-imprint-bracket"
