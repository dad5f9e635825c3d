#!/usr/bin/env python3
"""Makes the test documents of `tsverify --all` under tests/data/report/.

Only Debian tools: python3, the `openssl` command (ts, cms, dgst) and `qpdf`.
The time-stamps are issued by the committed test PKI (tests/data/pki: the
"VRD Test TSA" under the intermediate and root CAs), so the documents verify
with `--trust-anchor tests/data/pki/root.pem`. Each run issues new tokens
(new genTime), so rerun only to change the documents, and commit the output.

Documents are written by hand: a one-page base revision, then incremental
updates appended to it, each closed by a classic cross-reference table, a
cross-reference stream, or both (a hybrid section). A small DER reader and
writer re-encodes tokens into BER with indefinite lengths, adds a signature
time-stamp to a CMS signature as an unsigned attribute, and swaps the
SignerInfo's signature algorithm for the bare RSA identifier 2.5.8.1.1.

    scripts/make-report-docs.py [--only NAME]... [OUTPUT_DIR]

--only writes just the named documents (the others keep their committed
bytes, and their tokens); it may be given more than once.
"""
import hashlib
import json
import os
import re
import subprocess
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
PKI = os.path.join(ROOT, "tests", "data", "pki")
ARGS = sys.argv[1:]
ONLY = set()
while len(ARGS) >= 2 and ARGS[0] == "--only":
    ONLY.add(ARGS[1])
    ARGS = ARGS[2:]
WRITTEN = set()
OUT = ARGS[0] if ARGS else os.path.join(ROOT, "tests", "data", "report")
WORK = tempfile.mkdtemp()
CONTENTS_HEX_DIGITS = 16384
BYTE_RANGE_SLOT = "/ByteRange [0 0000000000 0000000000 0000000000]"
# Public-key security: the file key sealed for each recipient (here a
# placeholder, the strings are not actually encrypted). qpdf knows only the
# standard security handler, so it cannot open such a document at all.
PUBSEC_TRAILER = (" /Encrypt << /Filter /Adobe.PubSec /SubFilter /adbe.pkcs7.s5 /V 4 /Length 128"
                  " /CF << /DefaultCryptFilter << /CFM /AESV2 /Recipients [<3000>] >> >>"
                  " /StmF /DefaultCryptFilter /StrF /DefaultCryptFilter >>"
                  f" /ID [<{'5a' * 16}> <{'5a' * 16}>]")

TS_CNF = """[tsa]
default_tsa = tsa_report
[tsa_report]
serial = {work}/tsaserial
crypto_device = builtin
signer_digest = sha256
default_policy = 1.2.3.4.1
digests = md5, sha1, sha256, sha384, sha512
accuracy = secs:1
ordering = no
tsa_name = no
ess_cert_id_chain = no
ess_cert_id_alg = sha256
"""


def run(*args, data=None):
    return subprocess.run(args, input=data, check=True, stdout=subprocess.PIPE,
                          stderr=subprocess.PIPE).stdout


# --- the time-stamping authority -------------------------------------------

def setup_tsa():
    with open(os.path.join(WORK, "ts.cnf"), "w") as f:
        f.write(TS_CNF.format(work=WORK))
    with open(os.path.join(WORK, "tsaserial"), "w") as f:
        f.write("2000\n")


def stamp(digest, algorithm="sha256", cert=True, response=False):
    """A DER token whose imprint is digest (bytes) under algorithm; without
    the TSA's certificates when not cert; the whole TimeStampResp if response."""
    query = os.path.join(WORK, "q.tsq")
    token = os.path.join(WORK, "t.der")
    run("openssl", "ts", "-query", "-digest", digest.hex(), "-" + algorithm, "-no_nonce",
        "-out", query, *(["-cert"] if cert else []))
    run("openssl", "ts", "-reply", "-config", os.path.join(WORK, "ts.cnf"), "-queryfile", query,
        "-signer", os.path.join(PKI, "tsa.pem"), "-inkey", os.path.join(PKI, "tsa.key"),
        "-chain", os.path.join(PKI, "inter.pem"), *([] if response else ["-token_out"]),
        "-out", token)
    with open(token, "rb") as f:
        return f.read()


def cms_sign(content):
    """A detached CMS signature (CAdES-style attributes) of content by the TSA key."""
    data = os.path.join(WORK, "content.bin")
    with open(data, "wb") as f:
        f.write(content)
    return run("openssl", "cms", "-sign", "-binary", "-cades", "-outform", "DER",
               "-in", data, "-signer", os.path.join(PKI, "tsa.pem"),
               "-inkey", os.path.join(PKI, "tsa.key"), "-md", "sha256")


# --- a small DER reader and writer -----------------------------------------

class Node:
    """One TLV: tag byte(s), and either raw content or children."""

    def __init__(self, tag, content=b"", children=None):
        self.tag = tag
        self.content = content
        self.children = children

    @property
    def constructed(self):
        return self.tag[0] & 0x20 != 0


def parse(data, pos=0, end=None):
    end = len(data) if end is None else end
    nodes = []
    while pos < end:
        tag_start = pos
        pos += 1
        if data[tag_start] & 0x1F == 0x1F:
            while data[pos] & 0x80:
                pos += 1
            pos += 1
        tag = data[tag_start:pos]
        first = data[pos]
        pos += 1
        if first & 0x80:
            count = first & 0x7F
            length = int.from_bytes(data[pos:pos + count], "big")
            pos += count
        else:
            length = first
        content = data[pos:pos + length]
        node = Node(tag, content)
        if node.constructed:
            node.children = parse(data, pos, pos + length)
        nodes.append(node)
        pos += length
    return nodes


def der_length(n):
    if n < 0x80:
        return bytes([n])
    raw = n.to_bytes((n.bit_length() + 7) // 8, "big")
    return bytes([0x80 | len(raw)]) + raw


def encode(node):
    if node.children is not None:
        body = b"".join(encode(child) for child in node.children)
    else:
        body = node.content
    return node.tag + der_length(len(body)) + body


def encode_ber(node, keep):
    """Indefinite lengths for every constructed node that keep(node) spares."""
    if node.children is None or keep(node):
        return encode(node)
    body = b"".join(encode_ber(child, keep) for child in node.children)
    return node.tag + b"\x80" + body + b"\x00\x00"


def to_ber(token):
    """The token (or signature) with indefinite lengths down to the
    SignerInfo; certificates, signed and unsigned attributes and the TSTInfo
    keep their DER (their signatures and digests are over those bytes), the
    eContent OCTET STRING, if any, is cut in two."""
    content_info = parse(token)[0]
    signed_data = content_info.children[1].children[0]
    keep_ids = set()
    certificates = [c for c in signed_data.children if c.tag == b"\xa0"]
    for cert_set in certificates:
        for cert in cert_set.children:
            keep_ids.add(id(cert))
    signer_infos = signed_data.children[-1]
    for signer_info in signer_infos.children:
        for part in signer_info.children:
            if part.tag in (b"\xa0", b"\xa1"):  # signed and unsigned attributes
                keep_ids.add(id(part))
    encap = signed_data.children[2]
    if len(encap.children) > 1:  # not detached
        octets = encap.children[1].children[0]
        half = len(octets.content) // 2
        encap.children[1].children[0] = Node(b"\x24", children=[
            Node(b"\x04", octets.content[:half]), Node(b"\x04", octets.content[half:])])
    return encode_ber(content_info, lambda n: id(n) in keep_ids)


RSA_ENCRYPTION = bytes.fromhex("06092a864886f70d010101")
X500_RSA = bytes.fromhex("0604550801 01".replace(" ", ""))


def with_x500_rsa(token):
    """The SignerInfo's signatureAlgorithm rewritten to 2.5.8.1.1."""
    content_info = parse(token)[0]
    signer_info = content_info.children[1].children[0].children[-1].children[0]
    for part in signer_info.children:
        if part.tag == b"\x30" and part.children and encode(part.children[0]) == RSA_ENCRYPTION:
            part.children[0] = parse(X500_RSA)[0]
            return encode(content_info)
    raise SystemExit("no rsaEncryption signature algorithm in the token")


def signature_value(cms):
    signer_info = parse(cms)[0].children[1].children[0].children[-1].children[0]
    return signer_info.children[-1].content if signer_info.children[-1].tag == b"\x04" else \
        [p for p in signer_info.children if p.tag == b"\x04"][-1].content


def add_signature_time_stamp(cms):
    """cms with an id-aa-timeStampToken unsigned attribute over its signature."""
    content_info = parse(cms)[0]
    signer_info = content_info.children[1].children[0].children[-1].children[0]
    value = [p for p in signer_info.children if p.tag == b"\x04"][-1].content
    token = stamp(hashlib.sha256(value).digest())
    attribute = Node(b"\x30", children=[
        parse(bytes.fromhex("060b2a864886f70d010910020e"))[0],
        Node(b"\x31", children=[parse(token)[0]])])
    signer_info.children.append(Node(b"\xa1", children=[attribute]))
    return encode(content_info)


# --- PDF writing ------------------------------------------------------------

PAGE_TEXT = b"BT /F1 18 Tf 72 760 Td (Report test document) Tj ET"


class Document:
    def __init__(self):
        self.data = bytearray()
        self.offsets = {}
        self.size = 1
        self.last_xref = None
        self.catalog = "/Type /Catalog /Pages 2 0 R"
        self.page = ("/Type /Page /Parent 2 0 R /MediaBox [0 0 595 842] /Contents 4 0 R "
                     "/Resources << /Font << /F1 5 0 R >> >>")
        self.fields = []
        self.root = 1
        self.page_number = 3
        self.string_key = None  # the file key of an AES-256 encrypted base
        self.trailer_extra = ""  # its /Encrypt and /ID, repeated by every update

    def string(self, text):
        """A PDF string token for text, encrypted as the base's strings are
        (AES-256: a fresh IV, then CBC with PKCS#7 padding, no per-object key)."""
        if self.string_key is None:
            return f"({text})"
        iv = os.urandom(16)
        sealed = run("openssl", "enc", "-aes-256-cbc", "-K", self.string_key.hex(), "-iv",
                     iv.hex(), data=text.encode("latin-1"))
        return f"<{(iv + sealed).hex()}>"

    def emit(self, text):
        self.data += text.encode("latin-1") if isinstance(text, str) else text

    def object(self, number, body):
        self.offsets[number] = len(self.data)
        self.emit(f"{number} 0 obj\n")
        self.emit(body)
        self.emit("\nendobj\n")
        self.size = max(self.size, number + 1)

    def new_number(self):
        self.size += 1
        return self.size - 1

    def base(self):
        self.emit(b"%PDF-1.7\n%\xe2\xe3\xcf\xd3\n")
        self.object(1, f"<< {self.catalog} >>")
        self.object(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>")
        self.object(3, f"<< {self.page} >>")
        self.object(4, f"<< /Length {len(PAGE_TEXT)} >>\nstream\n".encode() + PAGE_TEXT +
                    b"\nendstream")
        self.object(5, "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>")
        self.close_classic(list(self.offsets))

    def trailer_entries(self):
        prev = f" /Prev {self.last_xref}" if self.last_xref is not None else ""
        return f"/Size {self.size} /Root {self.root} 0 R{prev}{self.trailer_extra}"

    def close_classic(self, numbers, extra=""):
        xref = len(self.data)
        self.emit("xref\n")
        if self.last_xref is None:
            self.emit(f"0 {max(numbers) + 1}\n0000000000 65535 f \n")
            for n in range(1, max(numbers) + 1):
                self.emit(f"{self.offsets[n]:010d} 00000 n \n")
        else:
            for n in sorted(numbers):
                self.emit(f"{n} 1\n{self.offsets[n]:010d} 00000 n \n")
        self.emit(f"trailer\n<< {self.trailer_entries()}{extra} >>\nstartxref\n{xref}\n%%EOF\n")
        self.last_xref = xref

    def xref_stream(self, numbers):
        number = self.new_number()
        numbers = sorted(numbers + [number])
        self.offsets[number] = len(self.data)
        rows = b""
        for n in numbers:
            rows += b"\x01" + self.offsets[n].to_bytes(4, "big") + b"\x00\x00"
        index = " ".join(f"{n} 1" for n in numbers)
        self.offsets[number] = len(self.data)
        self.emit(f"{number} 0 obj\n<< /Type /XRef /W [1 4 2] /Index [{index}] "
                  f"{self.trailer_entries()} /Length {len(rows)} >>\nstream\n")
        self.emit(rows)
        self.emit("\nendstream\nendobj\n")
        return number

    def close_stream(self, numbers):
        number = self.xref_stream(numbers)
        self.emit(f"startxref\n{self.offsets[number]}\n%%EOF\n")
        self.last_xref = self.offsets[number]

    def close_hybrid(self, numbers, stream_only):
        """Classic table for numbers less stream_only; a /XRefStm for all."""
        number = self.xref_stream(numbers)
        self.close_classic([n for n in numbers if n not in stream_only],
                           extra=f" /XRefStm {self.offsets[number]}")

    def close(self, numbers, xref, stream_only=()):
        if xref == "classic":
            self.close_classic(numbers)
        elif xref == "stream":
            self.close_stream(numbers)
        else:
            self.close_hybrid(numbers, list(stream_only))

    def sign(self, name, kind, xref="classic", token_for=None, hybrid_hide_sig=False, ber=False,
             form_resources=None):
        """Appends a revision with a new signature field. kind: "doc" (document
        time-stamp), "cms" (ordinary signature) or "cms+ts" (with a signature
        time-stamp). token_for(covered bytes) returns /Contents; ber re-encodes
        an ordinary signature in BER. form_resources(doc) writes objects of
        the update and returns the form's /DR, as signing applications add
        fonts for field appearances."""
        field = self.new_number()
        sig = self.new_number()
        self.fields.append(field)
        if kind == "doc":
            head = "/Type /DocTimeStamp /Filter /Adobe.PPKLite /SubFilter /ETSI.RFC3161"
        else:
            head = "/Type /Sig /Filter /Adobe.PPKLite /SubFilter /ETSI.CAdES.detached"
        self.object(field, f"<< /Type /Annot /Subtype /Widget /FT /Sig /T {self.string(name)} "
                           f"/Rect [0 0 0 0] /F 132 /P {self.page_number} 0 R /V {sig} 0 R >>")
        sig_offset = len(self.data)
        self.object(sig, f"<< {head} {BYTE_RANGE_SLOT} /Contents <{'0' * CONTENTS_HEX_DIGITS}>"
                         f" /M {self.string('D:20260101000000Z')} >>")
        annots = " ".join(f"{f} 0 R" for f in self.fields)
        self.object(self.page_number, f"<< {self.page} /Annots [{annots}] >>")
        before = set(self.offsets.items())
        resources = f" /DR {form_resources(self)}" if form_resources else ""
        written = [n for n, at in self.offsets.items() if (n, at) not in before]
        self.object(self.root, f"<< {self.catalog} /AcroForm << /Fields [{annots}] "
                               f"/SigFlags 3{resources} >> >>")
        self.close([field, sig, self.page_number, self.root] + written, xref,
                   stream_only=[sig] if hybrid_hide_sig else [])
        # Fill /ByteRange and /Contents in place.
        gap_start = self.data.index(b"/Contents <", sig_offset) + len("/Contents ")
        gap_end = gap_start + CONTENTS_HEX_DIGITS + 2
        end = len(self.data)
        ranges = (0, gap_start, gap_end, end - gap_end)
        slot = self.data.index(BYTE_RANGE_SLOT.encode(), sig_offset)
        text = f"/ByteRange [{ranges[0]} {ranges[1]} {ranges[2]} {ranges[3]}]"
        self.data[slot:slot + len(BYTE_RANGE_SLOT)] = text.ljust(len(BYTE_RANGE_SLOT)).encode()
        covered = bytes(self.data[0:gap_start]) + bytes(self.data[gap_end:end])
        if kind == "doc":
            contents = (token_for or (lambda c: stamp(hashlib.sha256(c).digest())))(covered)
        else:
            contents = cms_sign(covered)
            if kind == "cms+ts":
                contents = add_signature_time_stamp(contents)
            if ber:
                contents = to_ber(contents)
        hex_text = contents.hex().encode()
        assert len(hex_text) <= CONTENTS_HEX_DIGITS, "token too long for /Contents"
        self.data[gap_start + 1:gap_start + 1 + len(hex_text)] = hex_text
        return ranges

    def add_dss(self, xref="classic", certs=("root",)):
        """Appends a revision that only adds validation data (/DSS)."""
        numbers = []
        for name in certs:
            with open(os.path.join(PKI, name + ".der"), "rb") as f:
                der = f.read()
            numbers.append(self.new_number())
            self.object(numbers[-1], f"<< /Length {len(der)} >>\nstream\n".encode() + der +
                        b"\nendstream")
        dss = self.new_number()
        refs = " ".join(f"{n} 0 R" for n in numbers)
        self.object(dss, f"<< /Type /DSS /Certs [{refs}] >>")
        annots = " ".join(f"{f} 0 R" for f in self.fields)
        self.catalog += f" /DSS {dss} 0 R"
        self.object(self.root, f"<< {self.catalog} /AcroForm << /Fields [{annots}] "
                               f"/SigFlags 3 >> >>")
        self.close(numbers + [dss, self.root], xref)

    def change_page(self, xref="classic"):
        """Appends a revision that replaces the page's content stream."""
        text = b"BT /F1 18 Tf 72 700 Td (Changed after the time-stamp) Tj ET"
        self.object(4, f"<< /Length {len(text)} >>\nstream\n".encode() + text + b"\nendstream")
        self.close([4], xref)

    def resave(self, xref="classic"):
        """Appends a revision that writes the page's content stream and font
        again, unchanged (as some producers do on every save)."""
        self.object(4, f"<< /Length {len(PAGE_TEXT)} >>\nstream\n".encode() + PAGE_TEXT +
                    b"\nendstream")
        self.object(5, "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>")
        self.close([4, 5], xref)

    def change_media_box(self, xref="classic"):
        """Appends a revision that rewrites the page with a new /MediaBox and
        its /Annots kept: the page object changes in more than /Annots."""
        annots = " ".join(f"{f} 0 R" for f in self.fields)
        self.page = self.page.replace("/MediaBox [0 0 595 842]", "/MediaBox [0 0 842 595]")
        self.object(self.page_number, f"<< {self.page} /Annots [{annots}] >>")
        self.close([self.page_number], xref)

    def write(self, name):
        write_file(name, self.data)


def write_file(name, data):
    WRITTEN.add(name)
    if not ONLY or name in ONLY:
        with open(os.path.join(OUT, name), "wb") as f:
            f.write(data)


def qpdf_base(*options):
    """A base revision rewritten by qpdf with options (object streams,
    linearization, encryption); object numbers are read back from qpdf's
    JSON."""
    doc = Document()
    doc.base()
    plain = os.path.join(WORK, "plain.pdf")
    packed = os.path.join(WORK, "packed.pdf")
    with open(plain, "wb") as f:
        f.write(doc.data)
    run("qpdf", *options, "--static-id", plain, packed)
    info = json.loads(run("qpdf", "--json=2", "--json-key=pages", "--json-key=qpdf", packed))
    objects = info["qpdf"][1]
    trailer = objects["trailer"]["value"]
    root = int(trailer["/Root"].split()[0])
    page = int(info["pages"][0]["object"].split()[0])
    page_dict = objects[f"obj:{page} 0 R"]["value"]
    font = page_dict["/Resources"]["/Font"]["/F1"]
    out = Document()
    with open(packed, "rb") as f:
        out.data = bytearray(f.read())
    out.size = int(trailer["/Size"])
    out.last_xref = int(re.findall(rb"startxref\s+(\d+)", bytes(out.data))[-1])
    out.root = root
    out.page_number = page
    out.catalog = f"/Type /Catalog /Pages {objects[f'obj:{root} 0 R']['value']['/Pages']}"
    out.page = (f"/Type /Page /Parent {page_dict['/Parent']} /MediaBox [0 0 595 842] "
                f"/Contents {page_dict['/Contents']} /Resources << /Font << /F1 {font} >> >>")
    if "/Encrypt" in trailer:
        shown = run("qpdf", "--show-encryption-key", "--show-encryption", packed).decode()
        out.string_key = bytes.fromhex(re.search(r"Encryption key = ([0-9a-f]+)", shown)[1])
        ids = "".join(f"<{text[2:]}>" for text in trailer["/ID"])
        out.trailer_extra = f" /Encrypt {trailer['/Encrypt']} /ID [{ids}]"
    return out


def main():
    os.makedirs(OUT, exist_ok=True)
    setup_tsa()

    def doc_with(*steps):
        doc = Document()
        doc.base()
        for step in steps:
            step(doc)
        return doc

    # One document time-stamp over the whole file.
    doc_with(lambda d: d.sign("TS1", "doc")).write("doc-ts.pdf")
    # Base with object streams and a cross-reference stream; the time-stamp's
    # revision closes with a cross-reference stream too.
    d = qpdf_base("--object-streams=generate")
    d.sign("TS1", "doc", xref="stream")
    d.write("xref-stream.pdf")
    # A linearized base (its first-page section has an "%%EOF" of its own).
    d = qpdf_base("--linearize")
    d.sign("TS1", "doc")
    d.write("linearized.pdf")
    # An encrypted base (AES-256, owner password only, as restricted
    # documents are): strings are encrypted, /Contents is not.
    d = qpdf_base("--encrypt", "", "owner", "256", "--")
    d.sign("TS1", "doc")
    d.write("encrypted.pdf")
    # Hybrid: classic table plus /XRefStm; the signature dictionary is listed
    # in the stream only.
    doc_with(lambda d: d.sign("TS1", "doc", xref="hybrid", hybrid_hide_sig=True)).write(
        "hybrid.pdf")
    # A later revision that adds only /DSS data.
    doc_with(lambda d: d.sign("TS1", "doc"), lambda d: d.add_dss()).write("dss-after.pdf")
    # An ordinary signature after the time-stamp, then /DSS.
    doc_with(lambda d: d.sign("TS1", "doc"), lambda d: d.sign("Sig2", "cms"),
             lambda d: d.add_dss(xref="stream")).write("sig-after-ts.pdf")
    # A later revision that writes objects again unchanged, then /DSS.
    doc_with(lambda d: d.sign("TS1", "doc"), lambda d: d.resave(), lambda d: d.add_dss()).write(
        "resaved-after.pdf")
    # A token without certificates; the TSA's and the intermediate's
    # certificates come later in the /DSS.
    doc_with(lambda d: d.sign("TS1", "doc", token_for=lambda c: stamp(
        hashlib.sha256(c).digest(), cert=False)),
        lambda d: d.add_dss(certs=("tsa", "inter"))).write("nocert-dss.pdf")
    # The whole TimeStampResp stored as /Contents.
    doc_with(lambda d: d.sign("TS1", "doc", token_for=lambda c: stamp(
        hashlib.sha256(c).digest(), response=True))).write("ts-response.pdf")
    # A later revision that turns the page (its /MediaBox) and nothing else.
    doc_with(lambda d: d.sign("TS1", "doc"), lambda d: d.change_media_box()).write(
        "page-changed-after.pdf")
    # A later revision that changes the page content.
    doc_with(lambda d: d.sign("TS1", "doc"), lambda d: d.change_page()).write(
        "changed-after.pdf")
    # Two document time-stamps.
    doc_with(lambda d: d.sign("TS1", "doc"), lambda d: d.sign("TS2", "doc")).write(
        "two-doc-ts.pdf")
    # An ordinary signature carrying a signature time-stamp.
    doc_with(lambda d: d.sign("Sig1", "cms+ts")).write("sig-with-ts.pdf")
    # A signature after the time-stamp whose update gives the form a new
    # font for field appearances; and one whose update rewrites the page's
    # own font (to Courier) and names it in the form's resources.
    def new_form_font(d):
        font = d.new_number()
        d.object(font, "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica "
                       "/Encoding /WinAnsiEncoding >>")
        return f"<< /Font << /Helv {font} 0 R >> >>"

    def changed_page_font(d):
        d.object(5, "<< /Type /Font /Subtype /Type1 /BaseFont /Courier >>")
        return "<< /Font << /F1 5 0 R >> >>"
    doc_with(lambda d: d.sign("TS1", "doc"),
             lambda d: d.sign("Sig2", "cms", form_resources=new_form_font)).write(
        "form-font-after.pdf")
    doc_with(lambda d: d.sign("TS1", "doc"),
             lambda d: d.sign("Sig2", "cms", form_resources=changed_page_font)).write(
        "page-font-changed-after.pdf")
    # An ordinary signature in BER (as some signing products write it)
    # carrying a signature time-stamp.
    doc_with(lambda d: d.sign("Sig1", "cms+ts", ber=True)).write("ber-signature.pdf")
    # BER token with indefinite lengths.
    doc_with(lambda d: d.sign("TS1", "doc", token_for=lambda c: to_ber(
        stamp(hashlib.sha256(c).digest())))).write("ber-token.pdf")
    # SHA-1 imprint.
    doc_with(lambda d: d.sign("TS1", "doc", token_for=lambda c: stamp(
        hashlib.sha1(c).digest(), "sha1"))).write("sha1-imprint.pdf")
    # Signature algorithm 2.5.8.1.1.
    doc_with(lambda d: d.sign("TS1", "doc", token_for=lambda c: with_x500_rsa(
        stamp(hashlib.sha256(c).digest())))).write("x500-rsa.pdf")
    # A /ByteRange that stops short of the end of the file: the last range is
    # cut by the trailer's length, and the imprint made over what it names.
    doc = Document()
    doc.base()
    ranges = doc.sign("TS1", "doc", token_for=lambda c: b"")
    short = (ranges[0], ranges[1], ranges[2], ranges[3] - 40)
    slot = doc.data.index(b"/ByteRange [", 0)
    old = f"/ByteRange [{ranges[0]} {ranges[1]} {ranges[2]} {ranges[3]}]"
    new = f"/ByteRange [{short[0]} {short[1]} {short[2]} {short[3]}]".ljust(len(old))
    doc.data[slot:slot + len(old)] = new.encode()
    covered = bytes(doc.data[0:short[1]]) + bytes(doc.data[short[2]:short[2] + short[3]])
    token_hex = stamp(hashlib.sha256(covered).digest()).hex().encode()
    doc.data[short[1] + 1:short[1] + 1 + len(token_hex)] = token_hex
    doc.write("short-range.pdf")
    # One altered byte in the first range (the page text) and in the second
    # (the /M date after /Contents).
    good = doc_with(lambda d: d.sign("TS1", "doc"))
    altered = bytearray(good.data)
    at = altered.index(b"Report test document")
    altered[at] = ord("r")
    write_file("altered-range1.pdf", altered)
    altered = bytearray(good.data)
    at = altered.index(b"(D:20260101000000Z)") + 4
    altered[at] = ord("3")
    write_file("altered-range2.pdf", altered)
    # A damaged last revision (its startxref points 7 bytes off): qpdf
    # rebuilds the cross-reference; the time-stamped revision is intact.
    damaged = doc_with(lambda d: d.sign("TS1", "doc"), lambda d: d.add_dss())
    text = bytes(damaged.data)
    at = text.rindex(b"startxref\n") + len(b"startxref\n")
    end = text.index(b"\n", at)
    damaged.data[at:end] = str(int(text[at:end]) + 7).encode()
    damaged.write("damaged-xref.pdf")
    # No signature at all; and a file qpdf cannot open.
    doc_with().write("unsigned.pdf")
    write_file("not-a-pdf.pdf", b"%PDF-1.7\nthis is not a PDF body\n")
    # Public-key encryption: qpdf cannot open the document, but signature
    # dictionaries are never encrypted, so the time-stamp is in the clear.
    d = Document()
    d.trailer_extra = PUBSEC_TRAILER
    d.base()
    d.sign("TS1", "doc")
    d.write("pubsec.pdf")
    if ONLY - WRITTEN:
        raise SystemExit(f"no such document: {' '.join(sorted(ONLY - WRITTEN))}")


if __name__ == "__main__":
    main()
