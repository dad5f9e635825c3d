// Context lifecycle, error text, binary strings and Base64 decoding.
#include <openssl/crypto.h>
#include <openssl/err.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "toolkit/openssl/Context.h"
#include "toolkit/openssl/Runtime.h"
#include "toolkit/qvtk.h"

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

// Strict RFC 4648 section 4 decoding: whole 4-character groups, the standard
// alphabet only, "=" padding only at the very end, and zero padding bits
// (RFC 4648 section 3.5), so that every byte sequence has one accepted text.
// out must hold in_len / 4 * 3 bytes.
bool DecodeStrict(const unsigned char* in, size_t in_len, unsigned char* out,
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

}  // namespace
}  // namespace vrd::tk

using vrd::tk::Context;
using vrd::tk::Fail;
using vrd::tk::FromHandle;

extern "C" {

QVTK_EXPORT int QVTK_CALL QVTK_API_Init(QVTK_CTX* ctx, const char* /*config_dir*/) {
  if (ctx == nullptr) return QVTK_ERR_INVALID_ARGUMENT;
  // Every context shares the toolkit's own OpenSSL library context.
  if (vrd::tk::LibraryContext() == nullptr) return QVTK_ERR_INTERNAL;
  Context* created = new (std::nothrow) Context;
  if (created == nullptr) return QVTK_ERR_NO_MEMORY;
  ERR_clear_error();
  *ctx = created;
  return QVTK_OK;
}

QVTK_EXPORT int QVTK_CALL QVTK_API_Finish(QVTK_CTX* ctx) {
  if (ctx == nullptr || *ctx == nullptr) return QVTK_ERR_INVALID_ARGUMENT;
  delete FromHandle(*ctx);
  *ctx = nullptr;
  return QVTK_OK;
}

QVTK_EXPORT int QVTK_CALL QVTK_API_GetErrInfo(QVTK_CTX handle, int32_t capacity, char* buffer) {
  Context* ctx = FromHandle(handle);
  if (ctx == nullptr) return QVTK_ERR_INVALID_ARGUMENT;
  char text[sizeof ctx->last_error + 32];
  const int n = std::snprintf(text, sizeof text, "%d: %s", ctx->last_code,
                              ctx->last_code == QVTK_OK ? "no failure" : ctx->last_error);
  if (n < 0) return QVTK_ERR_INTERNAL;
  return vrd::tk::WriteText(text, static_cast<size_t>(n) < sizeof text ? n : sizeof text - 1,
                            capacity, buffer);
}

QVTK_EXPORT int QVTK_CALL QVTK_API_GetVersion(int32_t capacity, char* buffer) {
  const char* version = OpenSSL_version(OPENSSL_VERSION);
  return vrd::tk::WriteText(version, std::strlen(version), capacity, buffer);
}

QVTK_EXPORT int QVTK_CALL QVTK_BINSTR_Create(QVTK_BINSTR* str) {
  if (str == nullptr) return QVTK_ERR_INVALID_ARGUMENT;
  str->data = nullptr;
  str->length = 0;
  return QVTK_OK;
}

QVTK_EXPORT int QVTK_CALL QVTK_BINSTR_SetData(const void* bytes, int32_t length, QVTK_BINSTR* str) {
  if (str == nullptr || length < 0 || (length > 0 && bytes == nullptr)) {
    return QVTK_ERR_INVALID_ARGUMENT;
  }
  return vrd::tk::ReplaceBytes(str, static_cast<const unsigned char*>(bytes),
                               static_cast<size_t>(length));
}

QVTK_EXPORT int QVTK_CALL QVTK_BINSTR_Delete(QVTK_BINSTR* str) {
  if (str == nullptr) return QVTK_ERR_INVALID_ARGUMENT;
  vrd::tk::ClearBytes(str);
  return QVTK_OK;
}

QVTK_EXPORT int QVTK_CALL QVTK_BASE64_Decode(QVTK_CTX handle, const QVTK_BINSTR* input,
                                             QVTK_BINSTR* output) {
  Context* ctx = FromHandle(handle);
  if (ctx == nullptr || output == nullptr || !vrd::tk::IsWellFormed(input)) {
    return Fail(ctx, QVTK_ERR_INVALID_ARGUMENT, "Base64: bad argument");
  }
  const size_t in_len = static_cast<size_t>(input->length);
  unsigned char* block = nullptr;
  size_t out_len = 0;
  if (in_len > 0) {
    block = static_cast<unsigned char*>(std::malloc(in_len / 4 * 3 + 1));
    if (block == nullptr) return Fail(ctx, QVTK_ERR_NO_MEMORY, "Base64: out of memory");
    if (!vrd::tk::DecodeStrict(input->data, in_len, block, &out_len)) {
      std::free(block);
      return Fail(ctx, QVTK_ERR_BASE64, "Base64: not strict padded standard Base64");
    }
  }
  if (out_len == 0) {
    std::free(block);
    block = nullptr;
  }
  // Input and output may be one string: the input is read completely before
  // the output's old block is released.
  vrd::tk::AdoptBytes(output, block, static_cast<int32_t>(out_len));
  return QVTK_OK;
}

}  // extern "C"
