// HexLower: the project's one hexadecimal encoder, two lower-case digits per
// byte, high nibble first. ByteString::HexEncode, the toolkit's imprint text
// and the document report's digests all write hex through it. HexDigitValue:
// the one reader of a hexadecimal digit, for ByteString::HexDecode and the
// report's hex strings.
//
// Header only, so that the toolkit's shared library, which links no library
// of util/, compiles its own hidden copy. Both forms borrow bytes for the
// call; the caller owns out.
#ifndef VRD_UTIL_HEX_H_
#define VRD_UTIL_HEX_H_

#include <cstddef>
#include <string>

namespace vrd {

// Writes the 2 * size digits of bytes[0, size) to out[0, 2 * size); no NUL.
inline void HexLower(const unsigned char* bytes, size_t size, char* out) noexcept {
  static constexpr char kDigits[] = "0123456789abcdef";
  for (size_t i = 0; i < size; ++i) {
    out[2 * i] = kDigits[bytes[i] >> 4];
    out[2 * i + 1] = kDigits[bytes[i] & 0x0F];
  }
}

// The same digits as a string.
inline std::string HexLower(const unsigned char* bytes, size_t size) {
  std::string text(2 * size, '\0');
  HexLower(bytes, size, text.data());
  return text;
}

// The value of a hexadecimal digit (either case), or -1 for any other byte;
// a table, since a signature's /Contents runs to megabytes of digits.
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
inline int HexDigitValue(unsigned char c) noexcept { return kHexDigits.value[c]; }

}  // namespace vrd

#endif  // VRD_UTIL_HEX_H_
