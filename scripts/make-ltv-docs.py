#!/usr/bin/env python3
"""Makes the long-term validation test documents under tests/data/ltv/.

    scripts/make-ltv-docs.py [OUTPUT_DIR]
    scripts/make-ltv-docs.py --big-crl N PATH [OUTPUT_DIR]

Only Debian tools: python3, the `openssl` command (req, ca, ts, ocsp, crl)
and `faketime`. A throw-away PKI lives in OUTPUT_DIR/pki: its keys are kept
there and reused (new ones are made only where a key file is missing); the
certificates, CRLs, OCSP responses and tokens are issued again on every run
with fixed serial numbers, under a frozen fake clock (faketime -f, TZ=UTC),
so a rerun with the same keys writes the same bytes. The trust anchor is
OUTPUT_DIR/pki/root.pem.

Documents are written with scripts/pdfdocs.py: a one-page base revision,
then incremental updates; a document time-stamp (TS) is a signature
dictionary /Type /DocTimeStamp /SubFilter /ETSI.RFC3161 whose token is
issued by `openssl ts -reply` at the fake time given as its genTime; a DSS
revision writes the catalog's /DSS (a later one rewrites the same object
with the previous entries plus its own). OUTPUT_DIR/README.md repeats the facts below; the script stops
with an error when this text and the documents it makes disagree.

--big-crl N PATH writes only PATH: good-crl.pdf with a CA CRL that also
lists N made-up revoked serials (0x10000000 and up), for timing; it needs
the keys of OUTPUT_DIR/pki.

# LTV test documents

Made by `scripts/make-ltv-docs.py`. Trust anchor: `pki/root.pem`. All times
are UTC. Every revision is closed by a classic cross-reference table, except
in xref-stream.pdf (cross-reference streams throughout). Each token carries
its TSA's certificate and the VRD LTV CA certificate, policy 1.2.3.4.1,
accuracy 1 s, a SHA-256 imprint of the bytes its /ByteRange covers, and a
signingCertificateV2 attribute; token serial numbers count up from 0x101
in the order the documents are made. A TS's /M entry is its genTime.

## Certificates

All RSA 2048, SHA-256 with RSA. TSA certificates: keyUsage critical
digitalSignature, extendedKeyUsage critical timeStamping. CA certificates:
basicConstraints critical CA:TRUE, keyUsage critical keyCertSign cRLSign.

| File | Subject CN | Issuer CN | Serial | Not before | Not after | Notes |
|---|---|---|---|---|---|---|
| pki/root.pem | VRD LTV Root | VRD LTV Root | 0x1000 | 2020-01-01T00:00:00Z | 2049-12-31T23:59:59Z | self-signed trust anchor |
| pki/inter.pem | VRD LTV CA | VRD LTV Root | 0x1001 | 2020-01-01T00:00:00Z | 2049-12-31T23:59:59Z | pathlen 0 |
| pki/tsa-good.pem | VRD LTV TSA Good | VRD LTV CA | 0x2001 | 2021-01-01T00:00:00Z | 2034-12-31T23:59:59Z | TSA |
| pki/tsa-revoked-early.pem | VRD LTV TSA Revoked Early | VRD LTV CA | 0x2002 | 2021-01-01T00:00:00Z | 2034-12-31T23:59:59Z | TSA |
| pki/tsa-revoked-late.pem | VRD LTV TSA Revoked Late | VRD LTV CA | 0x2003 | 2021-01-01T00:00:00Z | 2034-12-31T23:59:59Z | TSA |
| pki/tsa-superseded.pem | VRD LTV TSA Superseded | VRD LTV CA | 0x2004 | 2021-01-01T00:00:00Z | 2034-12-31T23:59:59Z | TSA |
| pki/tsa-expired.pem | VRD LTV TSA Expired | VRD LTV CA | 0x2005 | 2020-01-01T00:00:00Z | 2021-12-31T23:59:59Z | TSA |
| pki/ocsp.pem | VRD LTV OCSP | VRD LTV CA | 0x2006 | 2021-01-01T00:00:00Z | 2034-12-31T23:59:59Z | keyUsage critical digitalSignature, extendedKeyUsage OCSPSigning, id-pkix-ocsp-nocheck |
| pki/forger.pem | VRD LTV CA | VRD LTV CA | 0x3001 | 2020-01-01T00:00:00Z | 2049-12-31T23:59:59Z | self-signed, another key; its subjectKeyIdentifier copies inter.pem's |

## Revocations

The CA's revocations (`openssl ca -revoke` at these fake times). Nothing
else is ever revoked.

| Certificate | Serial | Revoked at | Reason |
|---|---|---|---|
| VRD LTV TSA Revoked Early | 0x2002 | 2025-03-01T00:00:00Z | keyCompromise |
| VRD LTV TSA Revoked Late | 0x2003 | 2025-09-01T00:00:00Z | keyCompromise |
| VRD LTV TSA Superseded | 0x2004 | 2025-09-01T00:00:00Z | superseded |

## Revocation data

Each CA CRL lists every revocation made before its thisUpdate; root CRLs
are empty (the root issued only the CA certificate). CRLs carry
authorityKeyIdentifier and a cRLNumber (the thisUpdate date read as hex
digits). The OCSP response (SHA-1 CertID, responder ID by name, no nonce)
holds the responder's certificate in its certs field.

| Id | Kind | Issuer / signer | thisUpdate | nextUpdate | Lists |
|---|---|---|---|---|---|
| CA-2021-07-01 | CRL | VRD LTV CA | 2021-07-01T00:00:00Z | 2021-08-01T00:00:00Z | nothing |
| CA-2021-10-01 | CRL | VRD LTV CA | 2021-10-01T00:00:00Z | 2021-11-01T00:00:00Z | nothing |
| CA-2025-05-01 | CRL | VRD LTV CA | 2025-05-01T00:00:00Z | 2025-05-31T00:00:00Z | 0x2002 |
| CA-2025-06-01 | CRL | VRD LTV CA | 2025-06-01T00:00:00Z | 2025-07-01T00:00:00Z | 0x2002 |
| CA-2025-06-02 | CRL | VRD LTV CA | 2025-06-02T00:00:00Z | 2025-07-02T00:00:00Z | 0x2002 |
| CA-2025-07-01 | CRL | VRD LTV CA | 2025-07-01T00:00:00Z | 2025-08-01T00:00:00Z | 0x2002 |
| CA-2025-07-02 | CRL | VRD LTV CA | 2025-07-02T00:00:00Z | 2025-08-02T00:00:00Z | 0x2002 |
| CA-2025-08-02 | CRL | VRD LTV CA | 2025-08-02T00:00:00Z | 2025-09-02T00:00:00Z | 0x2002 |
| CA-2025-10-01 | CRL | VRD LTV CA | 2025-10-01T00:00:00Z | 2025-11-01T00:00:00Z | 0x2002, 0x2003, 0x2004 |
| FORGED-2025-07-01 | CRL | issuer name VRD LTV CA, signed by pki/forger.key | 2025-07-01T00:00:00Z | 2025-08-01T00:00:00Z | nothing |
| ROOT-2021-07-01 | CRL | VRD LTV Root | 2021-07-01T00:00:00Z | 2021-08-01T00:00:00Z | nothing |
| ROOT-2021-10-01 | CRL | VRD LTV Root | 2021-10-01T00:00:00Z | 2021-11-01T00:00:00Z | nothing |
| ROOT-2025-05-01 | CRL | VRD LTV Root | 2025-05-01T00:00:00Z | 2025-05-31T00:00:00Z | nothing |
| ROOT-2025-06-01 | CRL | VRD LTV Root | 2025-06-01T00:00:00Z | 2025-07-01T00:00:00Z | nothing |
| ROOT-2025-06-02 | CRL | VRD LTV Root | 2025-06-02T00:00:00Z | 2025-07-02T00:00:00Z | nothing |
| ROOT-2025-07-01 | CRL | VRD LTV Root | 2025-07-01T00:00:00Z | 2025-08-01T00:00:00Z | nothing |
| ROOT-2025-07-02 | CRL | VRD LTV Root | 2025-07-02T00:00:00Z | 2025-08-02T00:00:00Z | nothing |
| ROOT-2025-08-02 | CRL | VRD LTV Root | 2025-08-02T00:00:00Z | 2025-09-02T00:00:00Z | nothing |
| ROOT-2025-10-01 | CRL | VRD LTV Root | 2025-10-01T00:00:00Z | 2025-11-01T00:00:00Z | nothing |
| OCSP-2025-07-01 | OCSP | VRD LTV OCSP | 2025-07-01T00:00:00Z (= producedAt) | 2025-07-08T00:00:00Z | 0x2001 good |

## Documents

Revision 1 of each is the one-page base. A DSS revision lists its items;
a later one rewrites the same /DSS object, listing the earlier items (same
streams, written once) and its own. Its /VRI gives each named TS (key: upper-case hex SHA-1 of all the bytes of
that TS's /Contents string, zero padding included) an entry whose /Cert,
/CRL and /OCSP arrays list that revision's items (an earlier /VRI entry is
kept as it was).

| Document | Rev. | Contents |
|---|---|---|
| good-crl.pdf | 2 | TS1 by VRD LTV TSA Good (0x2001), genTime 2025-06-01T00:00:00Z |
|  | 3 | DSS: certs 0x2001, 0x1001, 0x1000; CRLs CA-2025-07-01, ROOT-2025-07-01; VRI TS1 |
| revoked-before.pdf | 2 | TS1 by VRD LTV TSA Revoked Early (0x2002), genTime 2025-06-01T00:00:00Z |
|  | 3 | DSS: certs 0x2002, 0x1001, 0x1000; CRLs CA-2025-07-01, ROOT-2025-07-01; VRI TS1 |
| revoked-after-kc.pdf | 2 | TS1 by VRD LTV TSA Revoked Late (0x2003), genTime 2025-06-01T00:00:00Z |
|  | 3 | DSS: certs 0x2003, 0x1001, 0x1000; CRLs CA-2025-10-01, ROOT-2025-10-01; VRI TS1 |
| revoked-after-kc-poe.pdf | 2 | TS1 by VRD LTV TSA Revoked Late (0x2003), genTime 2025-06-01T00:00:00Z |
|  | 3 | TS2 by VRD LTV TSA Good (0x2001), genTime 2025-07-01T00:00:00Z |
|  | 4 | DSS: certs 0x2003, 0x2001, 0x1001, 0x1000; CRLs CA-2025-10-01, ROOT-2025-10-01; VRI TS1, TS2 |
| revoked-after-benign.pdf | 2 | TS1 by VRD LTV TSA Superseded (0x2004), genTime 2025-06-01T00:00:00Z |
|  | 3 | DSS: certs 0x2004, 0x1001, 0x1000; CRLs CA-2025-10-01, ROOT-2025-10-01; VRI TS1 |
| no-revocation.pdf | 2 | TS1 by VRD LTV TSA Good (0x2001), genTime 2025-06-01T00:00:00Z |
| stale-only.pdf | 2 | TS1 by VRD LTV TSA Good (0x2001), genTime 2025-06-01T00:00:00Z |
|  | 3 | DSS: certs 0x2001, 0x1001, 0x1000; CRLs CA-2025-05-01, ROOT-2025-05-01; VRI TS1 |
| ocsp.pdf | 2 | TS1 by VRD LTV TSA Good (0x2001), genTime 2025-06-01T00:00:00Z |
|  | 3 | DSS: certs 0x2001, 0x2006, 0x1001, 0x1000; CRLs ROOT-2025-07-01; OCSPs OCSP-2025-07-01; VRI TS1 |
| expired-protected.pdf | 2 | TS1 by VRD LTV TSA Expired (0x2005), genTime 2021-06-01T00:00:00Z |
|  | 3 | DSS: certs 0x2005, 0x1001, 0x1000; CRLs CA-2021-07-01, ROOT-2021-07-01; VRI TS1 |
|  | 4 | TS2 by VRD LTV TSA Good (0x2001), genTime 2021-09-01T00:00:00Z |
|  | 5 | DSS: certs 0x2001, 0x1001, 0x1000; CRLs CA-2021-10-01, ROOT-2021-10-01; VRI TS2 |
| expired-unprotected.pdf | 2 | TS1 by VRD LTV TSA Expired (0x2005), genTime 2021-06-01T00:00:00Z |
|  | 3 | DSS: certs 0x2005, 0x1001, 0x1000; CRLs CA-2021-07-01, ROOT-2021-07-01; VRI TS1 |
| three-doc-ts.pdf | 2 | TS1 by VRD LTV TSA Good (0x2001), genTime 2025-06-01T00:00:00Z |
|  | 3 | DSS: certs 0x2001, 0x1001, 0x1000; CRLs CA-2025-06-02, ROOT-2025-06-02; VRI TS1 |
|  | 4 | TS2 by VRD LTV TSA Good (0x2001), genTime 2025-07-01T00:00:00Z |
|  | 5 | DSS: certs 0x2001, 0x1001, 0x1000; CRLs CA-2025-07-02, ROOT-2025-07-02; VRI TS2 |
|  | 6 | TS3 by VRD LTV TSA Good (0x2001), genTime 2025-08-01T00:00:00Z |
|  | 7 | DSS: certs 0x2001, 0x1001, 0x1000; CRLs CA-2025-08-02, ROOT-2025-08-02; VRI TS3 |
| forged-crl.pdf | 2 | TS1 by VRD LTV TSA Good (0x2001), genTime 2025-06-01T00:00:00Z |
|  | 3 | DSS: certs 0x2001, 0x1001, 0x1000; CRLs FORGED-2025-07-01, ROOT-2025-07-01; VRI TS1 |
| crl-in-token.pdf | 2 | TS1 by VRD LTV TSA Good (0x2001), genTime 2025-06-01T00:00:00Z; token crls: CA-2025-06-01, ROOT-2025-06-01 |
| xref-stream.pdf | 2 | TS1 by VRD LTV TSA Good (0x2001), genTime 2025-06-01T00:00:00Z |
|  | 3 | DSS: certs 0x2001, 0x1001, 0x1000; CRLs CA-2025-07-01, ROOT-2025-07-01; VRI TS1 |
"""
import datetime
import hashlib
import os
import shutil
import sys
import tempfile

sys.dont_write_bytecode = True
from pdfdocs import Document, Node, encode, parse, run  # noqa: E402

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
UTC = datetime.timezone.utc
WORK = tempfile.mkdtemp(prefix="ltv-docs-")
# The CA configuration reads these; set per CA where it matters.
ENV = dict(os.environ, TZ="UTC", CADIR=WORK, CACERT="", CAKEY="", FORGED_SKI="hash")


def t(text):
    """A UTC time from "YYYY-MM-DD" or "YYYY-MM-DDTHH:MM:SS"."""
    return datetime.datetime.fromisoformat(text).replace(tzinfo=UTC)


def iso(when):
    return when.strftime("%Y-%m-%dT%H:%M:%SZ")


def asn1_time(when):
    return when.strftime("%Y%m%d%H%M%SZ")


def next_month(when):
    return when.replace(year=when.year + when.month // 12, month=when.month % 12 + 1)


def at(when, *args, env=None):
    """Runs a command with the clock frozen at when."""
    return run("faketime", "-f", when.strftime("%Y-%m-%d %H:%M:%S"), *args, env=env or ENV)


# --- the PKI ------------------------------------------------------------------

# name: (subject CN, issuer name, serial, not before, not after, extensions)
CERTS = {
    "root": ("VRD LTV Root", "root", 0x1000, "2020-01-01", "2049-12-31T23:59:59", "v3_root"),
    "inter": ("VRD LTV CA", "root", 0x1001, "2020-01-01", "2049-12-31T23:59:59", "v3_ca"),
    "tsa-good": ("VRD LTV TSA Good", "inter", 0x2001, "2021-01-01", "2034-12-31T23:59:59",
                 "v3_tsa"),
    "tsa-revoked-early": ("VRD LTV TSA Revoked Early", "inter", 0x2002, "2021-01-01",
                          "2034-12-31T23:59:59", "v3_tsa"),
    "tsa-revoked-late": ("VRD LTV TSA Revoked Late", "inter", 0x2003, "2021-01-01",
                         "2034-12-31T23:59:59", "v3_tsa"),
    "tsa-superseded": ("VRD LTV TSA Superseded", "inter", 0x2004, "2021-01-01",
                       "2034-12-31T23:59:59", "v3_tsa"),
    "tsa-expired": ("VRD LTV TSA Expired", "inter", 0x2005, "2020-01-01", "2021-12-31T23:59:59",
                    "v3_tsa"),
    "ocsp": ("VRD LTV OCSP", "inter", 0x2006, "2021-01-01", "2034-12-31T23:59:59", "v3_ocsp"),
    "forger": ("VRD LTV CA", "forger", 0x3001, "2020-01-01", "2049-12-31T23:59:59",
               "v3_forger"),
}
# The CA's revocations: (certificate, time, reason).
REVOCATIONS = [
    ("tsa-revoked-early", "2025-03-01", "keyCompromise"),
    ("tsa-revoked-late", "2025-09-01", "keyCompromise"),
    ("tsa-superseded", "2025-09-01", "superseded"),
]
CA_NAMES = {"root": "VRD LTV Root", "inter": "VRD LTV CA", "forger": "VRD LTV CA"}

CA_CNF = """[ca]
default_ca = this
[this]
dir = $ENV::CADIR
database = $dir/index.txt
serial = $dir/serial
crlnumber = $dir/crlnumber
new_certs_dir = $dir
certificate = $ENV::CACERT
private_key = $ENV::CAKEY
default_md = sha256
policy = policy_any
unique_subject = no
email_in_dn = no
copy_extensions = none
crl_extensions = crl_ext
[policy_any]
commonName = supplied
[crl_ext]
authorityKeyIdentifier = keyid:always
[req]
distinguished_name = dn
[dn]
[v3_root]
basicConstraints = critical, CA:TRUE
keyUsage = critical, keyCertSign, cRLSign
subjectKeyIdentifier = hash
[v3_ca]
basicConstraints = critical, CA:TRUE, pathlen:0
keyUsage = critical, keyCertSign, cRLSign
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid:always
[v3_tsa]
basicConstraints = critical, CA:FALSE
keyUsage = critical, digitalSignature
extendedKeyUsage = critical, timeStamping
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid:always
[v3_ocsp]
basicConstraints = critical, CA:FALSE
keyUsage = critical, digitalSignature
extendedKeyUsage = OCSPSigning
noCheck = ignored
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid:always
[v3_forger]
basicConstraints = critical, CA:TRUE
keyUsage = critical, keyCertSign, cRLSign
subjectKeyIdentifier = $ENV::FORGED_SKI
"""

TS_CNF = """[tsa]
default_tsa = tsa_ltv
[tsa_ltv]
serial = {work}/tsaserial
crypto_device = builtin
signer_digest = sha256
default_policy = 1.2.3.4.1
digests = sha256, sha384, sha512
accuracy = secs:1
ordering = no
tsa_name = no
ess_cert_id_chain = no
ess_cert_id_alg = sha256
"""


class Pki:
    def __init__(self, keys_dir):
        self.keys_dir = keys_dir
        self.dir = os.path.join(WORK, "pki")
        os.makedirs(self.dir)
        self.cnf = os.path.join(WORK, "ca.cnf")
        with open(self.cnf, "w") as f:
            f.write(CA_CNF)
        with open(os.path.join(WORK, "ts.cnf"), "w") as f:
            f.write(TS_CNF.format(work=WORK))
        with open(os.path.join(WORK, "tsaserial"), "w") as f:
            f.write("0100\n")
        self.crl_cache = {}
        for name in CERTS:
            self.make_key(name)
        for name in CERTS:
            self.issue(name)
        self.der = {name: run("openssl", "x509", "-in", self.pem(name), "-outform", "DER")
                    for name in CERTS}

    def pem(self, name):
        return os.path.join(self.dir, name + ".pem")

    def key(self, name):
        return os.path.join(self.dir, name + ".key")

    def make_key(self, name):
        kept = os.path.join(self.keys_dir, name + ".key")
        if os.path.exists(kept):
            shutil.copy(kept, self.key(name))
        else:
            run("openssl", "genpkey", "-algorithm", "RSA", "-pkeyopt", "rsa_keygen_bits:2048",
                "-out", self.key(name))

    def db(self, ca, extra_lines=()):
        """A fresh database for ca (its issued certificates, none revoked)."""
        path = tempfile.mkdtemp(dir=WORK)
        lines = []
        for name, (cn, issuer, serial, _, not_after, _) in CERTS.items():
            if issuer == ca and name != ca:
                end = t(not_after).strftime("%y%m%d%H%M%SZ")
                lines.append(f"V\t{end}\t\t{serial:04X}\tunknown\t/CN={cn}\n")
        with open(os.path.join(path, "index.txt"), "w") as f:
            f.writelines(lines)
            f.writelines(extra_lines)
        with open(os.path.join(path, "index.txt.attr"), "w") as f:
            f.write("unique_subject = no\n")
        with open(os.path.join(path, "serial"), "w") as f:
            f.write("01\n")
        return path

    def ca_env(self, ca, db, forged_ski="hash"):
        return dict(ENV, CADIR=db, CACERT=self.pem(ca), CAKEY=self.key(ca), FORGED_SKI=forged_ski)

    def issue(self, name):
        cn, issuer, serial, not_before, not_after, ext = CERTS[name]
        csr = os.path.join(WORK, name + ".csr")
        run("openssl", "req", "-new", "-config", self.cnf, "-key", self.key(name),
            "-subj", f"/CN={cn}", "-out", csr, env=ENV)
        db = self.db("none")
        with open(os.path.join(db, "serial"), "w") as f:
            f.write(f"{serial:04X}\n")
        forged_ski = "hash"
        if name == "forger":
            text = run("openssl", "x509", "-in", self.pem("inter"), "-noout", "-ext",
                       "subjectKeyIdentifier").decode()
            forged_ski = text.strip().splitlines()[-1].strip()
        self_signed = issuer == name
        run("openssl", "ca", "-batch", "-config", self.cnf, "-in", csr, "-out", self.pem(name),
            "-notext", "-startdate", asn1_time(t(not_before)), "-enddate",
            asn1_time(t(not_after)), "-extensions", ext,
            *(["-selfsign", "-keyfile", self.key(name)] if self_signed else []),
            env=self.ca_env(name if self_signed else issuer, db, forged_ski))

    def crl(self, ca, this_update, next_update=None, extra_lines=()):
        """A DER CRL by ca at this_update listing the revocations made
        before it (made with openssl ca -revoke at their times)."""
        next_update = next_update or next_month(this_update)
        key = (ca, this_update, next_update, len(extra_lines))
        if key in self.crl_cache:
            return self.crl_cache[key]
        db = self.db(ca, extra_lines)
        env = self.ca_env(ca, db)
        if ca == "inter":
            for name, when, reason in REVOCATIONS:
                if t(when) < this_update:
                    at(t(when), "openssl", "ca", "-config", self.cnf, "-revoke", self.pem(name),
                       "-crl_reason", reason, env=env)
        with open(os.path.join(db, "crlnumber"), "w") as f:
            f.write(this_update.strftime("%Y%m%d") + "\n")
        pem = os.path.join(db, "crl.pem")
        at(this_update, "openssl", "ca", "-gencrl", "-config", self.cnf, "-crl_nextupdate",
           asn1_time(next_update), "-out", pem, env=env)
        der = run("openssl", "crl", "-in", pem, "-outform", "DER")
        self.crl_cache[key] = der
        return der

    def ocsp(self, name, produced_at, days=7):
        """A DER OCSPResponse for certificate name by the responder, with
        the CA's state at produced_at."""
        db = self.db("inter")
        env = self.ca_env("inter", db)
        for revoked, when, reason in REVOCATIONS:
            if t(when) < produced_at:
                at(t(when), "openssl", "ca", "-config", self.cnf, "-revoke", self.pem(revoked),
                   "-crl_reason", reason, env=env)
        request = os.path.join(db, "req.der")
        response = os.path.join(db, "resp.der")
        run("openssl", "ocsp", "-issuer", self.pem("inter"), "-cert", self.pem(name), "-no_nonce",
            "-reqout", request)
        at(produced_at, "openssl", "ocsp", "-index", os.path.join(db, "index.txt"), "-CA",
           self.pem("inter"), "-rsigner", self.pem("ocsp"), "-rkey", self.key("ocsp"),
           "-reqin", request, "-respout", response, "-ndays", str(days))
        with open(response, "rb") as f:
            return f.read()

    def stamp(self, tsa, when, digest, crls=()):
        """A DER token by tsa with genTime when; crls go in its SignedData's
        crls field (outside the signed attributes)."""
        query = os.path.join(WORK, "q.tsq")
        token = os.path.join(WORK, "t.der")
        run("openssl", "ts", "-query", "-digest", digest.hex(), "-sha256", "-no_nonce", "-cert",
            "-out", query)
        at(when, "openssl", "ts", "-reply", "-config", os.path.join(WORK, "ts.cnf"),
           "-queryfile", query, "-signer", self.pem(tsa), "-inkey", self.key(tsa),
           "-chain", self.pem("inter"), "-token_out", "-out", token)
        with open(token, "rb") as f:
            der = f.read()
        if crls:
            content_info = parse(der)[0]
            signed_data = content_info.children[1].children[0]
            assert not any(c.tag == b"\xa1" for c in signed_data.children)
            crl_set = Node(b"\xa1", children=[parse(c)[0] for c in sorted(crls)])
            signed_data.children.insert(len(signed_data.children) - 1, crl_set)
            der = encode(content_info)
        return der

    def save(self, out_dir):
        os.makedirs(out_dir, exist_ok=True)
        for name in CERTS:
            shutil.copy(self.pem(name), os.path.join(out_dir, name + ".pem"))
            shutil.copy(self.key(name), os.path.join(out_dir, name + ".key"))


# --- the documents -------------------------------------------------------------

class LtvDocument(Document):
    PAGE_TEXT = b"BT /F1 18 Tf 72 760 Td (LTV test document) Tj ET"


def crl_id(ca, this_update):
    prefix = {"inter": "CA", "root": "ROOT", "forger": "FORGED"}[ca]
    return f"{prefix}-{this_update[:10]}"


def ts(tsa, when, crls=()):
    return ("ts", tsa, when, tuple(crls))


def dss(certs, crls=(), ocsps=(), vri=("TS1",)):
    return ("dss", tuple(certs), tuple(crls), tuple(ocsps), tuple(vri))


def standard_dss(tsas, when, vri=("TS1",)):
    """The TSA certificates, the CA's and the root's, and CA and root CRLs of when."""
    return dss(list(tsas) + ["inter", "root"], [("inter", when), ("root", when)], vri=vri)


GOOD = [ts("tsa-good", "2025-06-01"), standard_dss(["tsa-good"], "2025-07-01")]
EXPIRED_FIRST = [ts("tsa-expired", "2021-06-01"), standard_dss(["tsa-expired"], "2021-07-01")]
DOCUMENTS = [
    ("good-crl.pdf", "classic", GOOD),
    ("revoked-before.pdf", "classic", [
        ts("tsa-revoked-early", "2025-06-01"),
        standard_dss(["tsa-revoked-early"], "2025-07-01")]),
    ("revoked-after-kc.pdf", "classic", [
        ts("tsa-revoked-late", "2025-06-01"),
        standard_dss(["tsa-revoked-late"], "2025-10-01")]),
    ("revoked-after-kc-poe.pdf", "classic", [
        ts("tsa-revoked-late", "2025-06-01"), ts("tsa-good", "2025-07-01"),
        standard_dss(["tsa-revoked-late", "tsa-good"], "2025-10-01", vri=("TS1", "TS2"))]),
    ("revoked-after-benign.pdf", "classic", [
        ts("tsa-superseded", "2025-06-01"),
        standard_dss(["tsa-superseded"], "2025-10-01")]),
    ("no-revocation.pdf", "classic", [ts("tsa-good", "2025-06-01")]),
    ("stale-only.pdf", "classic", [
        ts("tsa-good", "2025-06-01"),
        dss(["tsa-good", "inter", "root"],
            [("inter", "2025-05-01", "2025-05-31"), ("root", "2025-05-01", "2025-05-31")])]),
    ("ocsp.pdf", "classic", [
        ts("tsa-good", "2025-06-01"),
        dss(["tsa-good", "ocsp", "inter", "root"], [("root", "2025-07-01")],
            ocsps=[("tsa-good", "2025-07-01")])]),
    ("expired-protected.pdf", "classic", EXPIRED_FIRST + [
        ts("tsa-good", "2021-09-01"),
        standard_dss(["tsa-good"], "2021-10-01", vri=("TS2",))]),
    ("expired-unprotected.pdf", "classic", EXPIRED_FIRST),
    ("three-doc-ts.pdf", "classic", [
        ts("tsa-good", "2025-06-01"), standard_dss(["tsa-good"], "2025-06-02"),
        ts("tsa-good", "2025-07-01"), standard_dss(["tsa-good"], "2025-07-02", vri=("TS2",)),
        ts("tsa-good", "2025-08-01"), standard_dss(["tsa-good"], "2025-08-02", vri=("TS3",))]),
    ("forged-crl.pdf", "classic", [
        ts("tsa-good", "2025-06-01"),
        dss(["tsa-good", "inter", "root"], [("forger", "2025-07-01"), ("root", "2025-07-01")])]),
    ("crl-in-token.pdf", "classic", [
        ts("tsa-good", "2025-06-01", crls=[("inter", "2025-06-01"), ("root", "2025-06-01")])]),
    ("xref-stream.pdf", "stream", GOOD),
]


def crl_times(crl):
    this_update = t(crl[1])
    next_update = t(crl[2]) if len(crl) > 2 else next_month(this_update)
    return this_update, next_update


def build(pki, steps, xref, big_crl_lines=()):
    doc = LtvDocument()
    doc.base(xref)
    count = 0
    for step in steps:
        if step[0] == "ts":
            _, tsa, when, crls = step
            count += 1
            crl_ders = [pki.crl(c[0], *crl_times(c)) for c in crls]
            doc.sign(f"TS{count}", "doc", xref=xref, signing_time=f"D:{asn1_time(t(when))}",
                     token_for=lambda covered: pki.stamp(
                         tsa, t(when), hashlib.sha256(covered).digest(), crl_ders))
        else:
            _, certs, crls, ocsps, vri = step
            crl_ders = [pki.crl(c[0], *crl_times(c),
                                extra_lines=big_crl_lines if c[0] == "inter" else ())
                        for c in crls]
            doc.add_validation_data(
                certs=[pki.der[c] for c in certs], crls=crl_ders,
                ocsps=[pki.ocsp(name, t(when)) for name, when in ocsps], vri_for=vri, xref=xref)
    return doc


# --- the facts, as a Markdown text -------------------------------------------

def facts():
    """The README text, made from the tables above (the docstring repeats it)."""
    doc = __doc__
    return doc[doc.index("# LTV test documents"):]


def check_facts():
    """Stops when the docstring's tables disagree with CERTS, REVOCATIONS
    and DOCUMENTS (rows made from them must all be in the text)."""
    text = facts()
    rows = []
    for name, (cn, issuer, serial, not_before, not_after, _) in CERTS.items():
        rows.append(f"| pki/{name}.pem | {cn} | {CA_NAMES[issuer]} | 0x{serial:X} | "
                    f"{iso(t(not_before))} | {iso(t(not_after))} |")
    for name, when, reason in REVOCATIONS:
        rows.append(f"| {CERTS[name][0]} | 0x{CERTS[name][2]:X} | {iso(t(when))} | {reason} |")
    crls = set()
    ocsps = set()
    for name, _, steps in DOCUMENTS:
        revision = 1
        first = True
        for step in steps:
            revision += 1
            cell = f"| {name if first else ''} | {revision} | "
            first = False
            if step[0] == "ts":
                _, tsa, when, token_crls = step
                count = sum(1 for s in steps[:steps.index(step) + 1] if s[0] == "ts")
                row = (f"{cell}TS{count} by {CERTS[tsa][0]} (0x{CERTS[tsa][2]:X}), "
                       f"genTime {iso(t(when))}")
                if token_crls:
                    row += "; token crls: " + ", ".join(crl_id(c[0], c[1]) for c in token_crls)
                    crls.update(token_crls)
                rows.append(row + " |")
            else:
                _, certs, step_crls, step_ocsps, vri = step
                crls.update(step_crls)
                ocsps.update(step_ocsps)
                row = f"{cell}DSS: certs " + ", ".join(f"0x{CERTS[c][2]:X}" for c in certs)
                row += "; CRLs " + ", ".join(crl_id(c[0], c[1]) for c in step_crls)
                if step_ocsps:
                    row += "; OCSPs " + ", ".join(f"OCSP-{w}" for _, w in step_ocsps)
                rows.append(row + "; VRI " + ", ".join(vri) + " |")
    for crl in crls:
        this_update, next_update = crl_times(crl)
        listed = [f"0x{CERTS[n][2]:X}" for n, w, _ in REVOCATIONS
                  if crl[0] == "inter" and t(w) < this_update]
        rows.append(f"| {crl_id(crl[0], crl[1])} | CRL | ")
        rows.append(f" | {iso(this_update)} | {iso(next_update)} | "
                    f"{', '.join(listed) or 'nothing'} |")
    for name, when in ocsps:
        rows.append(f"| OCSP-{when} | OCSP | VRD LTV OCSP | {iso(t(when))} (= producedAt) | "
                    f"{iso(t(when) + datetime.timedelta(days=7))} | 0x{CERTS[name][2]:X} good |")
    missing = [row for row in rows if row not in text]
    if missing:
        raise SystemExit("make-ltv-docs: the docstring's tables miss:\n" + "\n".join(missing))
    # Each CRL row was checked in two pieces; four tables have a header and
    # a rule line each.
    table_lines = [line for line in text.splitlines() if line.startswith("|")]
    if len(table_lines) - 8 != len(rows) - len(crls):
        raise SystemExit("make-ltv-docs: the docstring's tables have rows no longer made")


def big_crl_lines(count):
    """index.txt lines of count revoked made-up certificates."""
    reasons = ["", ",keyCompromise", ",superseded", ",cessationOfOperation",
               ",affiliationChanged"]
    start = t("2024-01-01")
    lines = []
    for i in range(count):
        when = start + datetime.timedelta(minutes=7 * i)
        lines.append(f"R\t341231235959Z\t{when.strftime('%y%m%d%H%M%SZ')}{reasons[i % 5]}\t"
                     f"{0x10000000 + i:08X}\tunknown\t/CN=VRD LTV Bulk {i}\n")
    return lines


def main():
    args = sys.argv[1:]
    big = None
    if len(args) >= 3 and args[0] == "--big-crl":
        big = (int(args[1]), args[2])
        args = args[3:]
    if len(args) > 1 or (args and args[0].startswith("-")):
        raise SystemExit(__doc__.split("\n\n")[1])
    out = args[0] if args else os.path.join(ROOT, "tests", "data", "ltv")
    if shutil.which("faketime") is None:
        raise SystemExit("make-ltv-docs: faketime is missing (scripts/install-deps.sh test)")
    check_facts()
    keys = os.path.join(out, "pki")
    try:
        if big:
            if not os.path.exists(os.path.join(keys, "root.key")):
                raise SystemExit(f"make-ltv-docs: no keys in {keys}; run without --big-crl first")
            pki = Pki(keys)
            doc = build(pki, GOOD, "classic", big_crl_lines(big[0]))
            with open(big[1], "wb") as f:
                f.write(doc.data)
            return
        pki = Pki(keys)
        os.makedirs(out, exist_ok=True)
        for name, xref, steps in DOCUMENTS:
            doc = build(pki, steps, xref)
            with open(os.path.join(out, name), "wb") as f:
                f.write(doc.data)
        pki.save(keys)
        with open(os.path.join(out, "README.md"), "w") as f:
            f.write(facts())
    finally:
        shutil.rmtree(WORK, ignore_errors=True)


if __name__ == "__main__":
    main()
