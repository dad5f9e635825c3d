#include "cli/TsVerifyCore.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "api/ResultCodes.h"
#include "api/VerifyTimeStampToken.h"
#include "util/LoadFile.h"

namespace vrd {
namespace cli {

namespace {

constexpr int kMaxJobs = 256;

bool ParseJobs(const char* text, int& jobs) {
  if (text == nullptr || *text == '\0') return false;
  char* end = nullptr;
  const long value = std::strtol(text, &end, 10);
  if (*end != '\0' || value < 1 || value > kMaxJobs) return false;
  jobs = static_cast<int>(value);
  return true;
}

int Base64Value(unsigned char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

// RFC 4648 Base64 with "=" padding; whitespace between characters ignored.
bool DecodeBase64(const std::string& text, std::string& out) {
  std::string bytes;
  uint32_t accumulator = 0;
  int bits = 0;
  int padding = 0;
  for (const char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    if (c == ' ' || c == '\t' || c == '\r' || c == '\n') continue;
    if (c == '=') {
      ++padding;
      continue;
    }
    const int value = Base64Value(c);
    if (value < 0 || padding > 0) return false;
    accumulator = (accumulator << 6) | static_cast<uint32_t>(value);
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      bytes.push_back(static_cast<char>((accumulator >> bits) & 0xFFu));
    }
  }
  if (padding > 2 || bytes.empty()) return false;
  out = bytes;
  return true;
}

void AppendUtf8(uint32_t cp, std::string& out) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

constexpr uint32_t kReplacement = 0xFFFD;

// Decodes one UTF-8 sequence at s[i]; returns the code point (U+FFFD for an
// invalid, overlong, surrogate or truncated sequence) and advances i.
uint32_t DecodeUtf8(const std::string& s, size_t& i) {
  const auto lead = static_cast<unsigned char>(s[i]);
  if (lead < 0x80) {
    ++i;
    return lead;
  }
  int extra = 0;
  uint32_t cp = 0;
  uint32_t minimum = 0;
  if ((lead & 0xE0) == 0xC0) {
    extra = 1, cp = lead & 0x1Fu, minimum = 0x80;
  } else if ((lead & 0xF0) == 0xE0) {
    extra = 2, cp = lead & 0x0Fu, minimum = 0x800;
  } else if ((lead & 0xF8) == 0xF0) {
    extra = 3, cp = lead & 0x07u, minimum = 0x10000;
  } else {
    ++i;
    return kReplacement;
  }
  if (i + static_cast<size_t>(extra) >= s.size()) {
    ++i;
    return kReplacement;
  }
  for (int k = 1; k <= extra; ++k) {
    const auto c = static_cast<unsigned char>(s[i + static_cast<size_t>(k)]);
    if ((c & 0xC0) != 0x80) {
      ++i;
      return kReplacement;
    }
    cp = (cp << 6) | (c & 0x3Fu);
  }
  if (cp < minimum || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
    ++i;
    return kReplacement;
  }
  i += static_cast<size_t>(extra) + 1;
  return cp;
}

}  // namespace

bool ParseCommandLine(int argc, const char* const* argv, Options& options, std::string& error) {
  Options parsed;
  bool only_files = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool has_value = i + 1 < argc;
    if (only_files || arg.empty() || arg[0] != '-' || arg == "-") {
      parsed.files.push_back(arg);
    } else if (arg == "--") {
      only_files = true;
    } else if (arg == "-h" || arg == "--help") {
      parsed.help = true;
    } else if (arg == "--json") {
      parsed.json = true;
    } else if (arg == "--all") {
      parsed.all = true;
    } else if (arg == "--system-roots") {
      parsed.system_roots = true;
    } else if (arg == "--trust-anchor") {
      if (!has_value) {
        error = "--trust-anchor needs a PEM file";
        return false;
      }
      parsed.trust_anchor_files.push_back(argv[++i]);
    } else if (arg == "--files-from") {
      if (!has_value) {
        error = "--files-from needs a file or -";
        return false;
      }
      if (!parsed.files_from.empty()) {
        error = "--files-from given twice";
        return false;
      }
      parsed.files_from = argv[++i];
      if (parsed.files_from.empty()) {
        error = "--files-from needs a file or -";
        return false;
      }
    } else if (arg == "-j" || arg == "--jobs") {
      if (!has_value || !ParseJobs(argv[i + 1], parsed.jobs)) {
        error = "-j needs a number from 1 to 256";
        return false;
      }
      ++i;
    } else if (arg.compare(0, 2, "-j") == 0) {
      if (!ParseJobs(arg.c_str() + 2, parsed.jobs)) {
        error = "-j needs a number from 1 to 256";
        return false;
      }
    } else {
      error = "unknown option " + arg;
      return false;
    }
  }
  if (parsed.help) {
    options = parsed;
    return true;
  }
  if (!parsed.files_from.empty()) {
    if (!parsed.files.empty()) {
      error = "give files either as arguments or with --files-from, not both";
      return false;
    }
    parsed.json = true;
  } else if (parsed.files.empty()) {
    error = "no files to verify";
    return false;
  }
  if (parsed.system_roots && !parsed.all) {
    error = "--system-roots needs --all";
    return false;
  }
  if (parsed.trust_anchor_files.size() > kMaxExtraTrustedRoots) {
    error = "too many --trust-anchor files";
    return false;
  }
  options = parsed;
  return true;
}

const char* UsageText() {
  return "usage: tsverify [options] FILE...\n"
         "       tsverify [options] --files-from LIST\n"
         "\n"
         "Verifies the RFC 3161 time-stamp token carried in the signature of each PDF\n"
         "file: the digest of the signed content against the token's message imprint,\n"
         "the token's CMS signature, and the time-stamping authority's certificate\n"
         "against the built-in trust anchors.\n"
         "\n"
         "For each file it prints the result code, its name and meaning, and the\n"
         "token's generation time, hash algorithm, message imprint and the subject\n"
         "name of the authority's certificate (empty when the verification stopped\n"
         "before the token was read).\n"
         "\n"
         "Options:\n"
         "  --json              one JSON object per file and line, with the keys\n"
         "                      \"file\", \"code\", \"result\", \"genTime\", \"hashAlgorithm\",\n"
         "                      \"hashedMessage\", \"subjectName\"\n"
         "  --trust-anchor PEM  also trust the root certificate(s) in PEM (or one DER\n"
         "                      certificate) for private or test time-stamping\n"
         "                      authorities; repeatable, up to 16 files\n"
         "  -j N                verify N files at a time (1 to 256); a progress bar is\n"
         "                      drawn on standard error when it is a terminal\n"
         "  --files-from LIST   read the paths from LIST, one per line (- for standard\n"
         "                      input); implies --json\n"
         "  --all               report every RFC 3161 time-stamp of each file (document\n"
         "                      time-stamps and signature time-stamps, in any\n"
         "                      revision), read with a full PDF parser, beside the\n"
         "                      library's own verdict; exit 0 only when every file\n"
         "                      has time-stamps and all of them verify\n"
         "  --system-roots      with --all, also trust the system's certificate bundle\n"
         "                      (/etc/ssl/certs/ca-certificates.crt)\n"
         "  -h, --help          show this text\n"
         "\n"
         "Results are printed in the order the files were given.\n"
         "\n"
         "Exit status: 0 when every file verified (code 0), 1 when any did not,\n"
         "2 for a usage error or an unreadable --trust-anchor or --files-from file.\n";
}

const char* ResultName(int code) {
  switch (code) {
    case ResultOk:
      return "ResultOk";
    case DigestMismatch:
      return "DigestMismatch";
    case UnsupportedAlgorithm:
      return "UnsupportedAlgorithm";
    case FileUnreadable:
      return "FileUnreadable";
    case ToolkitSetupFailed:
      return "ToolkitSetupFailed";
    case TokenUnreadable:
      return "TokenUnreadable";
    case SignerCertificateUnreadable:
      return "SignerCertificateUnreadable";
    case NoTimeStampToken:
      return "NoTimeStampToken";
    case CertificateVerifyFailed:
      return "CertificateVerifyFailed";
    case SignedDataInvalid:
      return "SignedDataInvalid";
    default:
      return "Unknown";
  }
}

const char* ResultMeaning(int code) {
  switch (code) {
    case ResultOk:
      return "the content is unchanged since it was time-stamped and the time-stamping "
             "authority is trusted";
    case DigestMismatch:
      return "the signed content was changed after time-stamping: its digest differs from "
             "the token's message imprint";
    case UnsupportedAlgorithm:
      return "the token's imprint algorithm is neither SHA-256 nor SHA-512";
    case FileUnreadable:
      return "the file cannot be read";
    case ToolkitSetupFailed:
      return "the crypto toolkit or a trust anchor could not be set up";
    case TokenUnreadable:
      return "the time-stamp token cannot be read from the signature";
    case SignerCertificateUnreadable:
      return "the time-stamping authority's certificate cannot be loaded or named";
    case NoTimeStampToken:
      return "the document has no usable signature structure";
    case CertificateVerifyFailed:
      return "the time-stamping authority's certificate does not chain to a trusted root";
    case SignedDataInvalid:
      return "the token is not valid CMS signed data";
    default:
      return "unknown result code";
  }
}

bool ParsePemCertificates(const std::string& text, std::vector<ByteString>& roots) {
  static const char kBegin[] = "-----BEGIN CERTIFICATE-----";
  static const char kEnd[] = "-----END CERTIFICATE-----";
  std::vector<std::string> found;
  size_t pos = 0;
  while ((pos = text.find(kBegin, pos)) != std::string::npos) {
    const size_t body = pos + sizeof(kBegin) - 1;
    const size_t end = text.find(kEnd, body);
    if (end == std::string::npos) return false;
    std::string der;
    if (!DecodeBase64(text.substr(body, end - body), der)) return false;
    found.push_back(der);
    pos = end + sizeof(kEnd) - 1;
  }
  if (found.empty()) {
    if (text.size() < 2 || static_cast<unsigned char>(text[0]) != 0x30) return false;
    found.push_back(text);
  }
  std::vector<ByteString> converted;
  for (const std::string& der : found) {
    if (der.size() > 0x7FFFFFFFu) return false;
    ByteString item;
    if (item.SetData(der.data(), static_cast<int>(der.size())) != ByteString::kOk) return false;
    converted.push_back(item);
  }
  for (const ByteString& item : converted) roots.push_back(item);
  return true;
}

bool ReadWholeFile(const std::string& path, std::string& text) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::ostringstream buffer;
  buffer << in.rdbuf();
  if (in.bad()) return false;
  text = buffer.str();
  return true;
}

std::string Utf16ToUtf8(const VrdWideChar* text, size_t max_units) {
  std::string out;
  if (text == nullptr) return out;
  for (size_t i = 0; i < max_units && text[i] != 0; ++i) {
    const auto unit = static_cast<uint32_t>(text[i]);
    uint32_t cp = unit;
    if (unit >= 0xD800 && unit <= 0xDBFF) {
      const uint32_t next = i + 1 < max_units ? static_cast<uint32_t>(text[i + 1]) : 0;
      if (next >= 0xDC00 && next <= 0xDFFF) {
        cp = 0x10000 + ((unit - 0xD800) << 10) + (next - 0xDC00);
        ++i;
      } else {
        cp = kReplacement;
      }
    } else if (unit >= 0xDC00 && unit <= 0xDFFF) {
      cp = kReplacement;
    }
    AppendUtf8(cp, out);
  }
  return out;
}

std::string JsonString(const std::string& text) {
  std::string out = "\"";
  size_t i = 0;
  while (i < text.size()) {
    const uint32_t cp = DecodeUtf8(text, i);
    switch (cp) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\b':
        out += "\\b";
        break;
      case '\f':
        out += "\\f";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (cp < 0x20 || cp == 0x7F) {
          char escaped[8];
          std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(cp));
          out += escaped;
        } else {
          AppendUtf8(cp, out);
        }
    }
  }
  out += '"';
  return out;
}

FileResult VerifyFile(const std::string& path, const std::vector<ByteString>& extra_roots) {
  FileResult result;
  VrdWideChar gen_time[kOutputUnits] = {};
  VrdWideChar hash_algorithm[kOutputUnits] = {};
  VrdWideChar hashed_message[kOutputUnits] = {};
  VrdWideChar subject_name[kOutputUnits] = {};
  ByteString document;
  if (LoadFile(path.c_str(), document) != kLoadOk) {
    result.code = FileUnreadable;
    return result;
  }
  ExtraTrustedRoots roots;
  roots.certificates = extra_roots.empty() ? nullptr : extra_roots.data();
  roots.count = extra_roots.size();
  result.code =
      VerifyTimeStampToken(document, gen_time, hash_algorithm, hashed_message, subject_name, roots);
  result.gen_time = Utf16ToUtf8(gen_time, kOutputUnits);
  result.hash_algorithm = Utf16ToUtf8(hash_algorithm, kOutputUnits);
  result.hashed_message = Utf16ToUtf8(hashed_message, kOutputUnits);
  result.subject_name = Utf16ToUtf8(subject_name, kOutputUnits);
  return result;
}

std::string FormatJson(const std::string& path, const FileResult& result) {
  std::string out = "{\"file\":" + JsonString(path);
  out += ",\"code\":" + std::to_string(result.code);
  out += ",\"result\":" + JsonString(ResultName(result.code));
  out += ",\"genTime\":" + JsonString(result.gen_time);
  out += ",\"hashAlgorithm\":" + JsonString(result.hash_algorithm);
  out += ",\"hashedMessage\":" + JsonString(result.hashed_message);
  out += ",\"subjectName\":" + JsonString(result.subject_name);
  out += "}";
  return out;
}

std::string FormatText(const std::string& path, const FileResult& result) {
  std::string out = path + "\n";
  out += "  result:        " + std::to_string(result.code) + " " + ResultName(result.code) + ": " +
         ResultMeaning(result.code) + "\n";
  out += "  genTime:       " + result.gen_time + "\n";
  out += "  hashAlgorithm: " + result.hash_algorithm + "\n";
  out += "  hashedMessage: " + result.hashed_message + "\n";
  out += "  subjectName:   " + result.subject_name + "\n";
  return out;
}

std::vector<std::string> SplitFileList(const std::string& text) {
  std::vector<std::string> paths;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty()) paths.push_back(line);
    start = end + 1;
  }
  return paths;
}

}  // namespace cli
}  // namespace vrd
