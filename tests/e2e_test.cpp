// End to end: the two exported functions of libVIDEREDEve_Z_64 over the
// OpenSSL-backed toolkit, on PDF files generated here and stamped with real
// RFC 3161 tokens signed by the committed test authority. Also the dynamic
// symbol table of the library, and concurrent calls.
#include <gtest/gtest.h>
#if defined(_WIN32)
#include <process.h>
#define getpid _getpid
#else
#include <unistd.h>
#endif

#include <array>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "api/Exports.h"
#include "api/ResultCodes.h"
#include "api/VerifyTimeStampToken.h"
#include "pdf/Messages.h"
#include "tests/support/PdfBuilder.h"
#include "tests/support/SpecialFiles.h"
#include "tests/support/TokenSigner.h"

namespace vrd {
namespace {

using test::ImprintHash;

constexpr VrdWideChar kSentinel = 0x3C3C;

const std::string kPki = std::string(VRD_TEST_DATA_DIR) + "/pki/";

struct Outputs {
  Outputs() {
    for (auto& b : buffers) b.fill(kSentinel);
  }
  std::array<std::array<VrdWideChar, kOutputUnits>, 4> buffers;
  VrdWideChar* at(size_t i) { return buffers[i].data(); }
  bool Untouched() const {
    for (const auto& b : buffers) {
      for (VrdWideChar u : b) {
        if (u != kSentinel) return false;
      }
    }
    return true;
  }
  std::string Text(size_t i) const {
    std::string out;
    for (size_t k = 0; k < kOutputUnits && buffers[i][k] != 0; ++k) {
      out.push_back(buffers[i][k] < 0x80 ? static_cast<char>(buffers[i][k]) : '?');
    }
    return out;
  }
};

struct Verdict {
  int code = -1;
  std::array<std::string, 4> texts;
  bool untouched = false;
  bool operator==(const Verdict& o) const {
    return code == o.code && texts == o.texts && untouched == o.untouched;
  }
};

Verdict Collect(int code, const Outputs& out) {
  Verdict v;
  v.code = code;
  v.untouched = out.Untouched();
  if (!v.untouched) {
    for (size_t i = 0; i < 4; ++i) v.texts[i] = out.Text(i);
  }
  return v;
}

Verdict VerifyBytes(const std::string& bytes) {
  Outputs out;
  const int code = QVTSPdfSigVerifyD(reinterpret_cast<const unsigned char*>(bytes.data()),
                                     static_cast<int32_t>(bytes.size()), out.at(0), out.at(1),
                                     out.at(2), out.at(3));
  return Collect(code, out);
}

Verdict VerifyPath(const char* path) {
  Outputs out;
  const int code = QVTSPdfSigVerifyF(path, out.at(0), out.at(1), out.at(2), out.at(3));
  return Collect(code, out);
}

// Through the routine with the test root added, as tsverify --trust-anchor does.
Verdict VerifyWithTestRoot(const std::string& bytes) {
  static const std::string root_der = test::CertificateDerFromPem(kPki + "root.pem");
  ByteString root;
  EXPECT_EQ(root.SetData(root_der.data(), static_cast<int>(root_der.size())), ByteString::kOk);
  ExtraTrustedRoots roots;
  roots.certificates = &root;
  roots.count = 1;
  ByteString document;
  EXPECT_EQ(document.SetData(bytes.data(), static_cast<int>(bytes.size())), ByteString::kOk);
  Outputs out;
  const int code =
      VerifyTimeStampToken(document, {out.at(0), out.at(1), out.at(2), out.at(3)}, roots);
  return Collect(code, out);
}

std::string Hex(const std::string& bytes) { return test::ToHex(bytes); }

class TempFile {
 public:
  explicit TempFile(const std::string& bytes) {
    static int counter = 0;
    path_ = ::testing::TempDir() + "vrd_e2e_" + std::to_string(::getpid()) + "_" +
            std::to_string(counter++) + ".pdf";
    std::ofstream(path_, std::ios::binary)
        .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  }
  ~TempFile() { std::remove(path_.c_str()); }
  const char* path() const { return path_.c_str(); }

 private:
  std::string path_;
};

struct Stamped {
  test::PdfDocument pdf;
  std::string token;
};

// A generated document stamped over its signed content.
Stamped MakeStamped(ImprintHash hash, uint32_t seed = 1, bool with_imprint = false) {
  Stamped s;
  test::PdfOptions options;
  options.seed = seed;
  options.with_imprint = with_imprint;
  if (with_imprint) {
    options.imprint.stream_data = std::string(300, 'S');
    options.imprint.hole1_start = 10;
    options.imprint.hole1_length = 20;
    options.imprint.hole2_start = 100;
    options.imprint.hole2_length = 30;
  }
  EXPECT_TRUE(test::PdfBuilder(options).Build(s.pdf));
  test::TokenSigner signer;
  EXPECT_TRUE(signer.Load(kPki + "tsa.key", kPki + "tsa.pem", kPki + "inter.pem"));
  EXPECT_TRUE(signer.Sign(s.pdf.signed_content, hash, s.token));
  EXPECT_TRUE(test::EmbedToken(s.pdf, s.token));
  return s;
}

// The byte of the first signed range that changes after stamping.
std::string Altered(const std::string& bytes) {
  std::string out = bytes;
  const size_t pos = out.find("Signed with");
  EXPECT_NE(pos, std::string::npos);
  out[pos] = 's';
  return out;
}

TEST(EndToEndTest, StampsWithBuiltInAnchorsAndWithTestRoot) {
  struct Case {
    const char* name;
    ImprintHash hash;
    const char* algorithm;
    bool with_imprint;
  };
  const Case cases[] = {
      {"Sha256", ImprintHash::kSha256, "SHA256", false},
      {"Sha512", ImprintHash::kSha512, "SHA512", false},
      {"Sha256SealImpression", ImprintHash::kSha256, "SHA256", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Stamped s = MakeStamped(c.hash, 7, c.with_imprint);
    const std::string digest_hex = Hex(test::TokenSigner::Digest(s.pdf.signed_content, c.hash));

    // The test authority does not chain to the built-in anchors.
    const Verdict builtin = VerifyBytes(s.pdf.bytes);
    EXPECT_EQ(builtin.code, CertificateVerifyFailed);
    ASSERT_FALSE(builtin.untouched);
    EXPECT_EQ(builtin.texts[1], c.algorithm);
    EXPECT_EQ(builtin.texts[2], digest_hex);
    EXPECT_FALSE(builtin.texts[0].empty());
    EXPECT_NE(builtin.texts[3].find("VRD Test TSA"), std::string::npos) << builtin.texts[3];

    const Verdict trusted = VerifyWithTestRoot(s.pdf.bytes);
    EXPECT_EQ(trusted.code, ResultOk);
    EXPECT_EQ(trusted.texts, builtin.texts);

    TempFile file(s.pdf.bytes);
    EXPECT_EQ(VerifyPath(file.path()), builtin);
  }
}

TEST(EndToEndTest, FailuresOfRealDocuments) {
  const Stamped sha256 = MakeStamped(ImprintHash::kSha256, 3);
  const Stamped sha1 = MakeStamped(ImprintHash::kSha1, 4);

  const test::PdfOptions plain;
  test::PdfDocument garbage;
  ASSERT_TRUE(test::PdfBuilder(plain).Build(garbage));
  std::string junk = "\x30\x82\x01\x00";
  for (int i = 0; i < 300; ++i) junk.push_back(static_cast<char>((i * 37 + 11) & 0xFF));
  ASSERT_TRUE(test::EmbedToken(garbage, junk));

  test::PdfDocument unfilled;  // reserved /Contents never filled
  ASSERT_TRUE(test::PdfBuilder(plain).Build(unfilled));

  const std::string no_signature =
      "%PDF-1.4\n1 0 obj\n<< /Type /Catalog >>\nendobj\nxref\n0 2\n"
      "0000000000 65535 f \n0000000009 00000 n \ntrailer\n<< /Size 2 /Root 1 0 R >>\n"
      "startxref\n47\n%%EOF\n";

  struct Case {
    const char* name;
    std::string bytes;
    bool with_root;
    int expected;
    bool written;
  };
  const Case cases[] = {
      {"Sha1Stamp", sha1.pdf.bytes, true, UnsupportedAlgorithm, false},
      {"AlteredAfterStamping", Altered(sha256.pdf.bytes), true, DigestMismatch, true},
      {"AlteredBuiltInAnchors", Altered(sha256.pdf.bytes), false, CertificateVerifyFailed, true},
      {"NoSignature", no_signature, false, NoTimeStampToken, false},
      {"GarbageContents", garbage.bytes, false, SignedDataInvalid, false},
      {"UnfilledContents", unfilled.bytes, false, TokenUnreadable, false},
      {"Truncated", sha256.pdf.bytes.substr(0, sha256.pdf.bytes.size() / 2), false,
       NoTimeStampToken, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Verdict d = c.with_root ? VerifyWithTestRoot(c.bytes) : VerifyBytes(c.bytes);
    EXPECT_EQ(d.code, c.expected);
    EXPECT_EQ(d.untouched, !c.written);
    if (!c.with_root) {
      TempFile file(c.bytes);
      EXPECT_EQ(VerifyPath(file.path()), d);
    }
  }
  // The altered document reports the token's imprint, not the new digest.
  const Verdict altered = VerifyWithTestRoot(Altered(sha256.pdf.bytes));
  EXPECT_EQ(altered.texts[2],
            Hex(test::TokenSigner::Digest(sha256.pdf.signed_content, ImprintHash::kSha256)));
}

TEST(EndToEndTest, EntryPointEdgeCases) {
  TempFile empty_file("");
  const std::string missing = ::testing::TempDir() + "vrd_e2e_does_not_exist.pdf";
  EXPECT_EQ(VerifyPath(empty_file.path()).code, NoTimeStampToken);
  EXPECT_TRUE(VerifyPath(empty_file.path()).untouched);
  for (const char* path : {missing.c_str(), "", static_cast<const char*>(nullptr)}) {
    const Verdict v = VerifyPath(path);
    EXPECT_EQ(v.code, FileUnreadable);
    EXPECT_TRUE(v.untouched);
  }
  const unsigned char byte = '%';
  for (const auto& [data, length] : std::vector<std::pair<const unsigned char*, int32_t>>{
           {nullptr, 100}, {&byte, 0}, {&byte, -1}, {nullptr, 0}}) {
    Outputs out;
    EXPECT_EQ(QVTSPdfSigVerifyD(data, length, out.at(0), out.at(1), out.at(2), out.at(3)),
              NoTimeStampToken);
    EXPECT_TRUE(out.Untouched());
  }
}

// D copies the caller's bytes: changing them afterwards changes nothing, and
// the caller's buffer is never written.
TEST(EndToEndTest, DataEntryLeavesCallerBytesAlone) {
  Stamped s = MakeStamped(ImprintHash::kSha256, 5);
  const std::string before = s.pdf.bytes;
  const Verdict first = VerifyBytes(s.pdf.bytes);
  EXPECT_EQ(s.pdf.bytes, before);
  EXPECT_EQ(VerifyBytes(s.pdf.bytes), first);
}

// Eight threads, each verifying its own documents over and over, agree with
// the results of verifying the same documents one by one.
TEST(EndToEndTest, ConcurrentCallsAgreeWithSequential) {
  std::vector<std::string> documents;
  for (uint32_t seed = 10; seed < 14; ++seed) {
    const Stamped s = MakeStamped(seed % 2 ? ImprintHash::kSha256 : ImprintHash::kSha512, seed);
    documents.push_back(s.pdf.bytes);
    documents.push_back(Altered(s.pdf.bytes));
  }
  documents[3] = MakeStamped(ImprintHash::kSha1, 20).pdf.bytes;
  std::vector<Verdict> sequential;
  for (const std::string& d : documents) sequential.push_back(VerifyBytes(d));
  std::set<int> codes;
  for (const Verdict& v : sequential) codes.insert(v.code);
  EXPECT_GE(codes.size(), 2u);

  constexpr int kThreads = 8;
  constexpr int kRounds = 6;
  std::vector<std::vector<Verdict>> seen(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int round = 0; round < kRounds; ++round) {
        const size_t index = static_cast<size_t>(t + round) % documents.size();
        seen[static_cast<size_t>(t)].push_back(round % 2 ? VerifyBytes(documents[index])
                                                         : VerifyWithTestRoot(documents[index]));
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  for (int t = 0; t < kThreads; ++t) {
    for (int round = 0; round < kRounds; ++round) {
      const size_t index = static_cast<size_t>(t + round) % documents.size();
      const Verdict expected = round % 2 ? sequential[index] : VerifyWithTestRoot(documents[index]);
      EXPECT_EQ(seen[static_cast<size_t>(t)][static_cast<size_t>(round)], expected)
          << "thread " << t << " round " << round;
    }
  }
}

// The scanning messages reach standard output byte for byte from both entry
// points and the routine, also while another thread collects its own
// messages through a receiver (as tsverify does), which gets none of these.
TEST(EndToEndTest, ScanningMessagesOnStandardOutputUnchanged) {
  const Stamped s = MakeStamped(ImprintHash::kSha256, 8);
  std::string no_eof = s.pdf.bytes;
  no_eof.replace(no_eof.rfind("%%EOF"), 5, "%%EOX");
  struct Case {
    const char* name;
    std::string bytes;
    PdfMessage message;
  };
  const Case cases[] = {
      {"Truncated", s.pdf.bytes.substr(0, s.pdf.bytes.size() / 2), PdfMessage::kStartxrefNotFound},
      {"NoEof", no_eof, PdfMessage::kEofNotFound},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempFile file(c.bytes);
    std::vector<PdfMessage> collected;
    std::atomic<bool> stop{false};
    std::thread collector([&] {
      ScopedPdfMessageReceiver receiver(
          [](void* context, PdfMessage message) noexcept {
            static_cast<std::vector<PdfMessage>*>(context)->push_back(message);
          },
          &collected);
      while (!stop.load()) std::this_thread::yield();
    });
    ::testing::internal::CaptureStdout();
    const Verdict data = VerifyBytes(c.bytes);
    const Verdict path = VerifyPath(file.path());
    const Verdict routine = VerifyWithTestRoot(c.bytes);  // the receiver's own copy of the code
    const std::string out = ::testing::internal::GetCapturedStdout();
    stop = true;
    collector.join();
    EXPECT_EQ(data.code, NoTimeStampToken);
    EXPECT_EQ(path, data);
    EXPECT_EQ(routine, data);
    const std::string text = PdfMessageText(c.message);
    EXPECT_EQ(out, text + text + text);
    EXPECT_TRUE(collected.empty());
  }
}

#if !defined(_WIN32)
// Only regular files are documents: directories, FIFOs (also one with a
// silent writer), devices and sockets give 2104 at once, outputs untouched.
// Each call runs in a child with an alarm, so a hang fails instead of hanging.
TEST(EndToEndTest, PathToAnythingButARegularFileGives2104AtOnce) {
  const test::SpecialFiles special(::testing::TempDir(), "e2e");
  for (const test::SpecialFile& file : special.files()) {
    SCOPED_TRACE(file.name);
    EXPECT_EQ(test::RunInChild(10,
                               [&] {
                                 const Verdict v = VerifyPath(file.path.c_str());
                                 return v.code == FileUnreadable && v.untouched ? 0 : 1;
                               }),
              0);
  }
}

// A sparse file of 2 GiB and one of 4 GiB + 5 (whose low 32 size bits are 5)
// do not fit a document: 2104 without reading them.
TEST(EndToEndTest, FileOfTwoGibibytesOrMoreGives2104) {
  TempFile file("");
  for (const int64_t size : {int64_t{1} << 31, (int64_t{1} << 32) + 5}) {
    SCOPED_TRACE(size);
    ASSERT_EQ(truncate(file.path(), static_cast<off_t>(size)), 0);
    EXPECT_EQ(test::RunInChild(10,
                               [&] {
                                 const Verdict v = VerifyPath(file.path());
                                 return v.code == FileUnreadable && v.untouched ? 0 : 1;
                               }),
              0);
  }
}
#endif

#if !defined(_WIN32)
// Only the two entry points are in the library's dynamic symbol table (on
// Windows the module-definition file lists them).
TEST(EndToEndTest, ExportsExactlyTheTwoEntryPoints) {
  const std::string command =
      std::string("nm -D --defined-only '") + VRD_EXPORTS_LIBRARY + "' 2>&1";
  FILE* pipe = popen(command.c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  std::set<std::string> names;
  char line[1024];
  while (std::fgets(line, sizeof line, pipe) != nullptr) {
    std::string text(line);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    const size_t space = text.rfind(' ');
    const std::string name = space == std::string::npos ? text : text.substr(space + 1);
    // The version node of an ELF symbol map is not a symbol of ours.
    if (text.find(" A ") != std::string::npos) continue;
    names.insert(name);
  }
  ASSERT_EQ(pclose(pipe), 0);
  EXPECT_EQ(names, (std::set<std::string>{"QVTSPdfSigVerifyD", "QVTSPdfSigVerifyF"}));
}
#endif

}  // namespace
}  // namespace vrd
