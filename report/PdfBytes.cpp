#include "report/PdfBytes.h"

namespace vrd::report {
namespace {

int HexValue(unsigned char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return c - 'A' + 10;
}

}  // namespace

std::string DecodeHexStringBody(const unsigned char* body, size_t size) {
  std::string bytes;
  bytes.reserve(size / 2);
  int high = -1;
  for (size_t i = 0; i < size; ++i) {
    if (!IsHexDigit(body[i])) continue;
    const int value = HexValue(body[i]);
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
