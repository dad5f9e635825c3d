// Both exported functions, and the routine with an extra trusted root as
// tsverify calls it, from eight threads at once over a mix of documents:
// valid ones (plain, SHA-512, seal impression, encrypted seal impression, a
// large one) and one for every failure code the real toolkit can give. Every
// answer (code and the four texts, or untouched buffers) must equal the one
// the same call gave on one thread before. scripts/stage-tsan.sh runs this
// suite under ThreadSanitizer.
#include <gtest/gtest.h>
#if defined(_WIN32)
#include <process.h>
#define getpid _getpid
#else
#include <unistd.h>
#endif

#include <algorithm>
#include <array>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "api/Exports.h"
#include "api/ResultCodes.h"
#include "api/VerifyTimeStampToken.h"
#include "tests/support/PdfBuilder.h"
#include "tests/support/TokenSigner.h"

namespace vrd {
namespace {

using test::ImprintHash;

const std::string kPki = std::string(VRD_TEST_DATA_DIR) + "/pki/";
constexpr VrdWideChar kSentinel = 0x3C3C;
constexpr int kThreads = 8;
constexpr int kCallsPerThread = 240;

// The code and outputs of one call: texts as UTF-16, or untouched buffers.
struct Verdict {
  int code = -1;
  bool untouched = true;
  std::array<std::u16string, 4> texts;
  bool operator==(const Verdict& o) const {
    return code == o.code && untouched == o.untouched && texts == o.texts;
  }
};

enum class Entry { kData, kFile, kRoutineWithRoot, kRoutineTooManyRoots };

struct Document {
  std::string name;
  std::string bytes;
  std::string path;  // the same bytes on disk, or a path that does not exist
};

Verdict Collect(int code, std::array<std::array<VrdWideChar, kOutputUnits>, 4>& buffers) {
  Verdict v;
  v.code = code;
  for (size_t i = 0; i < 4; ++i) {
    for (VrdWideChar unit : buffers[i]) {
      if (unit != kSentinel) v.untouched = false;
    }
  }
  if (!v.untouched) {
    for (size_t i = 0; i < 4; ++i) {
      for (size_t k = 0; k < kOutputUnits && buffers[i][k] != 0; ++k) {
        v.texts[i].push_back(static_cast<char16_t>(buffers[i][k]));
      }
    }
  }
  return v;
}

const ByteString& TestRoot() {
  static const ByteString root = [] {
    const std::string der = test::CertificateDerFromPem(kPki + "root.pem");
    ByteString s;
    EXPECT_EQ(s.SetData(der.data(), static_cast<int>(der.size())), ByteString::kOk);
    return s;
  }();
  return root;
}

Verdict Call(const Document& d, Entry entry) {
  std::array<std::array<VrdWideChar, kOutputUnits>, 4> out;
  for (auto& buffer : out) buffer.fill(kSentinel);
  VrdWideChar* o[4] = {out[0].data(), out[1].data(), out[2].data(), out[3].data()};
  int code = -1;
  switch (entry) {
    case Entry::kData:
      code = QVTSPdfSigVerifyD(reinterpret_cast<const unsigned char*>(d.bytes.data()),
                               static_cast<int32_t>(d.bytes.size()), o[0], o[1], o[2], o[3]);
      break;
    case Entry::kFile:
      code = QVTSPdfSigVerifyF(d.path.c_str(), o[0], o[1], o[2], o[3]);
      break;
    case Entry::kRoutineWithRoot:
    case Entry::kRoutineTooManyRoots: {
      ByteString document;
      EXPECT_EQ(document.SetData(d.bytes.data(), static_cast<int>(d.bytes.size())),
                ByteString::kOk);
      std::vector<ByteString> many(entry == Entry::kRoutineTooManyRoots ? kMaxExtraTrustedRoots + 1
                                                                        : 0);
      ExtraTrustedRoots roots;
      roots.certificates = many.empty() ? &TestRoot() : many.data();
      roots.count = many.empty() ? 1 : many.size();
      code = VerifyTimeStampToken(document, {o[0], o[1], o[2], o[3]}, roots);
      break;
    }
  }
  return Collect(code, out);
}

std::string Stamp(test::PdfOptions options, ImprintHash hash) {
  test::PdfDocument pdf;
  EXPECT_TRUE(test::PdfBuilder(options).Build(pdf));
  test::TokenSigner signer;
  std::string token;
  EXPECT_TRUE(signer.Load(kPki + "tsa.key", kPki + "tsa.pem", kPki + "inter.pem"));
  EXPECT_TRUE(signer.Sign(pdf.signed_content, hash, token));
  EXPECT_TRUE(test::EmbedToken(pdf, token));
  return pdf.bytes;
}

test::PdfOptions WithSeal(bool encrypt) {
  test::PdfOptions options;
  options.with_imprint = true;
  options.encrypt = encrypt;
  if (!encrypt) options.imprint.stream_data = std::string(300, 'S');
  options.imprint.hole1_start = 10;
  options.imprint.hole1_length = 20;
  options.imprint.hole2_start = 100;
  options.imprint.hole2_length = 30;
  return options;
}

std::vector<Document> MakeDocuments() {
  std::vector<Document> docs;
  test::PdfOptions plain;
  const std::string valid = Stamp(plain, ImprintHash::kSha256);
  test::PdfOptions large;
  large.page_text.assign(size_t{2} << 20, 'L');
  std::string altered = valid;
  altered[altered.find("Signed with")] = 's';
  test::PdfDocument unfilled;
  EXPECT_TRUE(test::PdfBuilder(plain).Build(unfilled));
  test::PdfDocument garbage;
  EXPECT_TRUE(test::PdfBuilder(plain).Build(garbage));
  std::string junk = "\x30\x82\x01\x00";
  for (int i = 0; i < 300; ++i) junk.push_back(static_cast<char>((i * 37 + 11) & 0xFF));
  EXPECT_TRUE(test::EmbedToken(garbage, junk));

  docs.push_back({"valid", valid, ""});
  docs.push_back({"sha512", Stamp(plain, ImprintHash::kSha512), ""});
  docs.push_back({"seal", Stamp(WithSeal(false), ImprintHash::kSha256), ""});
  docs.push_back({"encrypted-seal", Stamp(WithSeal(true), ImprintHash::kSha256), ""});
  docs.push_back({"large", Stamp(large, ImprintHash::kSha256), ""});
  docs.push_back({"altered", altered, ""});
  docs.push_back({"sha1", Stamp(plain, ImprintHash::kSha1), ""});
  docs.push_back({"unfilled", unfilled.bytes, ""});
  docs.push_back({"garbage", garbage.bytes, ""});
  docs.push_back({"truncated", valid.substr(0, valid.size() / 2), ""});
  docs.push_back({"empty", "", ""});
  const std::string prefix =
      ::testing::TempDir() + "vrd_concurrency_" + std::to_string(::getpid()) + "_";
  for (size_t i = 0; i < docs.size(); ++i) {
    docs[i].path = prefix + std::to_string(i) + ".pdf";
    std::ofstream(docs[i].path, std::ios::binary)
        .write(docs[i].bytes.data(), static_cast<std::streamsize>(docs[i].bytes.size()));
  }
  docs.push_back({"missing-file", valid, prefix + "does-not-exist.pdf"});
  return docs;
}

struct Job {
  size_t document;
  Entry entry;
};

TEST(ConcurrencyTest, EightThreadsAgreeWithOneOverEveryOutcome) {
  const std::vector<Document> docs = MakeDocuments();
  const Entry entries[] = {Entry::kData, Entry::kFile, Entry::kRoutineWithRoot,
                           Entry::kRoutineTooManyRoots};
  std::vector<Job> jobs;
  std::vector<Verdict> expected;
  for (size_t d = 0; d < docs.size(); ++d) {
    for (Entry entry : entries) {
      jobs.push_back({d, entry});
      expected.push_back(Call(docs[d], entry));
    }
  }
  // Every outcome the real toolkit can give is in the mix.
  std::vector<int> codes;
  for (const Verdict& v : expected) codes.push_back(v.code);
  for (int code :
       {ResultOk, DigestMismatch, UnsupportedAlgorithm, FileUnreadable, ToolkitSetupFailed,
        TokenUnreadable, NoTimeStampToken, CertificateVerifyFailed, SignedDataInvalid}) {
    EXPECT_NE(std::find(codes.begin(), codes.end(), code), codes.end()) << code;
  }
  for (size_t d = 0; d < 5; ++d) {
    EXPECT_EQ(expected[d * 4 + 2].code, ResultOk) << docs[d].name;
  }

  std::vector<std::vector<size_t>> mismatches(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kCallsPerThread; ++i) {
        // Each thread walks the jobs from its own starting point and stride.
        const size_t index =
            (static_cast<size_t>(t) * 7 + static_cast<size_t>(i) * (t % 3 + 1)) % jobs.size();
        const Job& job = jobs[index];
        if (!(Call(docs[job.document], job.entry) == expected[index])) {
          mismatches[static_cast<size_t>(t)].push_back(index);
        }
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  for (int t = 0; t < kThreads; ++t) {
    for (size_t index : mismatches[static_cast<size_t>(t)]) {
      ADD_FAILURE() << "thread " << t << ": " << docs[jobs[index].document].name << " entry "
                    << static_cast<int>(jobs[index].entry);
    }
  }
  for (const Document& d : docs) std::remove(d.path.c_str());
}

}  // namespace
}  // namespace vrd
