#include "report/PdfBytes.h"

namespace vrd::report {
std::string DecodeHexStringBody(const unsigned char* body, size_t size) {
  std::string bytes;
  bytes.reserve(size / 2);
  int high = -1;
  for (size_t i = 0; i < size; ++i) {
    const int value = HexDigitValue(body[i]);
    if (value < 0) continue;
    if (high < 0) {
      high = value;
    } else {
      bytes.push_back(static_cast<char>(high * 16 + value));
      high = -1;
    }
  }
  if (high >= 0) bytes.push_back(static_cast<char>(high * 16));
  return bytes;
}

}  // namespace vrd::report
