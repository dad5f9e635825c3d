#include "cli/TsVerifyCore.h"

#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>

#include "api/ResultCodes.h"
#include "api/VerifyDocumentFile.h"
#include "api/VerifyTimeStampToken.h"
#include "pdf/Messages.h"
#include "platform/Utf8.h"
#include "toolkit/qvtk.h"

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

// A byte count of 1 KiB to 1 TiB, in bytes or with a K, M or G suffix
// (powers of 1024).
bool ParseByteCount(const char* text, uint64_t& bytes) {
  if (text == nullptr || *text < '0' || *text > '9') return false;
  char* end = nullptr;
  const unsigned long long value = std::strtoull(text, &end, 10);
  int shift = 0;
  if (*end == 'K' || *end == 'k') shift = 10;
  if (*end == 'M' || *end == 'm') shift = 20;
  if (*end == 'G' || *end == 'g') shift = 30;
  if (shift != 0) ++end;
  if (*end != '\0' || value > (uint64_t{1} << 40 >> shift)) return false;
  bytes = static_cast<uint64_t>(value) << shift;
  return bytes >= 1024;
}

// Seconds above 0, at most a day.
bool ParseSeconds(const char* text, double& seconds) {
  if (text == nullptr || *text == '\0') return false;
  char* end = nullptr;
  const double value = std::strtod(text, &end);
  if (*end != '\0' || !(value > 0) || value > 86400) return false;
  seconds = value;
  return true;
}

// "YYYY-MM-DD" or "YYYY-MM-DDTHH:MM:SSZ", UTC, from 1970 to 9999.
bool ParseTime(const char* text, int64_t& seconds) {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  char zone = 0;
  int used = 0;
  const size_t length = std::strlen(text);
  const bool date_only = length == 10 &&
                         std::sscanf(text, "%4d-%2d-%2d%n", &year, &month, &day, &used) == 3 &&
                         used == 10;
  const bool full = length == 20 &&
                    std::sscanf(text, "%4d-%2d-%2dT%2d:%2d:%2d%c%n", &year, &month, &day, &hour,
                                &minute, &second, &zone, &used) == 7 &&
                    used == 20 && zone == 'Z';
  if ((!date_only && !full) || year < 1970 || month < 1 || month > 12 || day < 1 || day > 31 ||
      hour > 23 || minute > 59 || second > 60) {
    return false;
  }
  // Days from 1970-01-01 to the date (the proleptic Gregorian calendar).
  const int y = year - (month <= 2 ? 1 : 0);
  const int era = y / 400;
  const int yoe = y - era * 400;
  const int doy = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const int doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  const int64_t days = int64_t{era} * 146097 + doe - 719468;
  seconds = days * 86400 + hour * 3600 + minute * 60 + second;
  return true;
}

// The toolkit's Base64 decoder (strict RFC 4648 section 4, padded) over the
// text without its line breaks and blanks: the one Base64 decoder there is.
bool DecodeBase64(const std::string& text, std::string& out) {
  std::string compact;
  for (const char ch : text) {
    if (ch != ' ' && ch != '\t' && ch != '\r' && ch != '\n') compact.push_back(ch);
  }
  if (compact.empty() || compact.size() > static_cast<size_t>(INT32_MAX)) return false;
  QVTK_CTX context = nullptr;
  if (QVTK_API_Init(&context, ".") != QVTK_OK) return false;
  QVTK_BINSTR encoded{};
  QVTK_BINSTR decoded{};
  (void)QVTK_BINSTR_Create(&encoded);
  (void)QVTK_BINSTR_Create(&decoded);
  const bool ok = QVTK_BINSTR_SetData(compact.data(), static_cast<int32_t>(compact.size()),
                                      &encoded) == QVTK_OK &&
                  QVTK_BASE64_Decode(context, &encoded, &decoded) == QVTK_OK && decoded.length > 0;
  if (ok)
    out.assign(reinterpret_cast<const char*>(decoded.data), static_cast<size_t>(decoded.length));
  (void)QVTK_BINSTR_Delete(&encoded);
  (void)QVTK_BINSTR_Delete(&decoded);
  (void)QVTK_API_Finish(&context);
  return ok;
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

constexpr uint32_t kReplacement = kReplacementCharacter;

// One UTF-8 sequence at s[i] (the shared decoder's rule); advances i.
uint32_t DecodeUtf8(const std::string& s, size_t& i) {
  size_t taken = 1;
  const char32_t code_point = DecodeUtf8Sequence(
      reinterpret_cast<const unsigned char*>(s.data()) + i, s.size() - i, &taken);
  i += taken;
  return static_cast<uint32_t>(code_point);
}

void CollectMessage(void* context, PdfMessage message) noexcept {
  auto* messages = static_cast<std::vector<std::string>*>(context);
  try {
    messages->emplace_back(PdfMessageUtf8Text(message));
  } catch (...) {
    // Out of memory: this message is dropped (the earlier ones stay); the
    // verification itself goes on.
  }
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
    } else if (arg == "--version") {
      parsed.version = true;
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
    } else if (arg == "--max-inflate") {
      if (!has_value || !ParseByteCount(argv[++i], parsed.max_inflate)) {
        error = "--max-inflate needs a byte count from 1K to 1024G (K, M, G: powers of 1024)";
        return false;
      }
    } else if (arg == "--max-seconds") {
      if (!has_value || !ParseSeconds(argv[++i], parsed.max_seconds)) {
        error = "--max-seconds needs a number of seconds above 0, at most 86400";
        return false;
      }
    } else if (arg == "--model") {
      const std::string model = has_value ? argv[++i] : "";
      if (model != "point-in-time" && model != "strict") {
        error = "--model needs point-in-time or strict";
        return false;
      }
      parsed.strict = model == "strict";
      parsed.model_given = true;
    } else if (arg == "--at") {
      if (!has_value || !ParseTime(argv[++i], parsed.at) || parsed.at == 0) {
        error = "--at needs a UTC time, YYYY-MM-DD or YYYY-MM-DDTHH:MM:SSZ";
        return false;
      }
    } else if (arg == "--revocation") {
      if (!has_value) {
        error = "--revocation needs a CRL or OCSP response file";
        return false;
      }
      parsed.revocation_files.push_back(argv[++i]);
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
  if (parsed.help || parsed.version) {
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
  if ((parsed.max_inflate != 0 || parsed.max_seconds != 0 || parsed.model_given || parsed.at != 0 ||
       !parsed.revocation_files.empty()) &&
      !parsed.all) {
    error = "--max-inflate, --max-seconds, --model, --at and --revocation need --all";
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
         "                      \"hashedMessage\", \"subjectName\"; \"reason\" (the\n"
         "                      document-structure failure, e.g. ERR_NOT_XREF) when\n"
         "                      the document has no usable signature structure, and\n"
         "                      \"message\" when the document scan reported a problem\n"
         "  --trust-anchor PEM  also trust the root certificate(s) in PEM (or one DER\n"
         "                      certificate) for private or test time-stamping\n"
         "                      authorities; repeatable, up to 16 files\n"
         "  -j N                verify N files at a time (1 to 256); a progress bar is\n"
         "                      drawn on standard error when it is a terminal\n"
         "  --files-from LIST   read the paths from LIST, one per line (- for standard\n"
         "                      input); implies --json\n"
         "  --version           show the version and the crypto library in use\n"
         "  --all               report every RFC 3161 time-stamp of each file (document\n"
         "                      time-stamps and signature time-stamps, in any\n"
         "                      revision), read with a full PDF parser, beside the\n"
         "                      library's own verdict; exit 0 only when every file\n"
         "                      has time-stamps and all of them verify\n"
         "  --system-roots      with --all, also trust the system's root certificates\n"
         "                      (/etc/ssl/certs, looked up by subject)\n"
         "  --max-inflate BYTES with --all, the most a stream of a document may inflate\n"
         "                      to (default 64M; K, M, G suffixes), and four times as\n"
         "                      much for all its streams together\n"
         "  --max-seconds S     with --all, the most time one document's report may\n"
         "                      take (default 30); a document that meets a limit\n"
         "                      gets an error naming it\n"
         "  --model M           with --all, the long-term validation model:\n"
         "                      point-in-time (default) or strict\n"
         "  --at TIME           with --all, validate as at TIME (YYYY-MM-DD or\n"
         "                      YYYY-MM-DDTHH:MM:SSZ, UTC; default now)\n"
         "  --revocation FILE   with --all, also use the CRL or OCSP response in FILE\n"
         "                      (DER, or PEM for a CRL); repeatable\n"
         "  -h, --help          show this text\n"
         "\n"
         "Results are printed in the order the files were given.\n"
         "\n"
         "Exit status: 0 when every file verified (code 0), 1 when any did not,\n"
         "2 for a usage error or an unreadable --trust-anchor or --files-from file.\n"
         "With --all: 0 when every time-stamp is PASSED, 1 when any is FAILED (or a\n"
         "file has none, or cannot be read), 3 when none failed but some are\n"
         "INDETERMINATE.\n";
}

std::string VersionText() {
  // Room for any version line a crypto library reports.
  char crypto[256];
  std::string text = "tsverify " VRD_VERSION "\n";
  text += "crypto library: ";
  text += QVTK_API_GetVersion(static_cast<int32_t>(sizeof crypto), crypto) == QVTK_OK ? crypto
                                                                                      : "unknown";
  text += "\n";
  return text;
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

bool ReadWholeStream(std::istream& in, std::string& text, size_t max_bytes) {
  std::string bytes;
  char buffer[1 << 16];
  for (;;) {
    in.read(buffer, sizeof buffer);
    const auto got = static_cast<size_t>(in.gcount());
    if (got > max_bytes - bytes.size()) return false;
    bytes.append(buffer, got);
    if (!in) break;
  }
  if (in.bad()) return false;
  text.swap(bytes);
  return true;
}

bool ReadWholeFile(const std::string& path, std::string& text, size_t max_bytes) {
  struct stat info;
  if (stat(path.c_str(), &info) != 0 || S_ISDIR(info.st_mode) || S_ISCHR(info.st_mode)) {
    return false;
  }
#if defined(S_ISBLK)
  if (S_ISBLK(info.st_mode)) return false;
#endif
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  return ReadWholeStream(in, text, max_bytes);
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

namespace {

// A FileResult from one verification: verify(outputs, roots, &outcome)
// gives the result code, with the library's scanning messages collected.
template <typename Verify>
FileResult CollectResult(const std::vector<ByteString>& extra_roots, Verify verify) {
  FileResult result;
  VrdWideChar gen_time[kOutputUnits] = {};
  VrdWideChar hash_algorithm[kOutputUnits] = {};
  VrdWideChar hashed_message[kOutputUnits] = {};
  VrdWideChar subject_name[kOutputUnits] = {};
  ScopedPdfMessageReceiver receiver(&CollectMessage, &result.messages);
  ExtraTrustedRoots roots;
  roots.certificates = extra_roots.empty() ? nullptr : extra_roots.data();
  roots.count = extra_roots.size();
  DocumentOutcome outcome = DocumentOutcome::kAssembled;
  result.code =
      verify(OutputTexts{gen_time, hash_algorithm, hashed_message, subject_name}, roots, &outcome);
  if (outcome != DocumentOutcome::kAssembled) {
    result.reason = DocumentOutcomeName(outcome);
    result.reason_meaning = DocumentOutcomeMeaning(outcome);
  }
  result.gen_time = Utf16ToUtf8(gen_time, kOutputUnits);
  result.hash_algorithm = Utf16ToUtf8(hash_algorithm, kOutputUnits);
  result.hashed_message = Utf16ToUtf8(hashed_message, kOutputUnits);
  result.subject_name = Utf16ToUtf8(subject_name, kOutputUnits);
  return result;
}

}  // namespace

FileResult VerifyFile(const std::string& path, const std::vector<ByteString>& extra_roots) {
  return CollectResult(extra_roots, [&path](const OutputTexts& out, const ExtraTrustedRoots& roots,
                                            DocumentOutcome* outcome) {
    return VerifyDocumentFile(path.c_str(), out, roots, outcome);
  });
}

FileResult VerifyOpenFile(DocumentFile& file, const ByteString* loaded,
                          const std::vector<ByteString>& extra_roots, ComputedDigest* computed) {
  return CollectResult(
      extra_roots, [&file, loaded, computed](const OutputTexts& out, const ExtraTrustedRoots& roots,
                                             DocumentOutcome* outcome) {
        return VerifyOpenDocumentFile(file, loaded, out, roots, outcome, FileReadPlan{}, nullptr,
                                      computed);
      });
}

std::string FormatJson(const std::string& path, const FileResult& result) {
  std::string out = "{\"file\":" + JsonString(path);
  out += ",\"code\":" + std::to_string(result.code);
  out += ",\"result\":" + JsonString(ResultName(result.code));
  out += ",\"genTime\":" + JsonString(result.gen_time);
  out += ",\"hashAlgorithm\":" + JsonString(result.hash_algorithm);
  out += ",\"hashedMessage\":" + JsonString(result.hashed_message);
  out += ",\"subjectName\":" + JsonString(result.subject_name);
  if (!result.messages.empty()) {
    std::string joined;
    for (const std::string& message : result.messages) {
      if (!joined.empty()) joined += '\n';
      joined += message;
    }
    out += ",\"message\":" + JsonString(joined);
  }
  if (!result.reason.empty()) out += ",\"reason\":" + JsonString(result.reason);
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
  if (!result.reason.empty()) {
    out += "  reason:        " + result.reason + " (" + result.reason_meaning + ")\n";
  }
  for (const std::string& message : result.messages) out += "  message:       " + message + "\n";
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

bool LoadTrustAnchorFiles(const std::vector<std::string>& files, std::vector<ByteString>& roots,
                          std::string& error) {
  roots.clear();
  for (const std::string& file : files) {
    std::string text;
    if (!ReadWholeFile(file, text, kMaxTrustAnchorFileBytes) ||
        !ParsePemCertificates(text, roots)) {
      error = "cannot read a certificate from " + file;
      return false;
    }
  }
  if (roots.size() > kMaxExtraTrustedRoots) {
    error = "more than " + std::to_string(kMaxExtraTrustedRoots) + " trusted root certificates";
    return false;
  }
  return true;
}

bool LoadRunInputs(const Options& options, std::vector<ByteString>& roots,
                   std::vector<std::string>& files) {
  std::string error;
  if (!LoadTrustAnchorFiles(options.trust_anchor_files, roots, error)) {
    std::fprintf(stderr, "tsverify: %s\n", error.c_str());
    return false;
  }
  files = options.files;
  if (options.files_from.empty()) return true;
  std::string list;
  if (options.files_from == "-") {
    if (!ReadWholeStream(std::cin, list, kMaxFileListBytes)) {
      std::fprintf(stderr, "tsverify: cannot read the list from standard input\n");
      return false;
    }
  } else if (!ReadWholeFile(options.files_from, list, kMaxFileListBytes)) {
    std::fprintf(stderr, "tsverify: cannot read %s\n", options.files_from.c_str());
    return false;
  }
  files = SplitFileList(list);
  return true;
}

}  // namespace cli
}  // namespace vrd
