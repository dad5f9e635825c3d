// verify.cpp - verifies the time-stamp token of PDF files with the installed
// library from C++, through CMake's find_package(vrd CONFIG):
//
//   cmake -S examples -B build-example -DCMAKE_PREFIX_PATH=<install prefix>
//   cmake --build build-example
//   build-example/verify_cpp document.pdf...
//
// Prints one line per file: the result code, its name and, when the library
// wrote them, the generation time and the authority's subject name. Exit
// status 0 when every file verified, 1 otherwise.
#include <vrd/tsverify.h>

#include <array>
#include <cstdio>
#include <string>

namespace {

// Output buffers as the library expects them: VRD_TSV_TEXT_UNITS units each.
using Text = std::array<VrdTsvChar, VRD_TSV_TEXT_UNITS>;

struct Verification {
  int code = -1;
  Text gen_time{};
  Text hash_algorithm{};
  Text hashed_message{};
  Text subject_name{};
};

const char* CodeName(int code) {
  switch (code) {
    case VRD_TSV_OK:
      return "ok";
    case VRD_TSV_DIGEST_MISMATCH:
      return "content changed after time-stamping";
    case VRD_TSV_UNSUPPORTED_ALGORITHM:
      return "unsupported imprint algorithm";
    case VRD_TSV_FILE_UNREADABLE:
      return "file unreadable";
    case VRD_TSV_TOOLKIT_SETUP_FAILED:
      return "toolkit or trust anchor setup failed";
    case VRD_TSV_TOKEN_UNREADABLE:
      return "token unreadable";
    case VRD_TSV_SIGNER_CERTIFICATE_UNREADABLE:
      return "authority certificate unreadable";
    case VRD_TSV_NO_TIME_STAMP_TOKEN:
      return "no time-stamp token";
    case VRD_TSV_CERTIFICATE_VERIFY_FAILED:
      return "authority not trusted by the built-in anchors";
    case VRD_TSV_SIGNED_DATA_INVALID:
      return "token is not valid signed data";
    default:
      return "unknown code";
  }
}

// The texts the library writes are ASCII for the time and the algorithm, and
// UTF-16 for the subject name; encode as UTF-8 (BMP and surrogate pairs).
std::string ToUtf8(const Text& text) {
  std::string out;
  for (size_t i = 0; i < text.size() && text[i] != 0; ++i) {
    char32_t cp = text[i];
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (text[++i] - 0xDC00);
    } else if (cp >= 0xD800 && cp <= 0xDFFF) {
      cp = 0xFFFD;
    }
    if (cp < 0x80) {
      out += static_cast<char>(cp);
    } else if (cp < 0x800) {
      out += static_cast<char>(0xC0 | (cp >> 6));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
      out += static_cast<char>(0xE0 | (cp >> 12));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (cp >> 18));
      out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    }
  }
  return out;
}

Verification VerifyFile(const char* path) {
  Verification result;
  result.code = QVTSPdfSigVerifyF(path, result.gen_time.data(), result.hash_algorithm.data(),
                                  result.hashed_message.data(), result.subject_name.data());
  return result;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s FILE.pdf...\n", argv[0]);
    return 2;
  }
  bool all_verified = true;
  for (int i = 1; i < argc; ++i) {
    const Verification result = VerifyFile(argv[i]);
    std::printf("%s: %d %s", argv[i], result.code, CodeName(result.code));
    if (result.gen_time[0] != 0) {
      std::printf(" [%s, %s]", ToUtf8(result.gen_time).c_str(),
                  ToUtf8(result.subject_name).c_str());
    }
    std::printf("\n");
    if (result.code != VRD_TSV_OK) all_verified = false;
  }
  return all_verified ? 0 : 1;
}
