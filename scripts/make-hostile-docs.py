#!/usr/bin/env python3
"""Makes the hostile documents that `tsverify --all` must survive.

Each is a stamped test document (tests/data/report/doc-ts.pdf) with one or
more incremental updates appended: small files built to cost a careless
reader gigabytes or minutes. They are made anew for each run (the fuzz stage
adds them to the report fuzzer's corpus, the limits stage times them), not
stored, since several are large.

    scripts/make-hostile-docs.py OUTPUT_DIR [NAME]...

Without names, every document is written. Only the Python standard library.
"""
import os
import re
import sys
import zlib

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BASE = os.path.join(ROOT, "tests", "data", "report", "doc-ts.pdf")
# What a bomb inflates to: far past any budget, yet quick to compress.
BOMB_BYTES = 1536 * 1024 * 1024


def flate_twice(size):
    """Zeros of the given size, deflated, then deflated again: a few KB.

    After a full flush deflate starts afresh, so every 16 MiB chunk of zeros
    compresses to the same bytes: one chunk is compressed and repeated."""
    chunk = 16 * 1024 * 1024
    raw = zlib.compressobj(9, zlib.DEFLATED, -15)
    block = raw.compress(bytes(chunk)) + raw.flush(zlib.Z_FULL_FLUSH)
    end = raw.flush()
    adler = size % 65521 << 16 | 1  # zeros leave the first sum at 1
    inner = b"\x78\xda" + block * (size // chunk) + end + adler.to_bytes(4, "big")
    return zlib.compress(inner, 9)


class Update:
    """One incremental update appended to the document bytes."""

    def __init__(self, data, size):
        self.data = bytearray(data)
        self.size = size  # the trailer's /Size before this update
        self.offsets = {}
        self.prev = int(re.findall(rb"startxref\s+(\d+)", data)[-1])

    def add(self, number, body):
        self.offsets[number] = len(self.data)
        self.data += b"%d 0 obj\n" % number + body + b"\nendobj\n"
        self.size = max(self.size, number + 1)

    def new(self, body):
        number = self.size
        self.add(number, body)
        return number

    def close_with_table(self, root=1):
        start = len(self.data)
        lines = [b"xref\n"]
        for number in sorted(self.offsets):
            lines.append(b"%d 1\n%010d 00000 n \n" % (number, self.offsets[number]))
        lines.append(b"trailer\n<< /Size %d /Root %d 0 R /Prev %d >>\n" %
                     (self.size, root, self.prev))
        lines.append(b"startxref\n%d\n%%%%EOF\n" % start)
        self.data += b"".join(lines)
        return bytes(self.data)

    def close_with_stream(self, entries, root=1, data=None, filters=b""):
        """entries: (number, type, field2, field3); data replaces the rows."""
        number = self.size
        self.size += 1
        start = len(self.data)
        entries = list(entries) + [(number, 1, start, 0)]
        rows = b"".join(bytes([kind]) + f2.to_bytes(4, "big") + f3.to_bytes(2, "big")
                        for _, kind, f2, f3 in sorted(entries))
        index = b" ".join(b"%d 1" % n for n, _, _, _ in sorted(entries))
        body = data if data is not None else rows
        self.data += (b"%d 0 obj\n<< /Type /XRef /Size %d /Root %d 0 R /Prev %d /W [1 4 2]"
                      b" /Index [%s] /Length %d%s >>\nstream\n" %
                      (number, self.size, root, self.prev, index, len(body), filters))
        self.data += body + b"\nendstream\nendobj\n"
        self.data += b"startxref\n%d\n%%%%EOF\n" % start
        return bytes(self.data)


def base():
    with open(BASE, "rb") as f:
        return f.read()


def token_hex(data):
    hexes = re.search(rb"/Contents <([0-9a-f]+)>", data).group(1)
    return hexes.rstrip(b"0") + b"00"


CATALOG = b"<< /Type /Catalog /Pages 2 0 R /AcroForm << /Fields [%s] /SigFlags 3 >>%s >>"


def certs_bomb():
    """/DSS /Certs listing one stream that inflates to 1.5 GB, a thousand times."""
    data = base()
    up = Update(data, 8)
    bomb = flate_twice(BOMB_BYTES)
    stream = up.new(b"<< /Length %d /Filter [/FlateDecode /FlateDecode] >>\nstream\n" %
                    len(bomb) + bomb + b"\nendstream")
    dss = up.new(b"<< /Certs [%s] >>" % b" ".join([b"%d 0 R" % stream] * 1000))
    up.add(1, CATALOG % (b"6 0 R", b" /DSS %d 0 R" % dss))
    return up.close_with_table()


def objstm_bomb():
    """The catalog moved into an object stream that inflates to 1.5 GB."""
    data = base()
    up = Update(data, 8)
    bomb = flate_twice(BOMB_BYTES)
    stream = up.new(b"<< /Type /ObjStm /N 1 /First 4 /Length %d /Filter [/FlateDecode"
                    b" /FlateDecode] >>\nstream\n" % len(bomb) + bomb + b"\nendstream")
    return up.close_with_stream([(1, 2, stream, 0), (stream, 1, up.offsets[stream], 0)])


def xref_bomb():
    """A cross-reference stream that inflates to 1.5 GB."""
    data = base()
    up = Update(data, 8)
    return up.close_with_stream([], data=flate_twice(BOMB_BYTES),
                                filters=b" /Filter [/FlateDecode /FlateDecode]")


def stamped_revisions(count, data=None):
    """count more revisions, each adding a document time-stamp field."""
    data = data or base()
    token = token_hex(data)
    fields = [b"6 0 R"]
    size = 8
    for _ in range(count):
        up = Update(data, size)
        field = up.size
        value = field + 1
        start = len(up.data)
        up.add(field, b"<< /FT /Sig /T (TS%d) /V %d 0 R >>" % (field, value))
        up.add(value, b"<< /Type /DocTimeStamp /SubFilter /ETSI.RFC3161 /ByteRange [0 %d %d 0]"
               b" /Contents <%s> >>" % (start, start, token))
        fields.append(b"%d 0 R" % field)
        up.add(1, CATALOG % (b" ".join(fields), b""))
        data = up.close_with_table()
        size = up.size
    return data, size


def revisions_1000():
    """A thousand revisions, each with a document time-stamp."""
    return stamped_revisions(1000)[0]


def later_objects():
    """A thousand document time-stamps, then a revision of 50,000 small objects."""
    data, size = stamped_revisions(1000)
    up = Update(data, size)
    for _ in range(50000):
        up.new(b"<< /K 1 >>")
    up.add(2, b"<< /Type /Pages /Kids [3 0 R] /Count 1 /Extra [%s] >>" %
           b" ".join(b"%d 0 R" % n for n in range(size, size + 50000, 97)))
    return up.close_with_table()


def fields_50k():
    """50,000 signature fields sharing one value."""
    data = base()
    up = Update(data, 8)
    first = up.size
    for number in range(first, first + 50000):
        up.add(number, b"<< /FT /Sig /T (F%d) /V 7 0 R >>" % number)
    fields = b" ".join(b"%d 0 R" % n for n in range(first, first + 50000))
    up.add(1, CATALOG % (fields, b""))
    return up.close_with_table()


def recovery_comments():
    """10,000 comment lines and no usable cross-reference: only recovery reads it."""
    data = base()
    head, rest = data.split(b"\n", 1)
    comments = b"".join(b"%% line %05d %s\n" % (i, b"x" * 84) for i in range(10000))
    broken = re.sub(rb"startxref\s+\d+", b"startxref\n999999999", rest)
    return head + b"\n" + comments + broken


def fake_markers():
    """Ten fake revision ends inside a 9 MB stream of a last revision."""
    data = base()
    up = Update(data, 8)
    filler = bytearray()
    piece = b"q Q " * (235 * 1024 // 4)
    for i in range(10):
        filler += piece * 4 + b"\nstartxref\n%d\n%%%%EOF\n" % (1000 * (i + 1))
    up.new(b"<< /Length %d >>\nstream\n" % len(filler) + bytes(filler) + b"\nendstream")
    return up.close_with_table()


DOCUMENTS = {
    "certs-bomb": certs_bomb,
    "objstm-bomb": objstm_bomb,
    "xref-bomb": xref_bomb,
    "revisions-1000": revisions_1000,
    "later-objects": later_objects,
    "fields-50k": fields_50k,
    "recovery-comments": recovery_comments,
    "fake-markers": fake_markers,
}


def main():
    if len(sys.argv) < 2:
        sys.exit("usage: make-hostile-docs.py OUTPUT_DIR [NAME]...")
    out = sys.argv[1]
    names = sys.argv[2:] or list(DOCUMENTS)
    os.makedirs(out, exist_ok=True)
    for name in names:
        if name not in DOCUMENTS:
            sys.exit(f"unknown document {name}; known: {' '.join(DOCUMENTS)}")
        with open(os.path.join(out, name + ".pdf"), "wb") as f:
            f.write(DOCUMENTS[name]())


if __name__ == "__main__":
    main()
