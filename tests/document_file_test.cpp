// Verification of a document named by a path when the file is read
// piecemeal (its tail, then the signed content while it is hashed): every
// result, output text, document-stage outcome and scanning message must be
// what loading the whole file gives, whatever the tail and buffer sizes, and
// a file that cannot be read in full must give FileUnreadable as it does
// when loaded whole.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "api/FileContent.h"
#include "api/ResultCodes.h"
#include "api/VerifyDocumentFile.h"
#include "api/VerifyTimeStampToken.h"
#include "pdf/DocumentView.h"
#include "pdf/Messages.h"
#include "tests/support/DocStageGolden.h"
#include "tests/support/PdfBuilder.h"
#include "tests/support/TokenSigner.h"
#include "util/DocumentFile.h"
#include "util/LoadFile.h"

namespace vrd {
namespace {

const std::string kPki = std::string(VRD_TEST_DATA_DIR) + "/pki/";

struct Verdict {
  int code = -1;
  std::string outputs;  // the four output buffers, as UTF-16 units
  DocumentOutcome outcome = DocumentOutcome::kAssembled;
  std::vector<int> messages;
};

void CollectMessage(void* context, PdfMessage message) noexcept {
  static_cast<std::vector<int>*>(context)->push_back(static_cast<int>(message));
}

std::string OutputsOf(VrdWideChar (&buffers)[4][kOutputUnits]) {
  std::string joined;
  for (const auto& buffer : buffers) {
    for (const VrdWideChar unit : buffer) {
      if (unit == 0) break;
      joined += std::to_string(static_cast<unsigned>(unit)) + ",";
    }
    joined += "|";
  }
  return joined;
}

const ExtraTrustedRoots& TestRoot() {
  static ByteString root = [] {
    const std::string der = test::CertificateDerFromPem(kPki + "root.pem");
    ByteString bytes;
    (void)bytes.SetData(der.data(), static_cast<int>(der.size()));
    return bytes;
  }();
  static ExtraTrustedRoots roots{&root, 1};
  return roots;
}

// The reference: the file loaded whole and verified from that copy.
Verdict VerifyLoadedWhole(const std::string& path) {
  Verdict verdict;
  VrdWideChar out[4][kOutputUnits] = {};
  ScopedPdfMessageReceiver receiver(&CollectMessage, &verdict.messages);
  ByteString document;
  if (LoadFile(path.c_str(), document) != kLoadOk) {
    verdict.code = FileUnreadable;
  } else {
    WorkingDocument working(document);
    verdict.code = VerifyWorkingDocument(working, {out[0], out[1], out[2], out[3]}, TestRoot(),
                                         &verdict.outcome);
  }
  verdict.outputs = OutputsOf(out);
  return verdict;
}

Verdict VerifyByPath(const std::string& path, const FileReadPlan& plan, FileReading* reading) {
  Verdict verdict;
  VrdWideChar out[4][kOutputUnits] = {};
  ScopedPdfMessageReceiver receiver(&CollectMessage, &verdict.messages);
  verdict.code = VerifyDocumentFile(path.c_str(), {out[0], out[1], out[2], out[3]}, TestRoot(),
                                    &verdict.outcome, plan, reading);
  verdict.outputs = OutputsOf(out);
  return verdict;
}

std::string TempPath(const std::string& tag) {
  return ::testing::TempDir() + "vrd_docfile_" + tag + "_" + std::to_string(getpid());
}

bool WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out);
}

struct Stamping {
  const char* name;
  test::PdfOptions options;
  test::ImprintHash hash;
  bool tamper;  // one byte of the first range changed after stamping
};

// Stamped documents that reach the digest (and, with the test root, the
// end of the verification), beside the recorded set of the document stage.
std::vector<test::GoldenDocument> StampedDocuments() {
  const test::PdfOptions plain;
  test::PdfOptions crlf;
  crlf.eol = "\r\n";
  test::PdfOptions no_final_eol;
  no_final_eol.final_eol = false;
  test::PdfOptions seal;
  seal.with_imprint = true;
  seal.imprint.hole1_start = 10;
  seal.imprint.hole1_length = 20;
  seal.imprint.hole2_start = 100;
  seal.imprint.hole2_length = 30;
  test::PdfOptions encrypted_seal = seal;  // the template must be written
  encrypted_seal.encrypt = true;
  seal.imprint.stream_data = std::string(300, 'S');
  test::PdfOptions long_text;
  long_text.page_text.assign(300000, 'x');
  const Stamping stampings[] = {
      {"sha256", plain, test::ImprintHash::kSha256, false},
      {"sha512", plain, test::ImprintHash::kSha512, false},
      {"crlf", crlf, test::ImprintHash::kSha256, false},
      {"no-final-eol", no_final_eol, test::ImprintHash::kSha256, false},
      {"seal", seal, test::ImprintHash::kSha256, false},
      {"encrypted-seal", encrypted_seal, test::ImprintHash::kSha256, false},
      {"long", long_text, test::ImprintHash::kSha512, false},
      {"tampered", long_text, test::ImprintHash::kSha256, true},
  };
  test::TokenSigner signer;
  EXPECT_TRUE(signer.Load(kPki + "tsa.key", kPki + "tsa.pem", kPki + "inter.pem"));
  std::vector<test::GoldenDocument> documents;
  for (const Stamping& stamping : stampings) {
    test::PdfDocument pdf;
    std::string token;
    EXPECT_TRUE(test::PdfBuilder(stamping.options).Build(pdf)) << stamping.name;
    EXPECT_TRUE(signer.Sign(pdf.signed_content, stamping.hash, token)) << stamping.name;
    EXPECT_TRUE(test::EmbedToken(pdf, token)) << stamping.name;
    if (stamping.tamper) pdf.bytes[pdf.bytes.size() / 3] ^= 0x01;
    documents.push_back({std::string("stamped/") + stamping.name, pdf.bytes});
  }
  return documents;
}

TEST(DocumentFileTest, PiecemealReadingGivesWhatTheWholeFileGives) {
  std::vector<test::GoldenDocument> documents;
  ASSERT_TRUE(test::GoldenDocuments(VRD_SOURCE_DIR, documents));
  for (test::GoldenDocument& stamped : StampedDocuments()) documents.push_back(stamped);
  const std::string path = TempPath("each");
  for (const test::GoldenDocument& document : documents) {
    ASSERT_TRUE(WriteFile(path, document.bytes));
    const Verdict whole = VerifyLoadedWhole(path);
    const bool stamped = document.name.rfind("stamped/", 0) == 0;
    if (stamped) {
      EXPECT_EQ(whole.code, document.name == "stamped/tampered" ? DigestMismatch : ResultOk)
          << document.name;
    }
    const auto size = static_cast<int64_t>(document.bytes.size());
    int tail_sufficed = 0;
    for (const int64_t tail :
         {int64_t{1}, int64_t{40}, int64_t{700}, int64_t{9000}, size / 2, size - 1, size + 5}) {
      for (const size_t buffer : {size_t{0}, size_t{7}, size_t{4096}}) {
        FileReadPlan plan;
        plan.load_whole_up_to = 0;
        plan.tail_bytes = tail;
        plan.buffer_bytes = buffer;
        FileReading reading;
        const Verdict piecemeal = VerifyByPath(path, plan, &reading);
        const std::string where =
            document.name + " tail " + std::to_string(tail) + " buffer " + std::to_string(buffer);
        EXPECT_EQ(piecemeal.code, whole.code) << where;
        EXPECT_EQ(piecemeal.outputs, whole.outputs) << where;
        EXPECT_EQ(piecemeal.outcome, whole.outcome) << where;
        EXPECT_EQ(piecemeal.messages, whole.messages) << where;
        if (!reading.loaded_whole) ++tail_sufficed;
      }
    }
    // The point of the reading: a stamped document is verified from its
    // tail. (A seal impression is not: the stage searches the whole document
    // for "/Encrypt", and may have to write the template into a copy.)
    if (stamped && document.name.find("seal") == std::string::npos) {
      EXPECT_GT(tail_sufficed, 0) << document.name;
    }
  }
  std::remove(path.c_str());
}

// A file cut short after it was opened: the reads that follow find it
// ended, and the content is unavailable, as a short read of the whole file
// makes it unreadable.
TEST(DocumentFileTest, FileCutShortAfterOpeningIsUnavailable) {
#if defined(_WIN32)
  GTEST_SKIP() << "Windows refuses to cut a file that our handle holds without write sharing";
#endif
  const std::string path = TempPath("cut");
  const std::string bytes(100000, 'b');
  struct Case {
    const char* name;
    int64_t cut_to;
    int64_t piece_start;
    int64_t piece_length;
    bool available;
  };
  const Case cases[] = {
      {"whole file still there", 100000, 0, 60000, true},
      {"piece beyond the new end", 50000, 0, 60000, false},
      {"piece before it, the rest unread beyond", 50000, 0, 1000, false},
      {"nothing left", 0, 0, 1000, false},
  };
  for (const Case& c : cases) {
    ASSERT_TRUE(WriteFile(path, bytes));
    DocumentFile file;
    ASSERT_EQ(file.Open(path.c_str()), kLoadOk);
    ASSERT_EQ(truncate(path.c_str(), c.cut_to), 0);
    SignedContent signed_content;
    ASSERT_TRUE(signed_content.Append(ByteSpan{nullptr, static_cast<size_t>(c.piece_length)},
                                      c.piece_start));
    FileContent content;
    content.file = &file;
    content.tail_start = 99000;
    content.buffer_bytes = 4096;
    FileContentParts parts(signed_content, content);
    bool unavailable = false;
    int64_t handed = 0;
    for (;;) {
      ByteSpan part;
      const EcspPartSource::Part next = parts.Next(part);
      if (next == EcspPartSource::Part::kEnd) break;
      if (next == EcspPartSource::Part::kUnavailable) {
        unavailable = true;
        break;
      }
      ASSERT_NE(part.data, nullptr) << c.name;
      EXPECT_EQ(std::string(reinterpret_cast<const char*>(part.data), part.length),
                bytes.substr(static_cast<size_t>(c.piece_start + handed), part.length))
          << c.name;
      handed += static_cast<int64_t>(part.length);
    }
    EXPECT_EQ(!unavailable, c.available) << c.name;
    if (c.available) {
      EXPECT_EQ(handed, c.piece_length) << c.name;
    }
    FileContent before_tail = content;
    EXPECT_EQ(ReadBeforeTail(before_tail), c.available) << c.name;
  }
  std::remove(path.c_str());
}

TEST(DocumentFileTest, ReadAtStaysInsideTheFileSeenAtOpening) {
  const std::string path = TempPath("readat");
  ASSERT_TRUE(WriteFile(path, "0123456789"));
  DocumentFile file;
  ASSERT_EQ(file.Open(path.c_str()), kLoadOk);
  ASSERT_EQ(file.size(), 10);
  struct Case {
    int64_t position;
    size_t count;
    int code;
    const char* bytes;
  };
  const Case cases[] = {
      {0, 10, kLoadOk, "0123456789"}, {7, 3, kLoadOk, "789"},       {9, 1, kLoadOk, "9"},
      {10, 0, kLoadOk, ""},           {10, 1, kLoadReadFailed, ""}, {8, 3, kLoadReadFailed, ""},
      {-1, 1, kLoadReadFailed, ""},   {11, 0, kLoadReadFailed, ""},
  };
  for (const Case& c : cases) {
    char out[16] = {};
    EXPECT_EQ(file.ReadAt(c.position, out, c.count), c.code) << c.position << "+" << c.count;
    if (c.code == kLoadOk) {
      EXPECT_EQ(std::string(out, c.count), c.bytes);
    }
  }
  DocumentFile never_opened;
  char byte = 0;
  EXPECT_EQ(never_opened.ReadAt(0, &byte, 1), kLoadReadFailed);
  EXPECT_EQ(never_opened.Open(""), kLoadNoPath);
  EXPECT_EQ(never_opened.Open((path + ".absent").c_str()), kLoadCannotOpen);
  std::remove(path.c_str());
}

// A view holding only the tail answers every question about the tail as the
// whole view does, and records any read before it.
TEST(DocumentFileTest, TailViewRecordsReadsBeforeTheTail) {
  const std::string text = "%PDF-1.4\nobj /ByteRange [0 10 20 5]\nstartxref\n123\n%%EOF\n";
  const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
  const auto length = static_cast<int64_t>(text.size());
  const DocumentView whole(bytes, static_cast<int32_t>(length));
  const int64_t tail_start = 20;
  struct Probe {
    const char* name;
    bool reads_before_tail;
    std::function<std::string(const DocumentView&)> ask;
  };
  auto show = [](std::optional<int64_t> value) {
    return value ? std::to_string(*value) : std::string("none");
  };
  const std::vector<Probe> probes = {
      {"find in tail", false, [&](const DocumentView& v) { return show(v.FindEnd("%%EOF", 30)); }},
      {"find from start", true, [&](const DocumentView& v) { return show(v.FindEnd("obj", 0)); }},
      {"window in tail", false,
       [&](const DocumentView& v) { return show(v.FindEndWithin("startxref", 30, 20)); }},
      {"byte in tail", false,
       [&](const DocumentView& v) { return std::to_string(v.ByteAt(length - 1).value_or(0)); }},
      {"byte before", true,
       [&](const DocumentView& v) { return std::to_string(v.ByteAt(3).value_or(0)); }},
      {"span across", true, [&](const DocumentView& v) { return show(v.Span(15, 10) ? 1 : 0); }},
      {"line in tail", false,
       [&](const DocumentView& v) { return std::to_string(v.LineAt(36, length).length); }},
      {"length only", false, [&](const DocumentView& v) { return std::to_string(v.length()); }},
      {"outside the document", false,
       [&](const DocumentView& v) { return show(v.FindEnd("x", length + 3)); }},
  };
  for (const Probe& probe : probes) {
    bool read_before_tail = false;
    const DocumentView tail =
        DocumentView::Tail(bytes + tail_start, tail_start, length, &read_before_tail);
    const std::string answer = probe.ask(tail);
    EXPECT_EQ(read_before_tail, probe.reads_before_tail) << probe.name;
    if (!probe.reads_before_tail) {
      EXPECT_EQ(answer, probe.ask(whole)) << probe.name;
    }
  }
}

}  // namespace
}  // namespace vrd
