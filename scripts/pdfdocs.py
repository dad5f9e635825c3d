"""Pieces shared by the scripts that make stamped test PDFs by hand
(make-report-docs.py, make-ltv-docs.py).

- run(): a command's standard output, raising on failure.
- Node, parse(), encode(), encode_ber(): a small DER reader and writer.
- Document: a one-page base revision, then incremental updates appended to
  it, each closed by a classic cross-reference table, a cross-reference
  stream, or both (a hybrid section); sign() adds a signature field whose
  /ByteRange covers the file but its /Contents hex string and fills
  /Contents; add_validation_data() writes (or rewrites) the catalog's /DSS.

A script subclasses Document and supplies default_token() (the token of a
document time-stamp over the covered bytes) and, for ordinary signatures,
signature().
"""
import hashlib
import os
import subprocess
import sys

CONTENTS_HEX_DIGITS = 16384
BYTE_RANGE_SLOT = "/ByteRange [0 0000000000 0000000000 0000000000]"


def run(*args, data=None, env=None):
    """The standard output of a command; its standard error is shown when it fails."""
    try:
        return subprocess.run(args, input=data, check=True, stdout=subprocess.PIPE,
                              stderr=subprocess.PIPE, env=env).stdout
    except subprocess.CalledProcessError as e:
        sys.stderr.write(e.stderr.decode(errors="replace"))
        raise


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


# --- PDF writing ------------------------------------------------------------

class Document:
    PAGE_TEXT = b"BT /F1 18 Tf 72 760 Td (Report test document) Tj ET"

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
        self.signature_contents = {}  # field name -> the bytes of its /Contents string
        self.dss = None  # (object number, {"Certs": [...], ...}, {vri key: {...}})

    # Supplied by the script.
    def default_token(self, covered):
        """The token of a document time-stamp over the covered bytes."""
        raise NotImplementedError

    def signature(self, covered, kind, ber):
        """/Contents of an ordinary signature ("cms" or "cms+ts")."""
        raise NotImplementedError

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

    def stream_object(self, number, data, entries=""):
        self.object(number, f"<< /Length {len(data)}{entries} >>\nstream\n".encode() + data +
                    b"\nendstream")

    def new_number(self):
        self.size += 1
        return self.size - 1

    def base(self, xref="classic"):
        self.emit(b"%PDF-1.7\n%\xe2\xe3\xcf\xd3\n")
        self.object(1, f"<< {self.catalog} >>")
        self.object(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>")
        self.object(3, f"<< {self.page} >>")
        self.object(4, f"<< /Length {len(self.PAGE_TEXT)} >>\nstream\n".encode() +
                    self.PAGE_TEXT + b"\nendstream")
        self.object(5, "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>")
        self.close(list(self.offsets), xref)

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
        """A cross-reference stream for numbers (and itself); in a first
        revision it also lists object 0 as free."""
        number = self.new_number()
        numbers = sorted(numbers + [number])
        self.offsets[number] = len(self.data)
        rows = b""
        if self.last_xref is None:
            rows += b"\x00\x00\x00\x00\x00\xff\xff"
            numbers = [0] + numbers
        for n in numbers:
            if n:
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

    def catalog_object(self, resources=""):
        annots = " ".join(f"{f} 0 R" for f in self.fields)
        self.object(self.root, f"<< {self.catalog} /AcroForm << /Fields [{annots}] "
                               f"/SigFlags 3{resources} >> >>")

    def sign(self, name, kind, xref="classic", token_for=None, hybrid_hide_sig=False, ber=False,
             form_resources=None, signing_time="D:20260101000000Z"):
        """Appends a revision with a new signature field. kind: "doc" (document
        time-stamp), "cms" (ordinary signature) or "cms+ts" (with a signature
        time-stamp). token_for(covered bytes) returns /Contents; ber re-encodes
        an ordinary signature in BER. form_resources(doc) writes objects of
        the update and returns the form's /DR, as signing applications add
        fonts for field appearances. signing_time is the /M date."""
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
                         f" /M {self.string(signing_time)} >>")
        annots = " ".join(f"{f} 0 R" for f in self.fields)
        self.object(self.page_number, f"<< {self.page} /Annots [{annots}] >>")
        before = set(self.offsets.items())
        resources = f" /DR {form_resources(self)}" if form_resources else ""
        written = [n for n, at in self.offsets.items() if (n, at) not in before]
        self.catalog_object(resources)
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
            contents = (token_for or self.default_token)(covered)
        else:
            contents = self.signature(covered, kind, ber)
        hex_text = contents.hex().encode()
        assert len(hex_text) <= CONTENTS_HEX_DIGITS, "token too long for /Contents"
        self.data[gap_start + 1:gap_start + 1 + len(hex_text)] = hex_text
        self.signature_contents[name] = bytes.fromhex(
            self.data[gap_start + 1:gap_end - 1].decode())
        return ranges

    def vri_key(self, name):
        """The /VRI key of a signature: the SHA-1 of the bytes of its
        /Contents string (all of them, the zero padding too), upper-case hex."""
        return hashlib.sha1(self.signature_contents[name]).hexdigest().upper()

    def add_validation_data(self, certs=(), crls=(), ocsps=(), vri_for=(), xref="classic"):
        """Appends a revision that writes the catalog's /DSS dictionary (a
        later one rewrites the same object): the entries of the previous
        /DSS (same stream objects) plus the DER items given, each written once as a stream (an item already
        listed keeps its stream). The /VRI entries of the previous /DSS stay;
        each signature named in vri_for gets an entry listing this revision's
        items (merged with the entry it had)."""
        numbers = []
        old = self.dss[1] if self.dss else {"Certs": [], "CRLs": [], "OCSPs": []}
        old_vri = self.dss[2] if self.dss else {}
        streams = {der: n for key in old for der, n in old[key]}
        lists = {key: list(old[key]) for key in old}
        added = {"Certs": [], "CRLs": [], "OCSPs": []}
        for key, items in (("Certs", certs), ("CRLs", crls), ("OCSPs", ocsps)):
            for der in items:
                if der not in streams:
                    streams[der] = self.new_number()
                    numbers.append(streams[der])
                    self.stream_object(streams[der], der)
                    lists[key].append((der, streams[der]))
                if streams[der] not in added[key]:
                    added[key].append(streams[der])
        vri = {k: {key: list(v[key]) for key in v} for k, v in old_vri.items()}
        for name in vri_for:
            entry = vri.setdefault(self.vri_key(name), {"Cert": [], "CRL": [], "OCSP": []})
            for key, vkey in (("Certs", "Cert"), ("CRLs", "CRL"), ("OCSPs", "OCSP")):
                entry[vkey] += [n for n in added[key] if n not in entry[vkey]]

        def refs(ns):
            return " ".join(f"{n} 0 R" for n in ns)
        dss = self.dss[0] if self.dss else self.new_number()
        body = "<< /Type /DSS"
        for key in ("Certs", "CRLs", "OCSPs"):
            if lists[key]:
                body += f" /{key} [{refs(n for _, n in lists[key])}]"
        if vri:
            body += " /VRI <<"
            for key in sorted(vri):
                body += f" /{key} <<"
                for vkey in ("Cert", "CRL", "OCSP"):
                    if vri[key][vkey]:
                        body += f" /{vkey} [{refs(vri[key][vkey])}]"
                body += " >>"
            body += " >>"
        self.object(dss, body + " >>")
        if not self.dss:
            self.catalog += f" /DSS {dss} 0 R"
        self.dss = (dss, lists, vri)
        self.catalog_object()
        self.close(numbers + [dss, self.root], xref)
