// Byte classes of PDF's lexical rules (ISO 32000-1 section 7.2.2) and the
// decoding of a hexadecimal string's body, as the report reads raw document
// bytes outside the parser.
#ifndef VRD_REPORT_PDFBYTES_H_
#define VRD_REPORT_PDFBYTES_H_

#include <cstddef>
#include <string>

#include "util/Hex.h"

namespace vrd::report {

inline bool IsPdfWhitespace(unsigned char c) {
  return c == ' ' || c == '\n' || c == '\r' || c == '\t' || c == '\f' || c == '\0';
}

using vrd::HexDigitValue;  // util/Hex.h

inline bool IsHexDigit(unsigned char c) { return HexDigitValue(c) >= 0; }

// The bytes of a hexadecimal string's body (between "<" and ">"): bytes that
// are not hexadecimal digits are passed over, and an odd last digit counts
// as followed by 0 (ISO 32000-1 section 7.3.4.3).
std::string DecodeHexStringBody(const unsigned char* body, size_t size);

}  // namespace vrd::report

#endif  // VRD_REPORT_PDFBYTES_H_
