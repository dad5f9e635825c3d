#!/usr/bin/env python3
"""Makes the test documents of `tsverify --all` under tests/data/report/.

Only Debian tools: python3, the `openssl` command (ts, cms, dgst) and `qpdf`.
The time-stamps are issued by the committed test PKI (tests/data/pki: the
"VRD Test TSA" under the intermediate and root CAs), so the documents verify
with `--trust-anchor tests/data/pki/root.pem`. Each run issues new tokens
(new genTime), so rerun only to change the documents, and commit the output.

Documents are written by hand (scripts/pdfdocs.py, shared with
make-ltv-docs.py): a one-page base revision, then incremental updates
appended to it, each closed by a classic cross-reference table, a
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
import sys
import tempfile

sys.dont_write_bytecode = True
from pdfdocs import Document, Node, encode, encode_ber, parse, run  # noqa: E402

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


# --- re-encoding tokens and signatures -------------------------------------

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

class ReportDocument(Document):
    """The documents of this script: tokens and signatures from the test PKI."""

    def default_token(self, covered):
        return stamp(hashlib.sha256(covered).digest())

    def signature(self, covered, kind, ber):
        contents = cms_sign(covered)
        if kind == "cms+ts":
            contents = add_signature_time_stamp(contents)
        if ber:
            contents = to_ber(contents)
        return contents

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
        self.object(4, f"<< /Length {len(self.PAGE_TEXT)} >>\nstream\n".encode() +
                    self.PAGE_TEXT + b"\nendstream")
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
    doc = ReportDocument()
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
    out = ReportDocument()
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
        doc = ReportDocument()
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
    doc = ReportDocument()
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
    d = ReportDocument()
    d.trailer_extra = PUBSEC_TRAILER
    d.base()
    d.sign("TS1", "doc")
    d.write("pubsec.pdf")
    if ONLY - WRITTEN:
        raise SystemExit(f"no such document: {' '.join(sorted(ONLY - WRITTEN))}")


if __name__ == "__main__":
    main()
