#include "tests/support/DocStageGolden.h"

#include <openssl/evp.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "api/AssembleSignedContent.h"
#include "tests/support/PdfBuilder.h"
#include "util/ByteString.h"

namespace vrd::test {
namespace {

std::string Hex(const unsigned char* bytes, size_t count) {
  static const char kDigits[] = "0123456789abcdef";
  std::string text;
  for (size_t i = 0; i < count; ++i) {
    text += kDigits[bytes[i] >> 4];
    text += kDigits[bytes[i] & 0x0F];
  }
  return text;
}

std::string Sha256Hex(const std::string& bytes) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (EVP_Digest(bytes.data(), bytes.size(), digest, &length, EVP_sha256(), nullptr) != 1) {
    return "digest-failed";
  }
  return Hex(digest, length);
}

bool ReadFile(const std::string& path, std::string& bytes) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::ostringstream text;
  text << in.rdbuf();
  bytes = text.str();
  return true;
}

// Standard output of one call, through a temporary file behind descriptor 1.
class StdoutCapture {
 public:
  StdoutCapture() {
    fflush(stdout);
    // A named file in the temporary directory: tmpfile() may want the root
    // directory on Windows.
    const char* dir = getenv("TMPDIR");
    if (dir == nullptr || *dir == '\0') dir = getenv("TEMP");
    if (dir == nullptr || *dir == '\0') dir = "/tmp";
    path_ = std::string(dir) + "/vrd_docstage_stdout_" + std::to_string(getpid());
    file_ = fopen(path_.c_str(), "w+b");
    saved_ = dup(1);
    if (file_ != nullptr && saved_ >= 0) dup2(fileno(file_), 1);
  }
  std::string Finish() {
    fflush(stdout);
    if (saved_ >= 0) {
      dup2(saved_, 1);
      close(saved_);
    }
    std::string bytes;
    if (file_ == nullptr) return "capture-failed";
    rewind(file_);
    char chunk[4096];
    size_t got = 0;
    while ((got = fread(chunk, 1, sizeof(chunk), file_)) > 0) bytes.append(chunk, got);
    fclose(file_);
    remove(path_.c_str());
    return bytes;
  }

 private:
  std::string path_;
  FILE* file_ = nullptr;
  int saved_ = -1;
};

// The stage as the library runs it: result code, the bytes it hashes, the
// token bytes.
struct StageRun {
  int code = -1;
  std::string hashed;
  std::string token;
};

StageRun RunStage(const std::string& bytes) {
  StageRun run;
  ByteString document;
  if (document.SetData(bytes.data(), static_cast<int>(bytes.size())) != ByteString::kOk) return run;
  ByteString content;
  ByteString token;
  run.code = AssembleSignedContent(document, content, token);
  run.hashed.assign(content.GetData(), static_cast<size_t>(content.GetLength()));
  run.token.assign(token.GetData(), static_cast<size_t>(token.GetLength()));
  return run;
}

// The same over borrowed bytes (the path of QVTSPdfSigVerifyD), the pieces
// joined here.
StageRun RunStageBorrowed(const std::string& bytes) {
  StageRun run;
  WorkingDocument document(reinterpret_cast<const unsigned char*>(bytes.data()),
                           static_cast<int32_t>(bytes.size()));
  SignedContent content;
  ByteString token;
  run.code = ResultCodeOf(AssembleDocument(document, content, token));
  for (const ByteSpan& piece : content.pieces) {
    run.hashed.append(reinterpret_cast<const char*>(piece.data), piece.length);
  }
  run.token.assign(token.GetData(), static_cast<size_t>(token.GetLength()));
  return run;
}

std::string Replaced(std::string bytes, const std::string& from, const std::string& to,
                     size_t start = 0, bool all = false) {
  for (size_t at = bytes.find(from, start); at != std::string::npos;
       at = bytes.find(from, at + to.size())) {
    bytes.replace(at, from.size(), to);
    if (!all) break;
  }
  return bytes;
}

std::string ReplacedLast(std::string bytes, const std::string& from, const std::string& to) {
  const size_t at = bytes.rfind(from);
  if (at != std::string::npos) bytes.replace(at, from.size(), to);
  return bytes;
}

// A DER-like token: SEQUENCE with a two-byte length, filler without zero runs.
std::string FakeDer(size_t body) {
  std::string der = "\x30\x82";
  der += static_cast<char>((body >> 8) & 0xFF);
  der += static_cast<char>(body & 0xFF);
  for (size_t i = 0; i < body; ++i) der += static_cast<char>(0x11 + (i * 37) % 200);
  return der;
}

bool Stamped(PdfOptions options, PdfDocument& document) {
  if (!PdfBuilder(std::move(options)).Build(document)) return false;
  return EmbedToken(document, FakeDer(700));
}

PdfOptions SealOptions(bool encrypt) {
  PdfOptions options;
  options.with_imprint = true;
  options.encrypt = encrypt;
  if (!encrypt) options.imprint.stream_data = std::string(300, 'S');
  options.imprint.hole1_start = 20;
  options.imprint.hole1_length = 30;
  options.imprint.hole2_start = 120;
  options.imprint.hole2_length = 40;
  return options;
}

bool GeneratedDocuments(std::vector<GoldenDocument>& out) {
  PdfDocument plain;
  PdfDocument crlf;
  PdfDocument no_final_eol;
  PdfDocument seal;
  PdfDocument encrypted;
  PdfDocument unstamped;
  PdfOptions crlf_options;
  crlf_options.eol = "\r\n";
  PdfOptions cut_options;
  cut_options.final_eol = false;
  if (!Stamped(PdfOptions{}, plain) || !Stamped(crlf_options, crlf) ||
      !Stamped(cut_options, no_final_eol) || !Stamped(SealOptions(false), seal) ||
      !Stamped(SealOptions(true), encrypted) || !PdfBuilder(PdfOptions{}).Build(unstamped)) {
    return false;
  }
  const std::string& p = plain.bytes;
  const size_t byte_range_at = p.rfind("/ByteRange");
  std::string no_range_end = p;
  for (size_t i = byte_range_at; i < no_range_end.size(); ++i) {
    if (no_range_end[i] == ']') no_range_end[i] = ' ';
  }
  std::string no_close = p;
  for (size_t i = static_cast<size_t>(plain.hex_start); i < no_close.size(); ++i) {
    if (no_close[i] == '>') no_close[i] = ' ';
  }
  std::string not_hex = p;
  not_hex[static_cast<size_t>(plain.contents_open)] = '(';
  const size_t seal_object = seal.bytes.find("5 0 obj");
  out.push_back({"generated/empty", ""});
  out.push_back({"generated/stamped-lf", p});
  out.push_back({"generated/stamped-crlf", crlf.bytes});
  out.push_back({"generated/stamped-no-final-eol", no_final_eol.bytes});
  out.push_back({"generated/seal-lf", seal.bytes});
  out.push_back({"generated/seal-encrypted", encrypted.bytes});
  out.push_back({"generated/unstamped", unstamped.bytes});
  out.push_back({"generated/no-startxref", ReplacedLast(p, "startxref", "startxreF")});
  out.push_back({"generated/no-eof", ReplacedLast(p, "%%EOF", "%%EOX")});
  out.push_back({"generated/no-trailer", Replaced(p, "trailer", "trailex", 0, true)});
  out.push_back({"generated/no-byterange", Replaced(p, "/ByteRange", "/ByteRangX")});
  out.push_back({"generated/no-byterange-end", no_range_end});
  out.push_back(
      {"generated/imprint-no-bracket", Replaced(seal.bytes, "ImprintInfo [", "ImprintInfo <")});
  out.push_back({"generated/imprint-no-object",
                 Replaced(seal.bytes, "0 0 0 0 0 0 0 5 0 R", "0 0 0 0 0 0 0 9 0 R")});
  out.push_back(
      {"generated/imprint-no-stream", Replaced(seal.bytes, "stream", "strea_", seal_object, true)});
  out.push_back({"generated/imprint-no-endstream",
                 Replaced(seal.bytes, "endstream", "endstreaX", seal_object)});
  out.push_back({"generated/contents-not-hex", not_hex});
  out.push_back({"generated/contents-no-close", no_close});
  out.push_back(
      {"generated/fallback-no-contents", Replaced(p, "/Contents <", "/Contentz <", byte_range_at)});
  return true;
}

}  // namespace

bool GoldenDocuments(const std::string& source_dir, std::vector<GoldenDocument>& documents) {
  static const char* const kFiles[] = {
      "fuzz/corpus/assemble_fuzz/broken-imprint-bracket",
      "fuzz/corpus/assemble_fuzz/broken-no-eof",
      "fuzz/corpus/assemble_fuzz/broken-no-trailer",
      "fuzz/corpus/assemble_fuzz/fallback",
      "fuzz/corpus/assemble_fuzz/no-space-contents",
      "fuzz/corpus/assemble_fuzz/odd-ranges",
      "fuzz/corpus/assemble_fuzz/plain-crlf",
      "fuzz/corpus/assemble_fuzz/plain-lf",
      "fuzz/corpus/assemble_fuzz/seal-crlf",
      "fuzz/corpus/assemble_fuzz/seal-encrypted",
      "fuzz/corpus/assemble_fuzz/seal-lf",
      "fuzz/corpus/toolkit_fuzz/ca-pubs",
      "fuzz/corpus/toolkit_fuzz/cms-data",
      "fuzz/corpus/toolkit_fuzz/root-base64",
      "fuzz/corpus/toolkit_fuzz/token-expired",
      "fuzz/corpus/toolkit_fuzz/token-sha256",
      "fuzz/corpus/toolkit_fuzz/token-sha512",
      "fuzz/corpus/toolkit_fuzz/tsa",
      "samples/sample.pdf",
  };
  documents.clear();
  for (const char* file : kFiles) {
    GoldenDocument document{file, {}};
    if (!ReadFile(source_dir + "/" + file, document.bytes)) return false;
    documents.push_back(std::move(document));
  }
  return GeneratedDocuments(documents);
}

std::string DocStageRecord(const std::string& bytes, bool borrowed) {
  StdoutCapture capture;
  const StageRun run = borrowed ? RunStageBorrowed(bytes) : RunStage(bytes);
  const std::string written = capture.Finish();
  return "code=" + std::to_string(run.code) + " content=" + Sha256Hex(run.hashed) +
         " token=" + Sha256Hex(run.token) +
         " stdout=" + Hex(reinterpret_cast<const unsigned char*>(written.data()), written.size());
}

}  // namespace vrd::test
