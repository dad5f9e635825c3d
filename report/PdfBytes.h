// Byte classes of PDF's lexical rules (ISO 32000-1 section 7.2.2) and the
// decoding of a hexadecimal string's body, as the report reads raw document
// bytes outside the parser.
#ifndef VRD_REPORT_PDFBYTES_H_
#define VRD_REPORT_PDFBYTES_H_

#include <cstddef>
#include <string>

namespace vrd::report {

inline bool IsPdfWhitespace(unsigned char c) {
  return c == ' ' || c == '\n' || c == '\r' || c == '\t' || c == '\f' || c == '\0';
}

// The value of a hexadecimal digit, or -1 for any other byte (a table: the
// digits of a signature's /Contents run to megabytes).
struct HexDigitTable {
  signed char value[256];
  constexpr HexDigitTable() : value() {
    for (int c = 0; c < 256; ++c) {
      value[c] = static_cast<signed char>(c >= '0' && c <= '9'   ? c - '0'
                                          : c >= 'a' && c <= 'f' ? c - 'a' + 10
                                          : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                                                 : -1);
    }
  }
};
inline constexpr HexDigitTable kHexDigits{};
inline int HexDigitValue(unsigned char c) { return kHexDigits.value[c]; }

inline bool IsHexDigit(unsigned char c) { return HexDigitValue(c) >= 0; }

// The bytes of a hexadecimal string's body (between "<" and ">"): bytes that
// are not hexadecimal digits are passed over, and an odd last digit counts
// as followed by 0 (ISO 32000-1 section 7.3.4.3).
std::string DecodeHexStringBody(const unsigned char* body, size_t size);

}  // namespace vrd::report

#endif  // VRD_REPORT_PDFBYTES_H_
