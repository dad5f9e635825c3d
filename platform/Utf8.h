// The one UTF-8 decoder of the code base, with one rule for ill-formed
// input: each maximal subpart of an ill-formed sequence becomes one U+FFFD
// (the practice the Unicode Standard recommends, chapter 3, "U+FFFD
// Substitution of Maximal Subparts"). Overlong forms, encoded surrogates and
// values above U+10FFFF are ill-formed. Header-only: the platform layer (the
// POSIX MultiByteToWideChar) and tsverify's JSON output share it.
#ifndef VRD_PLATFORM_UTF8_H_
#define VRD_PLATFORM_UTF8_H_

#include <cstddef>

namespace vrd {

constexpr char32_t kReplacementCharacter = 0xFFFD;

// One sequence at bytes[0 .. available): the code point, or U+FFFD, and in
// *taken the number of bytes it used (at least 1; available must be >= 1).
inline char32_t DecodeUtf8Sequence(const unsigned char* bytes, size_t available,
                                   size_t* taken) noexcept {
  const unsigned char lead = bytes[0];
  *taken = 1;
  if (lead < 0x80) return lead;
  size_t length = 0;
  char32_t code_point = 0;
  unsigned char lowest = 0x80;
  unsigned char highest = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    code_point = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    code_point = lead & 0x0F;
    if (lead == 0xE0) lowest = 0xA0;   // no overlong forms
    if (lead == 0xED) highest = 0x9F;  // no surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    code_point = lead & 0x07;
    if (lead == 0xF0) lowest = 0x90;   // no overlong forms
    if (lead == 0xF4) highest = 0x8F;  // nothing above U+10FFFF
  } else {
    return kReplacementCharacter;
  }
  // A broken sequence consumes the bytes that were valid so far.
  for (size_t index = 1; index < length; ++index) {
    if (index >= available) return kReplacementCharacter;
    const unsigned char continuation = bytes[index];
    if (continuation < lowest || continuation > highest) return kReplacementCharacter;
    lowest = 0x80;
    highest = 0xBF;
    code_point = (code_point << 6) | (continuation & 0x3F);
    *taken = index + 1;
  }
  return code_point;
}

}  // namespace vrd

#endif  // VRD_PLATFORM_UTF8_H_
