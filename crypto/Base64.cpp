#include "crypto/Base64.h"

#include <cstdint>

namespace vrd::tk {
namespace {

// RFC 4648 section 4 alphabet values; kNotBase64 for every other byte.
constexpr int8_t kNotBase64 = -1;
struct Base64Table {
  int8_t values[256];
  constexpr Base64Table() : values() {
    for (int i = 0; i < 256; ++i) values[i] = kNotBase64;
    for (int i = 0; i < 26; ++i) {
      values['A' + i] = static_cast<int8_t>(i);
      values['a' + i] = static_cast<int8_t>(26 + i);
    }
    for (int i = 0; i < 10; ++i) values['0' + i] = static_cast<int8_t>(52 + i);
    values[static_cast<unsigned char>('+')] = 62;
    values[static_cast<unsigned char>('/')] = 63;
  }
};
constexpr Base64Table kBase64;

int Base64Value(unsigned char c) noexcept { return kBase64.values[c]; }

}  // namespace

bool DecodeBase64Strict(const unsigned char* in, size_t in_len, unsigned char* out,
                        size_t* out_len) noexcept {
  if (in_len % 4 != 0) return false;
  size_t n = 0;
  // Every group but the last has no padding.
  const size_t plain_groups_end = in_len >= 4 ? in_len - 4 : 0;
  size_t i = 0;
  for (; i < plain_groups_end; i += 4) {
    const int v0 = Base64Value(in[i]);
    const int v1 = Base64Value(in[i + 1]);
    const int v2 = Base64Value(in[i + 2]);
    const int v3 = Base64Value(in[i + 3]);
    if ((v0 | v1 | v2 | v3) < 0) return false;
    const uint32_t group = (static_cast<uint32_t>(v0) << 18) | (static_cast<uint32_t>(v1) << 12) |
                           (static_cast<uint32_t>(v2) << 6) | static_cast<uint32_t>(v3);
    out[n++] = static_cast<unsigned char>(group >> 16);
    out[n++] = static_cast<unsigned char>(group >> 8);
    out[n++] = static_cast<unsigned char>(group);
  }
  for (; i < in_len; i += 4) {
    const bool last = i + 4 == in_len;
    int v[4];
    int pad = 0;
    for (size_t k = 0; k < 4; ++k) {
      const unsigned char c = in[i + k];
      if (c == '=' && last && k >= 2) {
        v[k] = 0;
        ++pad;
        continue;
      }
      if (pad != 0) return false;  // data after "="
      v[k] = Base64Value(c);
      if (v[k] < 0) return false;
    }
    const uint32_t group = (static_cast<uint32_t>(v[0]) << 18) |
                           (static_cast<uint32_t>(v[1]) << 12) |
                           (static_cast<uint32_t>(v[2]) << 6) | static_cast<uint32_t>(v[3]);
    if (pad == 2 && (group & 0xFFFFu) != 0) return false;
    if (pad == 1 && (group & 0xFFu) != 0) return false;
    out[n++] = static_cast<unsigned char>(group >> 16);
    if (pad < 2) out[n++] = static_cast<unsigned char>(group >> 8);
    if (pad < 1) out[n++] = static_cast<unsigned char>(group);
  }
  *out_len = n;
  return true;
}

}  // namespace vrd::tk
