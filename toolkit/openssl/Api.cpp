// Context lifecycle, error text, binary strings and Base64 decoding.
#include <openssl/crypto.h>
#include <openssl/err.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "crypto/Base64.h"
#include "crypto/Runtime.h"
#include "toolkit/openssl/Context.h"
#include "toolkit/qvtk.h"

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
    block = static_cast<unsigned char*>(std::malloc(vrd::tk::Base64DecodedBound(in_len) + 1));
    if (block == nullptr) return Fail(ctx, QVTK_ERR_NO_MEMORY, "Base64: out of memory");
    if (!vrd::tk::DecodeBase64Strict(input->data, in_len, block, &out_len)) {
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
