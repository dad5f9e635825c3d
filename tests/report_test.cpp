// The document report (report/Report.h) and `tsverify --all`: every
// committed test document (tests/data/report, made by
// scripts/make-report-docs.py) with its time-stamps' coverage, revision and
// verdicts; revision boundaries; digests; hostile documents; exit status.
#include "report/Report.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/ocsp.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>
#include <openssl/x509v3.h>

#include <qpdf/Buffer.hh>
#include <qpdf/Pl_Buffer.hh>
#include <qpdf/Pl_Count.hh>
#include <qpdf/Pl_Discard.hh>
#include <qpdf/Pl_Flate.hh>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFCryptoProvider.hh>
#include <qpdf/QPDFObjectHandle.hh>

#if !defined(_WIN32)
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "api/VerifyDocumentFile.h"
#include "report/Budget.h"
#include "report/Decoders.h"
#include "report/DocumentInput.h"
#include "report/FieldWalk.h"
#include "report/QpdfCrypto.h"
#include "report/RawSignatures.h"
#include "report/Revocation.h"
#include "report/TokenReport.h"
#include "toolkit/qvtk.h"
#include "util/DocumentFile.h"
#include "util/Hex.h"
#include "util/LoadFile.h"

namespace vrd::report {
namespace {

const std::string kData = std::string(VRD_TEST_DATA_DIR) + "/report/";
const std::string kPki = std::string(VRD_TEST_DATA_DIR) + "/pki/";

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

const unsigned char* Bytes(const std::string& s) {
  return reinterpret_cast<const unsigned char*>(s.data());
}

TrustSettings TestRoot() {
  TrustSettings trust;
  trust.extra_roots.push_back(ReadFile(kPki + "root.der"));
  return trust;
}

// --- every test document ----------------------------------------------------

struct Expected {
  TimeStampKind kind;
  const char* field;
  int revision;
  int later;
  LaterChanges changes;
  bool whole_file;
  bool whole_revision;
  const char* encoding;
  const char* algorithm;
  bool weak;
  Verdict imprint;
};

struct DocumentCase {
  const char* file;
  int revisions;
  std::vector<Expected> stamps;
};

constexpr auto kDoc = TimeStampKind::kDocument;
constexpr auto kSig = TimeStampKind::kSignature;
constexpr auto kPass = Verdict::kPass;
constexpr auto kFail = Verdict::kFail;
constexpr auto kNone = LaterChanges::kNone;
constexpr auto kDss = LaterChanges::kDssAndSignatures;
constexpr auto kOther = LaterChanges::kOther;

const DocumentCase kDocuments[] = {
    {"doc-ts.pdf", 2, {{kDoc, "TS1", 2, 0, kNone, true, true, "DER", "SHA256", false, kPass}}},
    {"xref-stream.pdf", 2, {{kDoc, "TS1", 2, 0, kNone, true, true, "DER", "SHA256", false, kPass}}},
    {"hybrid.pdf", 2, {{kDoc, "TS1", 2, 0, kNone, true, true, "DER", "SHA256", false, kPass}}},
    {"linearized.pdf", 2, {{kDoc, "TS1", 2, 0, kNone, true, true, "DER", "SHA256", false, kPass}}},
    {"encrypted.pdf", 2, {{kDoc, "TS1", 2, 0, kNone, true, true, "DER", "SHA256", false, kPass}}},
    {"dss-after.pdf", 3, {{kDoc, "TS1", 2, 1, kDss, false, true, "DER", "SHA256", false, kPass}}},
    {"sig-after-ts.pdf",
     4,
     {{kDoc, "TS1", 2, 2, kDss, false, true, "DER", "SHA256", false, kPass}}},
    {"resaved-after.pdf",
     4,
     {{kDoc, "TS1", 2, 2, kDss, false, true, "DER", "SHA256", false, kPass}}},
    {"nocert-dss.pdf", 3, {{kDoc, "TS1", 2, 1, kDss, false, true, "DER", "SHA256", false, kPass}}},
    {"ts-response.pdf", 2, {{kDoc, "TS1", 2, 0, kNone, true, true, "DER", "SHA256", false, kPass}}},
    {"damaged-xref.pdf",
     3,
     {{kDoc, "TS1", 2, 1, kDss, false, true, "DER", "SHA256", false, kPass}}},
    {"page-changed-after.pdf",
     3,
     {{kDoc, "TS1", 2, 1, kOther, false, true, "DER", "SHA256", false, kPass}}},
    {"form-font-after.pdf",
     3,
     {{kDoc, "TS1", 2, 1, kDss, false, true, "DER", "SHA256", false, kPass}}},
    {"page-font-changed-after.pdf",
     3,
     {{kDoc, "TS1", 2, 1, kOther, false, true, "DER", "SHA256", false, kPass}}},
    {"changed-after.pdf",
     3,
     {{kDoc, "TS1", 2, 1, kOther, false, true, "DER", "SHA256", false, kPass}}},
    {"two-doc-ts.pdf",
     3,
     {{kDoc, "TS1", 2, 1, kDss, false, true, "DER", "SHA256", false, kPass},
      {kDoc, "TS2", 3, 0, kNone, true, true, "DER", "SHA256", false, kPass}}},
    {"sig-with-ts.pdf",
     2,
     {{kSig, "Sig1", 2, 0, kNone, true, true, "DER", "SHA256", false, kPass}}},
    {"ber-signature.pdf",
     2,
     {{kSig, "Sig1", 2, 0, kNone, true, true, "DER", "SHA256", false, kPass}}},
    {"ber-token.pdf", 2, {{kDoc, "TS1", 2, 0, kNone, true, true, "BER", "SHA256", false, kPass}}},
    {"sha1-imprint.pdf", 2, {{kDoc, "TS1", 2, 0, kNone, true, true, "DER", "SHA1", true, kPass}}},
    {"x500-rsa.pdf", 2, {{kDoc, "TS1", 2, 0, kNone, true, true, "DER", "SHA256", false, kPass}}},
    {"short-range.pdf",
     2,
     {{kDoc, "TS1", 2, 0, kNone, false, false, "DER", "SHA256", false, kPass}}},
    {"altered-range1.pdf",
     2,
     {{kDoc, "TS1", 2, 0, kNone, true, true, "DER", "SHA256", false, kFail}}},
    {"altered-range2.pdf",
     2,
     {{kDoc, "TS1", 2, 0, kNone, true, true, "DER", "SHA256", false, kFail}}},
    {"unsigned.pdf", 1, {}},
    // qpdf cannot open it (public-key security handler): read from the raw bytes.
    {"pubsec.pdf", 2, {{kDoc, "TS1", 2, 0, kNone, true, true, "DER", "SHA256", false, kPass}}},
};

TEST(ReportDocumentsTest, EveryTimeStampWithCoverageRevisionAndVerdicts) {
  const TrustSettings trust = TestRoot();
  for (const DocumentCase& c : kDocuments) {
    SCOPED_TRACE(c.file);
    const std::string bytes = ReadFile(kData + c.file);
    ASSERT_FALSE(bytes.empty());
    DocumentReport report;
    ASSERT_EQ(BuildReport(Bytes(bytes), bytes.size(), trust, &report), ReportStatus::kOk)
        << report.error;
    EXPECT_EQ(report.revisions, c.revisions);
    EXPECT_EQ(report.recovered, std::string(c.file) == "damaged-xref.pdf");
    ASSERT_EQ(report.timestamps.size(), c.stamps.size());
    for (size_t i = 0; i < c.stamps.size(); ++i) {
      const Expected& want = c.stamps[i];
      const TimeStampReport& got = report.timestamps[i];
      SCOPED_TRACE(want.field);
      EXPECT_EQ(got.kind, want.kind);
      EXPECT_EQ(got.field_name, want.field);
      EXPECT_EQ(got.revision, want.revision);
      EXPECT_EQ(got.later_revisions, want.later);
      EXPECT_EQ(got.later_changes, want.changes);
      EXPECT_EQ(got.later_other_objects.empty(), want.changes != kOther);
      EXPECT_TRUE(got.byte_range_valid);
      EXPECT_EQ(got.covers_whole_file, want.whole_file);
      EXPECT_EQ(got.covers_whole_revision, want.whole_revision);
      EXPECT_TRUE(got.gap_is_contents);
      EXPECT_EQ(got.encoding, want.encoding);
      EXPECT_EQ(got.imprint_algorithm, want.algorithm);
      EXPECT_EQ(got.weak_algorithm, want.weak);
      EXPECT_EQ(got.imprint, want.imprint);
      EXPECT_EQ(got.imprint == kPass, got.computed_hex == got.imprint_hex);
      // The token itself is sound in every document: only the bytes differ.
      EXPECT_EQ(got.signature, kPass);
      EXPECT_EQ(got.signing_certificate, kPass);
      EXPECT_EQ(got.time_stamping_usage, kPass);
      EXPECT_EQ(got.chain, kPass);
      EXPECT_EQ(got.trusted_by, TrustSource::kTrustAnchor);
      EXPECT_EQ(got.Verified(), want.imprint == kPass);
      EXPECT_EQ(got.problem.empty(), got.Verified()) << got.problem;
      EXPECT_EQ(got.policy, "1.2.3.4.1");
      EXPECT_NE(got.tsa_subject.find("CN=VRD Test TSA"), std::string::npos);
      EXPECT_EQ(got.gen_time.size(), 20u) << got.gen_time;
    }
  }
}

TEST(ReportDocumentsTest, ChainNeedsATrustSource) {
  const std::string bytes = ReadFile(kData + "doc-ts.pdf");
  struct Case {
    bool test_root;
    bool system_roots;
  };
  for (const Case c : {Case{false, false}, Case{false, true}}) {
    TrustSettings trust;
    trust.system_roots = c.system_roots;
    DocumentReport report;
    ASSERT_EQ(BuildReport(Bytes(bytes), bytes.size(), trust, &report), ReportStatus::kOk);
    ASSERT_EQ(report.timestamps.size(), 1u);
    const TimeStampReport& ts = report.timestamps[0];
    EXPECT_EQ(ts.imprint, kPass);
    EXPECT_EQ(ts.signature, kPass);
    EXPECT_EQ(ts.chain, kFail);
    EXPECT_EQ(ts.trusted_by, TrustSource::kNone);
    EXPECT_FALSE(ts.Verified());
    EXPECT_NE(ts.problem.find("chain"), std::string::npos);
  }
}

TEST(ReportDocumentsTest, UnreadableTrustSourcesAreErrors) {
  const std::string bytes = ReadFile(kData + "doc-ts.pdf");
  TrustSettings missing_bundle;
  missing_bundle.system_roots = true;
  missing_bundle.system_bundle = "/nonexistent/bundle.crt";
  TrustSettings bad_anchor;
  bad_anchor.extra_roots.push_back("not a certificate");
  for (const TrustSettings& trust : {missing_bundle, bad_anchor}) {
    DocumentReport report;
    EXPECT_EQ(BuildReport(Bytes(bytes), bytes.size(), trust, &report), ReportStatus::kNotOpened);
    EXPECT_FALSE(report.error.empty());
  }
}

// The system roots: a hashed directory is searched by subject, a regular file
// read as a bundle, anything else refused.
TEST(ReportDocumentsTest, SystemRootsFromADirectoryOrABundle) {
  const std::string bytes = ReadFile(kData + "doc-ts.pdf");
  const std::string pem = ReadFile(kPki + "root.pem");
  tk::BioPtr bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
  tk::CertPtr root(PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr));
  ASSERT_NE(root, nullptr);
  char hash_name[16];
  std::snprintf(hash_name, sizeof hash_name, "%08lx.0", X509_subject_name_hash(root.get()));
  const std::string hashed = ::testing::TempDir() + "vrd_roots_" + std::to_string(::getpid());
  std::filesystem::create_directories(hashed);
  std::ofstream(hashed + "/" + hash_name, std::ios::binary) << pem;
  struct Case {
    std::string path;
    bool loads;
  };
  for (const Case& c :
       {Case{hashed, true}, Case{kPki + "root.pem", true}, Case{"/dev/null", false}}) {
    TrustSettings trust;
    trust.system_roots = true;
    trust.system_bundle = c.path;
    DocumentReport report;
    const ReportStatus status = BuildReport(Bytes(bytes), bytes.size(), trust, &report);
    ASSERT_EQ(status == ReportStatus::kOk, c.loads) << c.path << ": " << report.error;
    if (!c.loads) continue;
    ASSERT_EQ(report.timestamps.size(), 1u);
    EXPECT_EQ(report.timestamps[0].trusted_by, TrustSource::kSystem) << c.path;
  }
  std::filesystem::remove_all(hashed);
}

// --- documents qpdf cannot open, and hostile ones -----------------------------

TEST(ReportRobustnessTest, BrokenDocumentsGiveAnErrorOrNoTimeStamp) {
  const std::string good = ReadFile(kData + "doc-ts.pdf");
  const std::string inputs[] = {
      "",
      "%PDF-1.7\n",
      ReadFile(kData + "not-a-pdf.pdf"),
      good.substr(0, good.size() / 2),
      good.substr(good.size() / 2),
      std::string(4096, '\0'),
  };
  for (const std::string& input : inputs) {
    DocumentReport report;
    const ReportStatus status = BuildReport(Bytes(input), input.size(), TestRoot(), &report);
    if (status == ReportStatus::kNotOpened) {
      EXPECT_FALSE(report.error.empty());
      EXPECT_TRUE(report.timestamps.empty());
    }
    for (const TimeStampReport& ts : report.timestamps) EXPECT_FALSE(ts.Verified());
  }
}

// A document whose field tree is a long chain of /Kids, closed into a cycle,
// plus many unrelated objects.
std::string HostileDocument(int depth, int extra_objects) {
  std::string body = "%PDF-1.7\n";
  std::vector<size_t> offsets;
  auto object = [&](const std::string& text) {
    offsets.push_back(body.size());
    body += std::to_string(offsets.size()) + " 0 obj\n" + text + "\nendobj\n";
  };
  object("<< /Type /Catalog /Pages 2 0 R /AcroForm << /Fields [3 0 R] >> >>");
  object("<< /Type /Pages /Kids [] /Count 0 >>");
  for (int i = 0; i < depth; ++i) {
    const int next = i + 1 < depth ? 4 + i : 3;  // the last one points back
    object("<< /FT /Sig /T (f" + std::to_string(i) + ") /Kids [" + std::to_string(next) +
           " 0 R] >>");
  }
  for (int i = 0; i < extra_objects; ++i) object("<< /N " + std::to_string(i) + " >>");
  const size_t xref = body.size();
  body += "xref\n0 " + std::to_string(offsets.size() + 1) + "\n0000000000 65535 f \n";
  for (size_t offset : offsets) {
    char line[32];
    std::snprintf(line, sizeof line, "%010zu 00000 n \n", offset);
    body += line;
  }
  body += "trailer\n<< /Size " + std::to_string(offsets.size() + 1) +
          " /Root 1 0 R >>\nstartxref\n" + std::to_string(xref) + "\n%%EOF\n";
  return body;
}

// A /DSS certificate stream that inflates to 256 MiB, listed a thousand
// times: decoded once and only up to its cap (otherwise this test would run
// for hours), and the time-stamp still verifies.
TEST(ReportRobustnessTest, CertificateBombIsDecodedOnceAndCapped) {
  const std::string base = ReadFile(kData + "doc-ts.pdf");
  Pl_Buffer compressed("compressed");
  Pl_Flate deflate("deflate", &compressed, Pl_Flate::a_deflate);
  const std::string zeros(size_t{1} << 20, '\0');
  for (int i = 0; i < 256; ++i) {
    deflate.write(reinterpret_cast<const unsigned char*>(zeros.data()), zeros.size());
  }
  deflate.finish();
  const std::unique_ptr<Buffer> bomb(compressed.getBuffer());
  // An incremental update: the bomb, a /DSS listing it, the catalog with /DSS.
  const size_t catalog_at = base.rfind("\n1 0 obj\n") + 1;
  const size_t dict_end = base.rfind(">>", base.find("endobj", catalog_at));
  const size_t size_at = base.rfind("/Size ") + 6;
  const int size = std::stoi(base.substr(size_at));
  const std::string prev = base.substr(base.rfind("startxref\n") + 10);
  std::string update = "\n";
  std::vector<size_t> offsets;
  auto object = [&](int number, const std::string& body) {
    offsets.push_back(base.size() + update.size());
    update += std::to_string(number) + " 0 obj\n" + body + "\nendobj\n";
  };
  object(size, "<< /Length " + std::to_string(bomb->getSize()) +
                   " /Filter /FlateDecode >>\nstream\n" +
                   std::string(reinterpret_cast<const char*>(bomb->getBuffer()), bomb->getSize()) +
                   "\nendstream");
  std::string listed;
  for (int i = 0; i < 1000; ++i) listed += std::to_string(size) + " 0 R ";
  object(size + 1, "<< /Certs [" + listed + "] >>");
  object(1, base.substr(catalog_at + 8, dict_end - catalog_at - 8) + " /DSS " +
                std::to_string(size + 1) + " 0 R >>");
  const size_t xref_at = base.size() + update.size();
  char entry[32];
  update += "xref\n0 1\n0000000000 65535 f \n1 1\n";
  std::snprintf(entry, sizeof entry, "%010zu 00000 n \n", offsets[2]);
  update += entry + std::to_string(size) + " 2\n";
  for (int i = 0; i < 2; ++i) {
    std::snprintf(entry, sizeof entry, "%010zu 00000 n \n", offsets[static_cast<size_t>(i)]);
    update += entry;
  }
  update += "trailer\n<< /Size " + std::to_string(size + 2) + " /Root 1 0 R /Prev " +
            std::to_string(std::stoll(prev)) + " >>\nstartxref\n" + std::to_string(xref_at) +
            "\n%%EOF\n";
  const std::string document = base + update;
  DocumentReport report;
  ASSERT_EQ(BuildReport(Bytes(document), document.size(), TestRoot(), &report), ReportStatus::kOk)
      << report.error;
  EXPECT_FALSE(report.recovered);
  ASSERT_EQ(report.timestamps.size(), 1u);
  EXPECT_TRUE(report.timestamps[0].Verified()) << report.timestamps[0].problem;
  EXPECT_EQ(report.timestamps[0].later_changes, LaterChanges::kDssAndSignatures);
}

std::string Deflate(const std::string& data) {
  Pl_Buffer compressed("compressed");
  Pl_Flate deflate("deflate", &compressed, Pl_Flate::a_deflate);
  deflate.write(Bytes(data), data.size());
  deflate.finish();
  const std::unique_ptr<Buffer> out(compressed.getBuffer());
  return std::string(reinterpret_cast<const char*>(out->getBuffer()), out->getSize());
}

// Runs one case through a crypto provider: "md5", "sha<bits>", "rc4", or
// "aes-<ecb|cbc>-<enc|dec>" block by block; the answer in hex.
std::string RunCrypto(QPDFCryptoImpl& impl, const std::string& what, const std::string& key,
                      const std::string& iv, const std::string& input) {
  if (what == "md5") {
    impl.MD5_init();
    impl.MD5_update(Bytes(input), input.size());
    impl.MD5_finalize();
    unsigned char digest[16];
    impl.MD5_digest(digest);
    return HexLower(digest, sizeof digest);
  }
  if (what.rfind("sha", 0) == 0) {
    impl.SHA2_init(std::stoi(what.substr(3)));
    impl.SHA2_update(Bytes(input), input.size());
    impl.SHA2_finalize();
    const std::string digest = impl.SHA2_digest();
    return HexLower(Bytes(digest), digest.size());
  }
  std::string out(input.size(), '\0');
  auto* out_bytes = reinterpret_cast<unsigned char*>(out.data());
  if (what == "rc4") {
    impl.RC4_init(Bytes(key), static_cast<int>(key.size()));
    impl.RC4_process(Bytes(input), input.size(), out_bytes);
    impl.RC4_finalize();
    return HexLower(out_bytes, out.size());
  }
  std::string chain = iv;
  impl.rijndael_init(what.find("enc") != std::string::npos, Bytes(key), key.size(),
                     what.find("cbc") != std::string::npos,
                     reinterpret_cast<unsigned char*>(chain.data()));
  std::string block(QPDFCryptoImpl::rijndael_buf_size, '\0');
  for (size_t at = 0; at < input.size(); at += block.size()) {
    block.assign(input, at, block.size());
    impl.rijndael_process(reinterpret_cast<unsigned char*>(block.data()), out_bytes + at);
  }
  impl.rijndael_finalize();
  return HexLower(out_bytes, out.size());
}

// Our provider gives qpdf's own portable provider's bytes for every
// operation qpdf asks of it, on input of odd length (whole blocks for AES),
// with the key sizes PDF's security handlers use.
TEST(ReportQpdfCryptoTest, GivesTheSameBytesAsQpdfItself) {
  InstallQpdfCrypto();
  if (QPDFCryptoProvider::getDefaultProvider() != kQpdfCryptoProvider) {
    GTEST_SKIP() << "qpdf is the system's shared library: its own provider stays";
  }
  std::string input;
  for (int i = 0; i < 4099; ++i) input.push_back(static_cast<char>(i * 7 + i / 256));
  const std::string blocks = input.substr(0, 4096);
  const std::string iv = input.substr(100, QPDFCryptoImpl::rijndael_buf_size);
  const std::string k40 = input.substr(7, 5);
  const std::string k128 = input.substr(200, 16);
  const std::string k256 = input.substr(300, 32);
  const struct {
    const char* what;
    const std::string& key;
    const std::string& data;
  } cases[] = {
      {"md5", k40, input},           {"sha256", k40, input},        {"sha384", k40, input},
      {"sha512", k40, input},        {"rc4", k40, input},           {"rc4", k128, input},
      {"aes-ecb-enc", k128, blocks}, {"aes-ecb-dec", k256, blocks}, {"aes-cbc-enc", k128, blocks},
      {"aes-cbc-enc", k256, blocks}, {"aes-cbc-dec", k128, blocks}, {"aes-cbc-dec", k256, blocks},
  };
  const std::shared_ptr<QPDFCryptoImpl> ours = QPDFCryptoProvider::getImpl();
  const std::shared_ptr<QPDFCryptoImpl> native = QPDFCryptoProvider::getImpl("native");
  for (const auto& c : cases) {
    EXPECT_EQ(RunCrypto(*ours, c.what, c.key, iv, c.data),
              RunCrypto(*native, c.what, c.key, iv, c.data))
        << c.what << " with a " << c.key.size() << "-byte key";
  }
}

// Each decoder of ours against bytes worked out by hand: the LZW example of
// the PDF standard, each PNG row filter and the TIFF predictor behind Flate,
// run-length; and a stream past the active budget's limit stops there.
TEST(ReportDecoderTest, DecodersGiveTheBytesAndStopAtTheBudget) {
  InstallBudgetedDecoders();
  struct Case {
    const char* filter;
    const char* parms;  // /DecodeParms, or ""
    std::string encoded;
    std::string decoded;
  };
  const std::string png = " << /Predictor 12 /Columns 3 >>";
  const Case cases[] = {
      {"/LZWDecode", "", "\x80\x0b\x60\x50\x22\x0c\x0c\x85\x01", "-----A---B"},
      {"/FlateDecode", png.c_str(), Deflate(std::string("\0\1\2\3\2\3\4\5", 8)), "\1\2\3\4\6\10"},
      {"/FlateDecode", png.c_str(), Deflate("\1\12\12\17"), "\12\24\43"},
      {"/FlateDecode", png.c_str(), Deflate(std::string("\0\1\2\3\3\4\3\4", 8)), "\1\2\3\4\6\10"},
      {"/FlateDecode", png.c_str(), Deflate(std::string("\0\1\2\3\4\3\2\2", 8)), "\1\2\3\4\6\10"},
      {"/FlateDecode", " << /Predictor 2 /Columns 3 >>", Deflate("\12\12\17"), "\12\24\43"},
      {"/RunLengthDecode", "", "\2abc\376x\200", "abcxxx"},
  };
  QPDF pdf;
  pdf.emptyPDF();
  for (const Case& c : cases) {
    QPDFObjectHandle stream = QPDFObjectHandle::newStream(&pdf, c.encoded);
    stream.getDict().replaceKey("/Filter", QPDFObjectHandle::newName(c.filter));
    if (*c.parms != '\0') {
      stream.getDict().replaceKey("/DecodeParms", QPDFObjectHandle::parse(c.parms));
    }
    const std::shared_ptr<Buffer> out = stream.getStreamData(qpdf_dl_specialized);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(out->getBuffer()), out->getSize()),
              c.decoded)
        << c.filter << c.parms;
  }
  ResourceLimits limits;
  limits.max_inflate = 64 << 10;
  DocumentBudget budget(limits, 1000);
  const BudgetScope scope(&budget);
  QPDFObjectHandle bomb =
      QPDFObjectHandle::newStream(&pdf, Deflate(std::string(size_t{1} << 20, '\0')));
  bomb.getDict().replaceKey("/Filter", QPDFObjectHandle::newName("/FlateDecode"));
  Pl_Discard discard;
  Pl_Count sink("sink", &discard);
  EXPECT_THROW((void)bomb.pipeStreamData(&sink, 0, qpdf_dl_generalized, true), std::runtime_error);
  EXPECT_EQ(budget.hit(), LimitHit::kInflateStream);
  EXPECT_LE(sink.getCount(), 64 << 10);
}

// Documents that meet a limit of the budget get no report but an error that
// names the limit.
TEST(ReportRobustnessTest, EachLimitIsNamed) {
  const std::string base = ReadFile(kData + "doc-ts.pdf");
  // An update whose cross-reference stream inflates to 8 MiB.
  const std::string xref = Deflate(std::string(size_t{8} << 20, '\0'));
  const std::string prev = base.substr(base.rfind("startxref\n") + 10);
  const std::string inflating =
      base + "8 0 obj\n<< /Type /XRef /Size 9 /W [1 4 2] /Root 1 0 R /Prev " +
      std::to_string(std::stoll(prev)) + " /Length " + std::to_string(xref.size()) +
      " /Filter /FlateDecode >>\nstream\n" + xref + "\nendstream\nendobj\nstartxref\n" +
      std::to_string(base.size()) + "\n%%EOF\n";
  // Damage that only recovery reads past, behind 10,000 comment lines.
  std::string comments;
  for (int i = 0; i < 10000; ++i) comments += "% " + std::string(90, 'x') + "\n";
  std::string damaged = base;
  damaged.replace(damaged.rfind("startxref\n") + 10, prev.size(), "999999999\n%%EOF\n");
  damaged.insert(damaged.find('\n') + 1, comments);
  struct Case {
    const std::string* document;
    uint64_t max_inflate;
    double max_seconds;
    const char* named;
  };
  const Case cases[] = {
      {&inflating, 1 << 20, 30, "(--max-inflate)"},
      {&base, 64 << 20, 1e-9, "(--max-seconds)"},
      {&damaged, 64 << 20, 30, "parsing the document reads more than"},
  };
  TrustSources trust;
  std::string error;
  ASSERT_TRUE(trust.Load(TestRoot(), &error)) << error;
  for (const Case& c : cases) {
    ReportOptions options;
    options.limits = ResourceLimits{c.max_inflate, c.max_seconds};
    DocumentReport report;
    EXPECT_EQ(BuildReport(Bytes(*c.document), c.document->size(), trust, &report, nullptr, options),
              ReportStatus::kNotOpened);
    EXPECT_EQ(report.error.rfind("resource limit reached: ", 0), 0u) << report.error;
    EXPECT_NE(report.error.find(c.named), std::string::npos) << report.error;
    EXPECT_TRUE(report.timestamps.empty());
  }
  // Without the limit, the same inflating update is read.
  DocumentReport report;
  EXPECT_EQ(BuildReport(Bytes(inflating), inflating.size(), trust, &report), ReportStatus::kOk)
      << report.error;
}

// --- long-term validation (tests/data/ltv, scripts/make-ltv-docs.py) --------

// The long-term test documents' root as the one extra trust anchor.
TrustSettings LongTermRoot() {
  const std::string pem = ReadFile(std::string(VRD_TEST_DATA_DIR) + "/ltv/pki/root.pem");
  BIO* bio = BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size()));
  X509* cert = PEM_read_bio_X509(bio, nullptr, nullptr, nullptr);
  unsigned char* der = nullptr;
  const int length = cert != nullptr ? i2d_X509(cert, &der) : 0;
  TrustSettings settings;
  settings.extra_roots.emplace_back(reinterpret_cast<char*>(der), length > 0 ? length : 0);
  OPENSSL_free(der);
  X509_free(cert);
  BIO_free(bio);
  return settings;
}

// Each document's time-stamps under both models, as at 2026-01-01: the
// indication ("MAIN/SUB" per time-stamp), the first one's revocation status
// and proof of existence, and the document's existence and renewal dates.
TEST(ReportLongTermTest, IndicationsUnderBothModels) {
  struct Case {
    const char* file;
    ValidationModel model;
    std::vector<std::string> indications;
    const char* revocation;
    const char* poe;  // of the first time-stamp, date only
    const char* existence;
    const char* renew_by;
  };
  const ValidationModel pit = ValidationModel::kPointInTime;
  const ValidationModel strict = ValidationModel::kStrict;
  const Case cases[] = {
      {"good-crl.pdf", strict, {"PASSED/"}, "good", "", "2025-06-01", "2029-01-01"},
      {"xref-stream.pdf", strict, {"PASSED/"}, "good", "", "2025-06-01", "2029-01-01"},
      {"ocsp.pdf", strict, {"PASSED/"}, "good", "", "2025-06-01", "2029-01-01"},
      {"crl-in-token.pdf", strict, {"PASSED/"}, "good", "", "2025-06-01", "2029-01-01"},
      {"no-revocation.pdf", pit, {"INDETERMINATE/TRY_LATER"}, "unknown", "", "", ""},
      {"stale-only.pdf", pit, {"INDETERMINATE/TRY_LATER"}, "stale", "", "", ""},
      {"forged-crl.pdf", pit, {"INDETERMINATE/TRY_LATER"}, "unknown", "", "", ""},
      {"revoked-before.pdf", pit, {"FAILED/REVOKED"}, "revoked", "", "", ""},
      {"revoked-after-kc.pdf", pit, {"INDETERMINATE/REVOKED_NO_POE"}, "revoked", "", "", ""},
      {"revoked-after-kc-poe.pdf",
       strict,
       {"PASSED/", "PASSED/"},
       "revoked",
       "2025-07-01",
       "2025-06-01",
       "2029-01-01"},
      {"revoked-after-benign.pdf", pit, {"PASSED/"}, "revoked", "", "2025-06-01", "2025-09-01"},
      {"revoked-after-benign.pdf", strict, {"INDETERMINATE/REVOKED_NO_POE"}, "revoked", "", "", ""},
      {"expired-protected.pdf",
       strict,
       {"PASSED/", "PASSED/"},
       "good",
       "2021-09-01",
       "2021-06-01",
       "2029-01-01"},
      {"expired-unprotected.pdf", pit, {"PASSED/"}, "good", "", "2021-06-01", "2021-12-31"},
      {"expired-unprotected.pdf",
       strict,
       {"INDETERMINATE/OUT_OF_BOUNDS_NO_POE"},
       "good",
       "",
       "",
       ""},
      {"three-doc-ts.pdf",
       strict,
       {"PASSED/", "PASSED/", "PASSED/"},
       "good",
       "2025-07-01",
       "2025-06-01",
       "2029-01-01"},
  };
  TrustSources trust;
  std::string error;
  ASSERT_TRUE(trust.Load(LongTermRoot(), &error)) << error;
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.file) + " " + ValidationModelName(c.model));
    const std::string bytes = ReadFile(std::string(VRD_TEST_DATA_DIR) + "/ltv/" + c.file);
    ReportOptions options;
    options.validation = ValidationSettings{c.model, 1767225600};  // 2026-01-01
    DocumentReport report;
    ASSERT_EQ(BuildReport(Bytes(bytes), bytes.size(), trust, &report, nullptr, options),
              ReportStatus::kOk)
        << report.error;
    std::vector<std::string> indications;
    for (const TimeStampReport& ts : report.timestamps) {
      indications.push_back(ts.indication.main + "/" + ts.indication.sub);
    }
    EXPECT_EQ(indications, c.indications);
    ASSERT_FALSE(report.timestamps.empty());
    EXPECT_STREQ(RevocationStatusName(report.timestamps[0].revocation.status), c.revocation);
    EXPECT_EQ(report.timestamps[0].poe_time.substr(0, 10), c.poe);
    EXPECT_EQ(report.existence_proven_at.substr(0, 10), c.existence);
    EXPECT_EQ(report.renew_by.substr(0, 10), c.renew_by);
  }
}

// CRLs the user gives (--revocation) count like the document's own: the
// document without revocation data passes with another document's CRLs.
TEST(ReportLongTermTest, UserRevocationFilesCount) {
  QPDF other;
  other.processFile((std::string(VRD_TEST_DATA_DIR) + "/ltv/good-crl.pdf").c_str());
  TrustSettings settings = LongTermRoot();
  settings.revocation_items = ReadDss(&other).crls;
  ASSERT_EQ(settings.revocation_items.size(), 2u);
  TrustSources trust;
  std::string error;
  ASSERT_TRUE(trust.Load(settings, &error)) << error;
  const std::string bytes = ReadFile(std::string(VRD_TEST_DATA_DIR) + "/ltv/no-revocation.pdf");
  DocumentReport report;
  ASSERT_EQ(BuildReport(Bytes(bytes), bytes.size(), trust, &report), ReportStatus::kOk);
  ASSERT_EQ(report.timestamps.size(), 1u);
  EXPECT_EQ(report.timestamps[0].indication.main, "PASSED");
  EXPECT_EQ(report.timestamps[0].revocation.decided_where, "--revocation");
}

// A CRL signed by another key under the issuer's name is not believed, and
// is listed with why.
TEST(ReportLongTermTest, UnauthorisedItemsAreIgnoredWithWhy) {
  TrustSources trust;
  std::string error;
  ASSERT_TRUE(trust.Load(LongTermRoot(), &error)) << error;
  const std::string bytes = ReadFile(std::string(VRD_TEST_DATA_DIR) + "/ltv/forged-crl.pdf");
  DocumentReport report;
  ASSERT_EQ(BuildReport(Bytes(bytes), bytes.size(), trust, &report), ReportStatus::kOk);
  ASSERT_EQ(report.timestamps.size(), 1u);
  const RevocationReport& revocation = report.timestamps[0].revocation;
  ASSERT_EQ(revocation.ignored.size(), 1u);
  EXPECT_EQ(revocation.ignored[0].kind, "crl");
  EXPECT_EQ(revocation.ignored[0].why, "its signature does not verify with the issuer's key");
}

// A later revision that empties the /DSS, or rewrites the streams of its
// CRLs in place, does not take back what the CRLs proved: they are read
// from the revision that listed them.
TEST(ReportLongTermTest, RevocationDataALaterRevisionRemovedStillCounts) {
  const std::string base = ReadFile(std::string(VRD_TEST_DATA_DIR) + "/ltv/good-crl.pdf");
  const auto number_after = [&base](const char* key) {
    const size_t at = base.rfind(key);
    return at == std::string::npos ? -1 : std::stoi(base.substr(at + std::strlen(key)));
  };
  const int dss = number_after("/DSS ");
  ASSERT_GT(dss, 0);
  const size_t crls_at = base.rfind("/CRLs [");
  ASSERT_NE(crls_at, std::string::npos);
  std::istringstream crls(base.substr(crls_at + 7, base.find(']', crls_at) - crls_at - 7));
  const std::string not_a_crl = "<< /Length 4 >>\nstream\njunk\nendstream";
  std::vector<std::pair<int, std::string>> crl_streams;
  for (int number = 0, generation = 0; crls >> number >> generation && crls.ignore(3);) {
    crl_streams.emplace_back(number, not_a_crl);
  }
  ASSERT_FALSE(crl_streams.empty());
  const struct {
    const char* what;
    std::vector<std::pair<int, std::string>> objects;  // rewritten in the later revision
  } cases[] = {
      {"the /DSS emptied", {{dss, "<< >>"}}},
      {"every CRL stream rewritten", crl_streams},
  };
  const std::string prev = base.substr(base.rfind("startxref\n") + 10);
  const size_t size = std::stoul(base.substr(base.rfind("/Size ") + 6));
  TrustSources trust;
  std::string error;
  ASSERT_TRUE(trust.Load(LongTermRoot(), &error)) << error;
  for (const auto& c : cases) {
    std::string body;
    std::string xref = "xref\n";
    for (const auto& [number, value] : c.objects) {
      char entry[32];
      std::snprintf(entry, sizeof entry, "%010zu 00000 n \n", base.size() + body.size());
      xref += std::to_string(number) + " 1\n" + entry;
      body += std::to_string(number) + " 0 obj\n" + value + "\nendobj\n";
    }
    const std::string document = base + body + xref + "trailer\n<< /Size " + std::to_string(size) +
                                 " /Root 1 0 R /Prev " + std::to_string(std::stoll(prev)) +
                                 " >>\nstartxref\n" + std::to_string(base.size() + body.size()) +
                                 "\n%%EOF\n";
    DocumentReport report;
    ASSERT_EQ(BuildReport(Bytes(document), document.size(), trust, &report), ReportStatus::kOk)
        << c.what << ": " << report.error;
    ASSERT_EQ(report.timestamps.size(), 1u) << c.what;
    EXPECT_EQ(report.timestamps[0].revocation.status, RevocationStatus::kGood) << c.what;
    EXPECT_EQ(report.timestamps[0].revocation.decided_where, "dss, removed by a later revision")
        << c.what;
  }
}

// A certificate named cn with serial, issued under issuer_name and signed
// with signer (self-signed when cert_key is signer); extended key usage
// id-kp-OCSPSigning when asked.
X509* MakeCertificate(const char* cn, long serial, const X509_NAME* issuer_name, EVP_PKEY* cert_key,
                      EVP_PKEY* signer, bool ocsp_signing) {
  X509* cert = X509_new();
  X509_set_version(cert, X509_VERSION_3);
  ASN1_INTEGER_set(X509_get_serialNumber(cert), serial);
  X509_NAME_add_entry_by_txt(X509_get_subject_name(cert), "CN", MBSTRING_ASC,
                             reinterpret_cast<const unsigned char*>(cn), -1, -1, 0);
  X509_set_issuer_name(cert, issuer_name != nullptr ? issuer_name : X509_get_subject_name(cert));
  ASN1_TIME_set(X509_getm_notBefore(cert), 1600000000);
  ASN1_TIME_set(X509_getm_notAfter(cert), 1900000000);
  X509_set_pubkey(cert, cert_key);
  if (ocsp_signing) {
    X509_EXTENSION* eku = X509V3_EXT_conf_nid(nullptr, nullptr, NID_ext_key_usage, "OCSPSigning");
    X509_add_ext(cert, eku, -1);
    X509_EXTENSION_free(eku);
  }
  X509_sign(cert, signer, EVP_sha256());
  return cert;
}

// An OCSP response saying cert (of issuer) is good as at this_update,
// signed by signer with key.
std::string OcspGood(X509* cert, X509* issuer, X509* signer, EVP_PKEY* key, time_t this_update) {
  OCSP_BASICRESP* basic = OCSP_BASICRESP_new();
  OCSP_CERTID* id = OCSP_cert_to_id(EVP_sha1(), cert, issuer);
  ASN1_TIME* when = ASN1_TIME_set(nullptr, this_update);
  OCSP_basic_add1_status(basic, id, V_OCSP_CERTSTATUS_GOOD, 0, nullptr, when, nullptr);
  STACK_OF(X509)* certs = sk_X509_new_null();
  OCSP_basic_sign(basic, signer, key, EVP_sha256(), certs, 0);
  OCSP_RESPONSE* response = OCSP_response_create(OCSP_RESPONSE_STATUS_SUCCESSFUL, basic);
  unsigned char* der = nullptr;
  const int length = i2d_OCSP_RESPONSE(response, &der);
  std::string out(reinterpret_cast<char*>(der), length > 0 ? length : 0);
  OPENSSL_free(der);
  OCSP_RESPONSE_free(response);
  sk_X509_free(certs);
  ASN1_TIME_free(when);
  OCSP_CERTID_free(id);
  OCSP_BASICRESP_free(basic);
  return out;
}

// An OCSP response counts when the issuer signed it or a responder the
// issuer certified for OCSP signing did; not a responder without that
// usage, nor one that only borrows the issuer's name.
TEST(ReportLongTermTest, OcspOnlyFromAuthorisedResponders) {
  EVP_PKEY* ca_key = EVP_RSA_gen(2048);
  EVP_PKEY* other_key = EVP_RSA_gen(2048);
  X509* ca = MakeCertificate("OCSP Test CA", 1, nullptr, ca_key, ca_key, false);
  X509* tsa =
      MakeCertificate("OCSP Test TSA", 2, X509_get_subject_name(ca), other_key, ca_key, false);
  X509* responder =
      MakeCertificate("Responder", 3, X509_get_subject_name(ca), other_key, ca_key, true);
  X509* plain = MakeCertificate("Plain", 4, X509_get_subject_name(ca), other_key, ca_key, false);
  X509* impostor = MakeCertificate("OCSP Test CA", 5, nullptr, other_key, other_key, true);
  struct Case {
    X509* signer;
    EVP_PKEY* key;
    RevocationStatus status;
  };
  const Case cases[] = {
      {ca, ca_key, RevocationStatus::kGood},
      {responder, other_key, RevocationStatus::kGood},
      {plain, other_key, RevocationStatus::kUnknown},
      {impostor, other_key, RevocationStatus::kUnknown},
  };
  for (const Case& c : cases) {
    RevocationSet items;
    items.Add(OcspGood(tsa, ca, c.signer, c.key, 1750000000), "test");
    const CertificateStatus status = items.StatusOf(tsa, ca, 1745000000);
    EXPECT_EQ(status.status, c.status) << NameText(X509_get_subject_name(c.signer));
    EXPECT_EQ(status.ignored.size(), c.status == RevocationStatus::kGood ? 0u : 1u);
  }
  for (X509* cert : {ca, tsa, responder, plain, impostor}) X509_free(cert);
  EVP_PKEY_free(ca_key);
  EVP_PKEY_free(other_key);
}

// The revocation index against lists OpenSSL writes: serials whose DER
// needs a leading zero, one byte long or twenty, entries out of order, with
// and without a reason; a certificate not listed is good.
TEST(ReportLongTermTest, CrlIndexFindsEveryListedSerial) {
  EVP_PKEY* key = EVP_RSA_gen(2048);
  ASSERT_NE(key, nullptr);
  X509* issuer = X509_new();
  X509_NAME* name = X509_get_subject_name(issuer);
  X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                             reinterpret_cast<const unsigned char*>("Index CA"), -1, -1, 0);
  X509_set_issuer_name(issuer, name);
  X509_set_pubkey(issuer, key);
  X509_sign(issuer, key, EVP_sha256());
  const std::vector<std::string> serials = {
      "7f", "80", "00ff", "01", "0123456789abcdef0123456789abcdef01234567", "5a5a", "ff00"};
  X509_CRL* crl = X509_CRL_new();
  X509_CRL_set_version(crl, X509_CRL_VERSION_2);
  X509_CRL_set_issuer_name(crl, name);
  ASN1_TIME* this_update = ASN1_TIME_set(nullptr, 1750000000);
  X509_CRL_set1_lastUpdate(crl, this_update);
  for (size_t i = 0; i < serials.size(); ++i) {
    BIGNUM* bn = nullptr;
    BN_hex2bn(&bn, serials[i].c_str());
    X509_REVOKED* entry = X509_REVOKED_new();
    ASN1_INTEGER* serial = BN_to_ASN1_INTEGER(bn, nullptr);
    X509_REVOKED_set_serialNumber(entry, serial);
    ASN1_TIME* when = ASN1_TIME_set(nullptr, 1740000000 + static_cast<time_t>(i));
    X509_REVOKED_set_revocationDate(entry, when);
    if (i % 2 == 1) {
      ASN1_ENUMERATED* reason = ASN1_ENUMERATED_new();
      ASN1_ENUMERATED_set(reason, 1);
      X509_REVOKED_add1_ext_i2d(entry, NID_crl_reason, reason, 0, 0);
      ASN1_ENUMERATED_free(reason);
    }
    X509_CRL_add0_revoked(crl, entry);  // kept in the order added
    ASN1_TIME_free(when);
    ASN1_INTEGER_free(serial);
    BN_free(bn);
  }
  X509_CRL_sign(crl, key, EVP_sha256());
  unsigned char* der = nullptr;
  const int length = i2d_X509_CRL(crl, &der);
  RevocationSet items;
  items.Add(std::string(reinterpret_cast<char*>(der), length), "test");
  OPENSSL_free(der);
  std::vector<std::string> asked = serials;
  asked.push_back("02");  // not listed
  for (size_t i = 0; i < asked.size(); ++i) {
    SCOPED_TRACE(asked[i]);
    X509* cert = X509_new();
    BIGNUM* bn = nullptr;
    BN_hex2bn(&bn, asked[i].c_str());
    BN_to_ASN1_INTEGER(bn, X509_get_serialNumber(cert));
    BN_free(bn);
    X509_set_issuer_name(cert, name);
    ASN1_TIME_set(X509_getm_notAfter(cert), 1900000000);
    const CertificateStatus status = items.StatusOf(cert, issuer, 1745000000);
    if (i < serials.size()) {
      EXPECT_EQ(status.status, RevocationStatus::kRevoked);
      EXPECT_EQ(status.revoked_at, 1740000000 + static_cast<int64_t>(i));
      EXPECT_EQ(status.reason, i % 2 == 1 ? "keyCompromise" : "");
    } else {
      EXPECT_EQ(status.status, RevocationStatus::kGood);
    }
    X509_free(cert);
  }
  // A certificate that expired before the list was issued: the list cannot
  // speak for it.
  X509* expired = X509_new();
  ASN1_INTEGER_set(X509_get_serialNumber(expired), 2);
  X509_set_issuer_name(expired, name);
  ASN1_TIME_set(X509_getm_notAfter(expired), 1700000000);
  const CertificateStatus late = items.StatusOf(expired, issuer, 1600000000);
  EXPECT_EQ(late.status, RevocationStatus::kStale);
  EXPECT_TRUE(late.only_after_expiry);
  X509_free(expired);
  // The same list as PEM (--revocation files) reads the same; marked
  // indirect, it is not believed.
  BIO* pem = BIO_new(BIO_s_mem());
  PEM_write_bio_X509_CRL(pem, crl);
  char* pem_text = nullptr;
  const long pem_length = BIO_get_mem_data(pem, &pem_text);
  RevocationSet from_pem;
  from_pem.Add(std::string(pem_text, static_cast<size_t>(pem_length)), "test");
  BIO_free(pem);
  ISSUING_DIST_POINT* point = ISSUING_DIST_POINT_new();
  point->indirectCRL = 1;
  X509_CRL_add1_ext_i2d(crl, NID_issuing_distribution_point, point, 1, 0);
  ISSUING_DIST_POINT_free(point);
  X509_CRL_sign(crl, key, EVP_sha256());
  der = nullptr;
  const int indirect_length = i2d_X509_CRL(crl, &der);
  RevocationSet indirect;
  indirect.Add(std::string(reinterpret_cast<char*>(der), indirect_length), "test");
  OPENSSL_free(der);
  X509* listed = X509_new();
  ASN1_INTEGER_set(X509_get_serialNumber(listed), 0x7f);
  X509_set_issuer_name(listed, name);
  ASN1_TIME_set(X509_getm_notAfter(listed), 1900000000);
  EXPECT_EQ(from_pem.StatusOf(listed, issuer, 1745000000).status, RevocationStatus::kRevoked);
  const CertificateStatus ignored = indirect.StatusOf(listed, issuer, 1745000000);
  EXPECT_EQ(ignored.status, RevocationStatus::kUnknown);
  ASSERT_EQ(ignored.ignored.size(), 1u);
  EXPECT_EQ(ignored.ignored[0].why, "an indirect CRL");
  X509_free(listed);
  ASN1_TIME_free(this_update);
  X509_CRL_free(crl);
  X509_free(issuer);
  EVP_PKEY_free(key);
}

TEST(ReportRobustnessTest, DeepAndCyclicFieldTreesEndWithoutTimeStamps) {
  for (const auto& [depth, extra] : {std::pair{5000, 0}, std::pair{3, 200000}}) {
    const std::string doc = HostileDocument(depth, extra);
    DocumentReport report;
    ASSERT_EQ(BuildReport(Bytes(doc), doc.size(), TestRoot(), &report), ReportStatus::kOk)
        << report.error;
    EXPECT_TRUE(report.timestamps.empty());
    EXPECT_EQ(report.revisions, 1);
  }
}

// Many document time-stamps, each over a distinct range list of about 1 MB:
// the digests stop at the document's hash budget instead of growing without
// bound.
TEST(ReportRobustnessTest, DistinctRangeListsStopAtTheHashBudget) {
  constexpr int kStamps = 100;
  constexpr size_t kPadding = 4 << 20;
  const std::string token = ReadFile(kPki + "token-sha256.der");
  std::string token_hex;
  for (const char c : token) {
    char digits[3];
    std::snprintf(digits, sizeof digits, "%02x", static_cast<unsigned char>(c));
    token_hex += digits;
  }
  std::string body = "%PDF-1.7\n%" + std::string(kPadding, 'x') + "\n";
  std::vector<size_t> offsets;
  auto object = [&](const std::string& text) {
    offsets.push_back(body.size());
    body += std::to_string(offsets.size()) + " 0 obj\n" + text + "\nendobj\n";
  };
  object("<< /Type /Catalog /Pages 2 0 R >>");
  object("<< /Type /Pages /Kids [] /Count 0 >>");
  for (int i = 0; i < kStamps; ++i) {
    object("<< /Type /DocTimeStamp /SubFilter /ETSI.RFC3161 /ByteRange [0 " +
           std::to_string(kPadding - static_cast<size_t>(i)) + " " +
           std::to_string(kPadding - static_cast<size_t>(i)) + " 0] /Contents <" + token_hex +
           "> >>");
  }
  const size_t xref = body.size();
  body += "xref\n0 " + std::to_string(offsets.size() + 1) + "\n0000000000 65535 f \n";
  for (size_t offset : offsets) {
    char line[32];
    std::snprintf(line, sizeof line, "%010zu 00000 n \n", offset);
    body += line;
  }
  body += "trailer\n<< /Size " + std::to_string(offsets.size() + 1) +
          " /Root 1 0 R >>\nstartxref\n" + std::to_string(xref) + "\n%%EOF\n";

  DocumentReport report;
  ASSERT_EQ(BuildReport(Bytes(body), body.size(), TestRoot(), &report), ReportStatus::kOk);
  ASSERT_EQ(report.timestamps.size(), static_cast<size_t>(kStamps));
  int checked = 0;
  int skipped = 0;
  for (const TimeStampReport& ts : report.timestamps) {
    EXPECT_FALSE(ts.Verified());
    if (ts.imprint == Verdict::kFail) ++checked;
    if (ts.imprint == Verdict::kNotChecked) {
      ++skipped;
      EXPECT_NE(ts.problem.find("too many digests"), std::string::npos);
    }
  }
  EXPECT_EQ(checked + skipped, kStamps);
  EXPECT_GT(checked, 40);  // 256 MiB at least: some 60 of them
  EXPECT_GT(skipped, 0);
}

// --- revision boundaries --------------------------------------------------------

TEST(RevisionEndsTest, EveryEofThatClosesAStartxref) {
  struct Case {
    std::string text;
    std::vector<std::pair<int64_t, int64_t>> ends;  // eof_end, line_end
  };
  const Case cases[] = {
      {"startxref\n12\n%%EOF\n", {{18, 19}}},
      {"startxref\r\n12\r\n%%EOF\r\n", {{20, 22}}},
      {"startxref 12 %%EOF", {{18, 18}}},
      {"startxref\n12\n%%EOF\rstartxref\n5\n%%EOF", {{18, 19}, {36, 36}}},
      {"%%EOF\n", {}},                   // no startxref before it
      {"startxref\n%%EOF\n", {}},        // no offset
      {"(text %%EOF) startxref\n", {}},  // startxref after it
      {"startxref\nx1\n%%EOF\n", {}},    // not a number
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    const std::vector<RevisionEnd> ends = FindRevisionEnds(Bytes(c.text), c.text.size());
    ASSERT_EQ(ends.size(), c.ends.size());
    for (size_t i = 0; i < ends.size(); ++i) {
      EXPECT_EQ(ends[i].eof_end, c.ends[i].first);
      EXPECT_EQ(ends[i].line_end, c.ends[i].second);
    }
  }
}

// The "%%" search looks at sixteen positions at a time: a marker at every
// alignment, amid lone '%' decoys, and one ending at the buffer's last byte.
TEST(RevisionEndsTest, MarkersAtEveryAlignment) {
  const std::string marker = "startxref\n9\n%%EOF";
  for (size_t at = 0; at < 40; ++at) {
    std::string text(at, '%');
    for (size_t i = 1; i < text.size(); i += 2) text[i] = 'x';  // "%x%x..."
    text += marker;
    for (const std::string& tail : {std::string(), std::string(37, 'y'), std::string("%")}) {
      const std::string bytes = text + tail;
      const std::vector<RevisionEnd> ends = FindRevisionEnds(Bytes(bytes), bytes.size());
      ASSERT_EQ(ends.size(), 1u) << at << " +" << tail.size();
      EXPECT_EQ(ends[0].eof_end, static_cast<int64_t>(text.size())) << at;
    }
  }
}

TEST(RevisionEndsTest, LinearizedFirstPageSectionIsNotARevision) {
  // A linearized original: the linearization dictionary, the first-page
  // section with its own "%%EOF", the main section; /L gives its length
  // (four digits, so every variant has the same layout).
  auto original = [](const char* key, int64_t length) {
    char value[16];
    std::snprintf(value, sizeof value, "%04lld", static_cast<long long>(length));
    return std::string("%PDF-1.7\n1 0 obj\n<< /Linearized 1 ") + key + " " + value +
           " /H [9 9] >>\nendobj\nxref\ntrailer\n<< >>\nstartxref\n0\n%%EOF\n" +
           "2 0 obj\n<< >>\nendobj\nxref\ntrailer\n<< >>\nstartxref\n77\n%%EOF\n";
  };
  const std::string update =
      "3 0 obj\n<< >>\nendobj\nxref\ntrailer\n<< >>\nstartxref\n140\n%%EOF\n";
  const auto length = static_cast<int64_t>(original("/L", 0).size());
  const auto first_page_end = static_cast<int64_t>(original("/L", 0).find("%%EOF\n") + 6);
  const int64_t update_end = length + static_cast<int64_t>(update.size());
  struct Case {
    const char* name;
    std::string text;
    std::vector<int64_t> line_ends;
  };
  const Case cases[] = {
      {"linearized original", original("/L", length), {length}},
      {"original and an update", original("/L", length) + update, {length, update_end}},
      {"/L short of the main section", original("/L", length - 100), {first_page_end, length}},
      {"no /L key", original("/E", length), {first_page_end, length}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::vector<RevisionEnd> ends = FindRevisionEnds(Bytes(c.text), c.text.size());
    ASSERT_EQ(ends.size(), c.line_ends.size());
    for (size_t i = 0; i < ends.size(); ++i) EXPECT_EQ(ends[i].line_end, c.line_ends[i]);
  }
}

// --- digests ------------------------------------------------------------------

TEST(ReportDigestTest, EngineAndOpenSslAgreeOverRanges) {
  std::string data(100000, '\0');
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 7 + i / 251);
  const ByteRanges ranges = {{0, 1000}, {5000, 0}, {5001, 94999}};
  std::string joined = data.substr(0, 1000) + data.substr(5001, 94999);
  struct Case {
    const char* oid;
    const char* openssl_name;
  };
  const Case cases[] = {
      {"1.2.840.113549.2.5", "MD5"},        {"1.3.14.3.2.26", "SHA1"},
      {"2.16.840.1.101.3.4.2.1", "SHA256"}, {"2.16.840.1.101.3.4.2.3", "SHA512"},
      {"2.16.840.1.101.3.4.2.2", "SHA384"}, {"2.16.840.1.101.3.4.2.8", "SHA3-256"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.openssl_name);
    std::vector<unsigned char> ours;
    ASSERT_TRUE(DigestRanges(c.oid, Bytes(data), ranges, &ours));
    unsigned char expected[EVP_MAX_MD_SIZE];
    unsigned int expected_length = 0;
    EVP_MD* md = EVP_MD_fetch(nullptr, c.openssl_name, nullptr);
    ASSERT_NE(md, nullptr);
    ASSERT_EQ(EVP_Digest(joined.data(), joined.size(), expected, &expected_length, md, nullptr), 1);
    EVP_MD_free(md);
    EXPECT_EQ(HexLower(ours.data(), ours.size()), HexLower(expected, expected_length));
  }
  std::vector<unsigned char> none;
  EXPECT_FALSE(DigestRanges("1.2.3.4", Bytes(data), ranges, &none));
}

TEST(ReportDigestTest, AlgorithmNamesAndWeakness) {
  struct Case {
    const char* oid;
    const char* name;
    bool weak;
  };
  const Case cases[] = {
      {"1.2.840.113549.2.5", "MD5", true},
      {"1.3.14.3.2.26", "SHA1", true},
      {"2.16.840.1.101.3.4.2.1", "SHA256", false},
      {"2.16.840.1.101.3.4.2.2", "SHA384", false},
      {"1.2.3.4", "1.2.3.4", false},
  };
  for (const Case& c : cases) {
    bool weak = !c.weak;
    EXPECT_EQ(AlgorithmName(c.oid, &weak), c.name);
    EXPECT_EQ(weak, c.weak) << c.oid;
  }
}

// The token checks on the test PKI's tokens (tests/data/pki), each with its
// own fault.
TEST(ReportTokenTest, VerdictsOfEachTokenCheck) {
  struct Case {
    const char* token;
    Verdict signature;
    Verdict ess;
    Verdict eku;
    Verdict chain;
    bool expired_since;
    const char* algorithm;
  };
  constexpr auto kUnset = Verdict::kNotChecked;
  const Case cases[] = {
      {"token-sha256.der", kPass, kPass, kPass, kPass, false, "SHA256"},
      {"token-sha512.der", kPass, kPass, kPass, kPass, false, "SHA512"},  // ESS v1
      {"token-sha1.der", kPass, kPass, kPass, kPass, false, "SHA1"},
      // Without ESS, and carrying the TSA's certificate only (no intermediate).
      {"token-noess.der", kPass, kFail, kPass, kFail, false, "SHA256"},
      {"token-noeku.der", kPass, kPass, kFail, kFail, false, "SHA256"},
      {"token-expired.der", kPass, kPass, kPass, kPass, true, "SHA256"},
      {"token-selfsigned.der", kPass, kPass, kPass, kFail, false, "SHA256"},
      {"token-nocert.der", kFail, kUnset, kUnset, kUnset, false, "SHA256"},
  };
  TrustSources trust;
  std::string error;
  ASSERT_TRUE(trust.Load(TestRoot(), &error)) << error;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.token);
    const std::string token = ReadFile(kPki + c.token);
    ASSERT_FALSE(token.empty());
    TimeStampReport ts;
    ImprintRequest request;
    ASSERT_TRUE(CheckToken(Bytes(token), token.size(), trust, &ts, &request)) << ts.problem;
    EXPECT_EQ(ts.signature, c.signature);
    EXPECT_EQ(ts.signing_certificate, c.ess);
    EXPECT_EQ(ts.time_stamping_usage, c.eku);
    EXPECT_EQ(ts.chain, c.chain);
    EXPECT_EQ(ts.expired_since, c.expired_since);
    EXPECT_EQ(ts.imprint_algorithm, c.algorithm);
    EXPECT_EQ(ts.problem.empty(), c.signature == kPass && c.ess == kPass && c.chain == kPass)
        << ts.problem;
    EXPECT_EQ(ts.trusted_by, c.chain == kPass ? TrustSource::kTrustAnchor : TrustSource::kNone);
    // The imprint request is the token's own imprint.
    EXPECT_EQ(HexLower(request.expected.data(), request.expected.size()), ts.imprint_hex);
  }
  // Not a token at all.
  for (const char* other : {"cms-data.der", "root.der"}) {
    const std::string bytes = ReadFile(kPki + other);
    TimeStampReport ts;
    ImprintRequest request;
    EXPECT_FALSE(CheckToken(Bytes(bytes), bytes.size(), trust, &ts, &request)) << other;
    EXPECT_FALSE(ts.problem.empty());
  }
}

// The exports keep refusing what OpenSSL's CMS code refuses: the toolkit
// operation still rejects the 2.5.8.1.1 token that the report accepts.
TEST(ReportTokenTest, ToolkitStillRejectsTheX500RsaIdentifier) {
  const std::string doc = ReadFile(kData + "x500-rsa.pdf");
  DocumentReport report;
  ASSERT_EQ(BuildReport(Bytes(doc), doc.size(), TestRoot(), &report), ReportStatus::kOk);
  ASSERT_EQ(report.timestamps.size(), 1u);
  EXPECT_EQ(report.timestamps[0].signature, kPass);
  const size_t start = doc.find("/Contents <") + 11;
  const size_t end = doc.find('>', start);
  std::string token;
  for (size_t i = start; i + 1 < end; i += 2) {
    token.push_back(static_cast<char>(std::stoi(doc.substr(i, 2), nullptr, 16)));
  }
  QVTK_CTX ctx = nullptr;
  ASSERT_EQ(QVTK_API_Init(&ctx, "."), QVTK_OK);
  QVTK_BINSTR in;
  QVTK_BINSTR out;
  QVTK_BINSTR_Create(&in);
  QVTK_BINSTR_Create(&out);
  ASSERT_EQ(QVTK_BINSTR_SetData(token.data(), static_cast<int32_t>(token.size()), &in), QVTK_OK);
  int32_t type = 0;
  EXPECT_EQ(QVTK_CMS_ProcessSignedData(ctx, 0, &in, &out, &type), QVTK_ERR_CMS_SIGNATURE);
  QVTK_BINSTR_Delete(&in);
  QVTK_BINSTR_Delete(&out);
  QVTK_API_Finish(&ctx);
}

// --- the command ----------------------------------------------------------------

#if !defined(_WIN32)

struct CommandRun {
  int status = -1;
  std::string out;
};

CommandRun Execute(const std::string& arguments) {
  const std::string out_path =
      ::testing::TempDir() + "vrd_report_out_" + std::to_string(::getpid());
  const std::string command =
      std::string("'") + VRD_TSVERIFY + "' " + arguments + " > '" + out_path + "' 2>/dev/null";
  CommandRun run;
  const int raw = std::system(command.c_str());
  run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  run.out = ReadFile(out_path);
  std::remove(out_path.c_str());
  return run;
}

// --all loads its module from beside the executable (or the installed
// library folder): a copy of tsverify alone says what is missing and still
// verifies without --all; with the module copied beside it, --all works.
TEST(ReportCommandTest, AllModuleIsFoundBesideTheExecutable) {
  const std::string folder = ::testing::TempDir() + "vrd_module_" + std::to_string(::getpid());
  const std::string module = std::string(VRD_TSVERIFY_ALL_MODULE);
  ASSERT_EQ(std::system(
                ("mkdir -p '" + folder + "' && cp '" + VRD_TSVERIFY + "' '" + folder + "/tsverify'")
                    .c_str()),
            0);
  const std::string err = folder + "/err.txt";
  auto run = [&](const std::string& arguments) {
    const int raw =
        std::system(("'" + folder + "/tsverify' --trust-anchor '" + kPki + "root.pem' " +
                     arguments + " '" + kData + "doc-ts.pdf' > /dev/null 2> '" + err + "'")
                        .c_str());
    return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  };
  EXPECT_EQ(run("--all"), 2);
  EXPECT_NE(ReadFile(err).find("--all needs libvrd_tsverify_all.so"), std::string::npos)
      << ReadFile(err);
  EXPECT_EQ(run(""), 0);
  ASSERT_EQ(std::system(("cp '" + module + "' '" + folder + "/'").c_str()), 0);
  EXPECT_EQ(run("--all"), 3) << ReadFile(err);  // verified, no revocation data: INDETERMINATE
  EXPECT_EQ(std::system(("rm -rf '" + folder + "'").c_str()), 0);
}

TEST(ReportCommandTest, ExitStatusFollowsEveryTimeStamp) {
  const std::string anchor = "--trust-anchor '" + kPki + "root.pem' ";
  struct Case {
    std::string arguments;
    int status;
  };
  // Verified time-stamps without revocation data are INDETERMINATE (3); a
  // failed one or a file without any makes the run's status 1.
  const Case cases[] = {
      {anchor + "'" + kData + "doc-ts.pdf'", 3},
      {anchor + "'" + kData + "ber-token.pdf' '" + kData + "two-doc-ts.pdf'", 3},
      {anchor + "'" + kData + "doc-ts.pdf' '" + kData + "unsigned.pdf'", 1},
      {"-j 3 " + anchor + "'" + kData + "doc-ts.pdf' '" + kData + "hybrid.pdf' '" + kData +
           "ts-response.pdf' '" + kData + "sig-with-ts.pdf'",
       3},
      {"-j2 " + anchor + "'" + kData + "doc-ts.pdf' '" + kData + "altered-range1.pdf'", 1},
      {anchor + "'" + kData + "altered-range2.pdf'", 1},
      {anchor + "'" + kData + "not-a-pdf.pdf'", 1},
      {anchor + "'" + kData + "no-such-file.pdf'", 1},
      {"'" + kData + "doc-ts.pdf'", 3},  // no trust source: NO_CERTIFICATE_CHAIN_FOUND
      {"--system-roots '" + kData + "doc-ts.pdf'", 3},
  };
  for (const Case& c : cases) {
    for (const char* format : {"--all ", "--all --json "}) {
      SCOPED_TRACE(format + c.arguments);
      const CommandRun run = Execute(format + c.arguments);
      EXPECT_EQ(run.status, c.status) << run.out;
      EXPECT_FALSE(run.out.empty());
    }
  }
  EXPECT_EQ(Execute("--system-roots '" + kData + "doc-ts.pdf'").status, 2);  // needs --all
}

TEST(ReportCommandTest, JsonNamesEachTimeStampAndKeepsTheLibraryVerdict) {
  const CommandRun run = Execute("--all --json --trust-anchor '" + kPki + "root.pem' '" + kData +
                                 "two-doc-ts.pdf' '" + kData + "not-a-pdf.pdf'");
  ASSERT_EQ(run.status, 1);
  const size_t line_end = run.out.find('\n');
  ASSERT_NE(line_end, std::string::npos);
  const std::string first = run.out.substr(0, line_end);
  const std::string second = run.out.substr(line_end + 1);
  EXPECT_EQ(first.rfind("{\"file\":", 0), 0u);
  EXPECT_NE(first.find("\"verified\":true"), std::string::npos);
  EXPECT_NE(first.find("\"library\":{\"code\":0,\"result\":\"ResultOk\"}"), std::string::npos);
  EXPECT_NE(first.find("\"field\":\"TS1\",\"subFilter\":\"ETSI.RFC3161\",\"verified\":true"),
            std::string::npos);
  EXPECT_NE(first.find("\"field\":\"TS2\""), std::string::npos);
  EXPECT_NE(first.find("\"laterChanges\":\"dss-and-signatures\""), std::string::npos);
  EXPECT_NE(second.find("\"timestamps\":[]"), std::string::npos);
  EXPECT_NE(second.find("\"error\":\"the PDF cannot be read"), std::string::npos);
  // The library's own scanning messages do not reach the report's output.
  EXPECT_EQ(second.back(), '\n');
  EXPECT_EQ(second.find('\n'), second.size() - 1);
}

TEST(ReportCommandTest, TextHasOneBlockPerTimeStamp) {
  const CommandRun run =
      Execute("--all --trust-anchor '" + kPki + "root.pem' '" + kData + "two-doc-ts.pdf'");
  ASSERT_EQ(run.status, 3);
  EXPECT_NE(run.out.find("two-doc-ts.pdf: VERIFIED, 2 time-stamp(s), 3 revision(s)"),
            std::string::npos)
      << run.out;
  EXPECT_NE(run.out.find("  [1] document time-stamp, field \"TS1\": verified"), std::string::npos);
  EXPECT_NE(run.out.find("  [2] document time-stamp, field \"TS2\": verified"), std::string::npos);
  EXPECT_NE(run.out.find("revision:   2 of 3, 1 later (dss-and-signatures)"), std::string::npos);
}

#endif  // !_WIN32

}  // namespace
}  // namespace vrd::report

// --- reading from the file ------------------------------------------------------

namespace vrd::report {
namespace {

// Every field of a report, for comparing two of them.
std::string Describe(const DocumentReport& report) {
  std::string out = report.error + "|" + std::to_string(report.revisions) + "|" +
                    std::to_string(report.recovered);
  for (const TimeStampReport& ts : report.timestamps) {
    out += "\n" + std::string(KindName(ts.kind)) + " " + ts.field_name + " " + ts.sub_filter +
           " rev " + std::to_string(ts.revision) + "+" + std::to_string(ts.later_revisions) + " " +
           LaterChangesName(ts.later_changes) + " valid " + std::to_string(ts.byte_range_valid) +
           std::to_string(ts.covers_whole_file) + std::to_string(ts.covers_whole_revision) +
           std::to_string(ts.gap_is_contents) + " " + ts.encoding + " " + ts.imprint_algorithm +
           " " + ts.imprint_hex + " " + ts.computed_hex + " " + VerdictName(ts.imprint) +
           VerdictName(ts.signature) + VerdictName(ts.signing_certificate) +
           VerdictName(ts.time_stamping_usage) + VerdictName(ts.chain) +
           TrustSourceName(ts.trusted_by) + " " + ts.gen_time + " " + ts.tsa_subject + " " +
           ts.serial + " " + ts.policy + " " + ts.problem;
    for (const int64_t value : ts.byte_range) out += " " + std::to_string(value);
    for (const int64_t object : ts.later_other_objects) out += " o" + std::to_string(object);
  }
  return out;
}

std::string WriteTemp(const std::string& tag, const std::string& bytes) {
  const std::string path =
      ::testing::TempDir() + "vrd_report_" + tag + "_" + std::to_string(getpid());
  std::ofstream(path, std::ios::binary)
      .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return path;
}

// A search of a file-backed input reads it in pieces: a needle across the
// seam of two reads is found as it is in memory.
TEST(ReportFromFileTest, ContainsFindsANeedleAcrossReads) {
  constexpr size_t kSize = size_t{3} << 18;  // a few reads' worth
  constexpr size_t kAt[] = {0,
                            1000,
                            (size_t{1} << 18) - 3,
                            (size_t{1} << 18) - 1,
                            size_t{1} << 18,
                            (size_t{1} << 19) - 2,
                            kSize - 4};
  for (const size_t at : kAt) {
    SCOPED_TRACE(at);
    std::string bytes(kSize, 'x');
    bytes.replace(at, 4, "/DSS");
    const std::string path = WriteTemp("contains", bytes);
    DocumentFile file;
    ASSERT_EQ(file.Open(path.c_str()), kLoadOk);
    DocumentInput from_file(file);
    DocumentInput in_memory(Bytes(bytes), bytes.size());
    const int64_t end = static_cast<int64_t>(kSize);
    const int64_t spot = static_cast<int64_t>(at);
    const struct {
      int64_t begin, end;
      bool found;
    } ranges[] = {{0, end, true},
                  {spot, spot + 4, true},
                  {spot + 1, end, false},
                  {0, spot + 3, false},
                  {spot - 1, end + 100, true}};
    for (const auto& r : ranges) {
      EXPECT_EQ(from_file.Contains(r.begin, r.end, "/DSS"), r.found) << r.begin << ".." << r.end;
      EXPECT_EQ(in_memory.Contains(r.begin, r.end, "/DSS"), r.found) << r.begin << ".." << r.end;
    }
    std::remove(path.c_str());
  }
}

TEST(ReportFromFileTest, SameReportAsFromTheBytes) {
  const TrustSettings trust = TestRoot();
  for (const DocumentCase& c : kDocuments) {
    SCOPED_TRACE(c.file);
    const std::string bytes = ReadFile(kData + c.file);
    DocumentReport from_bytes;
    DocumentReport from_file;
    ASSERT_EQ(BuildReport(Bytes(bytes), bytes.size(), trust, &from_bytes), ReportStatus::kOk);
    ASSERT_EQ(BuildReportFromFile(kData + c.file, trust, &from_file), ReportStatus::kOk)
        << from_file.error;
    EXPECT_EQ(Describe(from_file), Describe(from_bytes));
  }
}

// The file is scanned for revision ends a megabyte at a time: a marker, its
// "startxref" or its end of line on either side of a boundary still counts.
// The library's digest of the signed content stands in for the report's
// own only over exactly the same bytes with the same algorithm.
TEST(ReportFromFileTest, LibraryDigestServesOnlyTheSameBytes) {
  const std::string path = kData + "doc-ts.pdf";
  DocumentFile file;
  ASSERT_EQ(file.Open(path.c_str()), kLoadOk);
  ComputedDigest library;
  VrdWideChar texts[4][kOutputUnits] = {};
  // The test root is no built-in anchor (2109); the digest is computed all the same.
  EXPECT_EQ(VerifyOpenDocumentFile(file, nullptr, {texts[0], texts[1], texts[2], texts[3]}, {},
                                   nullptr, FileReadPlan{}, nullptr, &library),
            2109);
  ASSERT_TRUE(library.valid);
  DocumentReport honest;
  ASSERT_EQ(BuildReportFromFile(path, TestRoot(), &honest), ReportStatus::kOk);
  ASSERT_EQ(honest.timestamps.size(), 1u);
  EXPECT_EQ(HexLower(library.digest.data(), library.digest.size()),
            honest.timestamps[0].computed_hex);

  TrustSources trust;
  std::string error;
  ASSERT_TRUE(trust.Load(TestRoot(), &error)) << error;
  const struct {
    std::string algorithm;
    int64_t shift;  // moves the first range's end
    bool used;
  } cases[] = {{"SHA256", 0, true}, {"SHA256", -1, false}, {"SHA512", 0, false}};
  for (const auto& c : cases) {
    ComputedDigest forged = library;
    forged.algorithm = c.algorithm;
    forged.ranges[0].second += c.shift;
    forged.digest[0] ^= 1;  // a wrong digest shows whether it was taken
    DocumentReport report;
    ASSERT_EQ(BuildReportFromFile(file, trust, &report, &forged), ReportStatus::kOk);
    ASSERT_EQ(report.timestamps.size(), 1u);
    EXPECT_EQ(report.timestamps[0].imprint, c.used ? Verdict::kFail : Verdict::kPass)
        << c.algorithm << " " << c.shift;
  }
}

TEST(ReportFromFileTest, RevisionEndsAcrossReadBoundaries) {
  const int64_t boundary = int64_t{1} << 20;
  const std::string marker = "startxref\r\n4096\r\n%%EOF\r\n";
  std::string bytes(static_cast<size_t>(3 * boundary + 100), 'x');
  int expected = 0;
  // Each offset places the marker text so that the boundary falls inside
  // "startxref", inside the offset, inside "%%EOF", or inside its CR LF.
  for (const int64_t shift : {int64_t{-4}, int64_t{-14}, int64_t{-19}, int64_t{-23}}) {
    const int64_t at = boundary * (expected + 1) + shift;
    if (at + static_cast<int64_t>(marker.size()) > static_cast<int64_t>(bytes.size())) break;
    bytes.replace(static_cast<size_t>(at), marker.size(), marker);
    ++expected;
  }
  bytes.replace(bytes.size() - marker.size(), marker.size(), marker);  // and at the very end
  ++expected;
  const std::string path = WriteTemp("ends", bytes);
  DocumentReport from_file;
  (void)BuildReportFromFile(path, TestRoot(), &from_file);  // not a PDF: only the scan matters
  EXPECT_EQ(from_file.revisions, expected);
  EXPECT_EQ(static_cast<int>(FindRevisionEnds(Bytes(bytes), bytes.size()).size()), expected);
  std::remove(path.c_str());
}

TEST(ReportFromFileTest, OnlyRegularFilesAreRead) {
  for (const std::string& path : {std::string("/dev/null"), std::string("/"),
                                  std::string("/nonexistent/file.pdf"), std::string("")}) {
    DocumentReport report;
    EXPECT_EQ(BuildReportFromFile(path, TestRoot(), &report), ReportStatus::kNotOpened) << path;
    EXPECT_EQ(report.error, "the file cannot be read") << path;
  }
}

// --- signatures read from the raw bytes ---------------------------------------

// Hands out the bytes at most chunk at a time.
class ChunkReader final : public RangeReader {
 public:
  ChunkReader(const std::string& bytes, size_t chunk) : bytes_(bytes), chunk_(chunk) {}
  bool Next(int64_t offset, size_t wanted, ByteSpan* out) override {
    out->data = Bytes(bytes_) + offset;
    out->length = std::min({wanted, chunk_, bytes_.size() - static_cast<size_t>(offset)});
    return true;
  }

 private:
  const std::string& bytes_;
  size_t chunk_;
};

std::string DescribeRaw(const std::vector<RawSignature>& signatures) {
  std::string text;
  for (const RawSignature& s : signatures) {
    text += "@" + std::to_string(s.dictionary_offset) + " [";
    for (const int64_t n : s.byte_range) text += " " + std::to_string(n);
    text += " ] " + std::to_string(s.contents.size()) + ":" +
            HexLower(Bytes(s.contents), std::min<size_t>(s.contents.size(), 4)) + " " + s.type +
            " " + s.sub_filter + " '" + s.field_name + "';";
  }
  return text;
}

TEST(ReportRawSignaturesTest, DictionariesWithByteRangeAndHexContents) {
  const std::string big_hex(300000, 'a');
  const std::string filler(100000, 'x');
  const struct {
    std::string bytes;
    const char* expected;
  } cases[] = {
      // Nested dictionary and a string holding ">>" before the keys; hex
      // with white space; an odd digit count ends in 0.
      {"1 0 obj\n<< /A << /B (x>>) >> /ByteRange [0 10 20 5] /Contents <01 02\n0> /Type /Sig "
       ">>\nendobj",
       "@8 [ 0 10 20 5 ] 3:010200 Sig  '';"},
      // /Contents long after /ByteRange, and long itself.
      {"<< /ByteRange [0 1 2 3] /F (" + filler + ") /Contents <" + big_hex + "> >>",
       "@0 [ 0 1 2 3 ] 150000:aaaaaaaa   '';"},
      // No /Contents, a literal one, or the keys inside a string, a comment
      // or stream data.
      {"<< /ByteRange [0 1 2 3] >> << /ByteRange [0 1 2 3] /Contents (ab) >>", ""},
      {"<< /X (/ByteRange [0 1 2 3] /Contents <00>) % /ByteRange\n>>", ""},
      {"1 0 obj << /Length 9 >> stream\n<< /ByteRange [0 1 2 3] /Contents <00> >>\nendstream "
       "endobj",
       ""},
      // A field before and one after, named with escapes; a /ByteRange of
      // other than integers.
      {"5 0 obj << /FT /Sig /T (S\\(1\\)\\101) /V 6 0 R >> endobj 6 0 obj << /Type "
       "/DocTimeStamp /SubFilter /ETSI.RFC3161 /ByteRange [0 1 x 3] /Contents <00> >> endobj 7 0 "
       "obj << /Contents <ff> /ByteRange [9] >> endobj 8 0 obj << /V 7 0 R /T (Later) >> endobj",
       "@63 [ ] 1:00 DocTimeStamp ETSI.RFC3161 'S(1)A';@165 [ 9 ] 1:ff   'Later';"},
      // A stray parenthesis costs its own object only.
      {"1 0 obj (open endobj 2 0 obj << /ByteRange [0 1 2 3] /Contents <00> >> endobj",
       "@29 [ 0 1 2 3 ] 1:00   '';"},
  };
  for (const auto& c : cases) {
    const std::vector<RawSignature> whole = FindRawSignatures(Bytes(c.bytes), c.bytes.size());
    EXPECT_EQ(DescribeRaw(whole), c.expected) << c.bytes.substr(0, 80);
    for (const size_t chunk : {size_t{1}, size_t{7}}) {
      ChunkReader reader(c.bytes, chunk);
      const auto pieces = FindRawSignatures(reader, static_cast<int64_t>(c.bytes.size()), chunk);
      ASSERT_TRUE(pieces.has_value());
      EXPECT_EQ(DescribeRaw(*pieces), c.expected) << chunk << " " << c.bytes.substr(0, 80);
    }
  }
}

// qpdf cannot open pubsec.pdf (public-key security); its time-stamp is in
// the clear, and its /ByteRange leaves out exactly /Contents.
TEST(ReportRawSignaturesTest, DocumentQpdfCannotOpen) {
  const std::string bytes = ReadFile(kData + "pubsec.pdf");
  const std::vector<RawSignature> found = FindRawSignatures(Bytes(bytes), bytes.size());
  ASSERT_EQ(found.size(), 1u);
  const std::vector<int64_t>& range = found[0].byte_range;
  ASSERT_EQ(range.size(), 4u);
  EXPECT_EQ(range[0], 0);
  EXPECT_EQ(range[2] + range[3], static_cast<int64_t>(bytes.size()));
  EXPECT_EQ(bytes.substr(static_cast<size_t>(range[1]), 5), "<3082") << "a DER token";
  EXPECT_EQ(bytes[static_cast<size_t>(range[2] - 1)], '>');
  EXPECT_EQ(static_cast<int64_t>(found[0].contents.size()) * 2, range[2] - range[1] - 2);
  EXPECT_EQ(found[0].type + " " + found[0].sub_filter + " " + found[0].field_name,
            "DocTimeStamp ETSI.RFC3161 TS1");
  EXPECT_EQ(found[0].contents_begin, range[1]);
  EXPECT_EQ(found[0].contents_end, range[2]);

  // The same dictionary read as one object at its offset, as the field walk
  // does: positions in the file, and nothing for another object number.
  const size_t object = bytes.rfind(" 0 obj", static_cast<size_t>(found[0].dictionary_offset));
  const size_t start = bytes.rfind('\n', object) + 1;
  const int number = std::stoi(bytes.substr(start, object - start));
  struct Reader final : RangeReader {
    const std::string& data;
    explicit Reader(const std::string& d) : data(d) {}
    bool Next(int64_t offset, size_t wanted, ByteSpan* out) override {
      *out = ByteSpan{Bytes(data) + offset, std::min<size_t>(wanted, 7)};  // short reads
      return true;
    }
  } reader(bytes);
  const auto size = static_cast<int64_t>(bytes.size());
  const std::optional<RawSignature> at = ReadRawSignatureAt(reader, size, start, number, 0);
  ASSERT_TRUE(at.has_value());
  EXPECT_EQ(at->contents, found[0].contents);
  EXPECT_EQ(at->contents_begin, range[1]);
  EXPECT_EQ(at->contents_end, range[2]);
  EXPECT_FALSE(ReadRawSignatureAt(reader, size, start, number + 1, 0).has_value());

  // Reported with the structure not parsed; a later revision makes the
  // later changes unknown, never "dss-and-signatures".
  for (const bool later : {false, true}) {
    const std::string document =
        later ? bytes + "99 0 obj\n<< >>\nendobj\nstartxref\n0\n%%EOF\n" : bytes;
    DocumentReport report;
    ASSERT_EQ(BuildReport(Bytes(document), document.size(), TestRoot(), &report),
              ReportStatus::kOk);
    EXPECT_FALSE(report.structure_parsed);
    EXPECT_NE(report.structure_problem.find("encryption"), std::string::npos)
        << report.structure_problem;
    ASSERT_EQ(report.timestamps.size(), 1u);
    EXPECT_TRUE(report.timestamps[0].Verified()) << report.timestamps[0].problem;
    EXPECT_EQ(report.timestamps[0].later_changes,
              later ? LaterChanges::kUnknown : LaterChanges::kNone);
  }
}

}  // namespace
}  // namespace vrd::report
