// Certificate loading and naming, trust-anchor installation and chain
// verification (RFC 5280 path validation by OpenSSL's X509 store).
#include <openssl/asn1.h>
#include <openssl/err.h>
#include <openssl/x509v3.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <utility>

#ifdef _WIN32
#include <windows.h>
#endif

#include "crypto/Runtime.h"
#include "toolkit/openssl/Caches.h"
#include "toolkit/openssl/Context.h"
#include "toolkit/qvtk.h"

namespace vrd::tk {
namespace {

#ifdef _WIN32
// Subject names are UTF-8 inside OpenSSL; callers on Windows read texts in
// the process's ANSI code page.
int WriteAnsi(Context* ctx, const char* utf8, size_t length, int32_t capacity,
              char* buffer) noexcept {
  if (length == 0) return WriteText("", 0, capacity, buffer);
  if (length > static_cast<size_t>(INT32_MAX)) {
    return Fail(ctx, QVTK_ERR_TEXT_TOO_LONG, "name: too long");
  }
  const int in_length = static_cast<int>(length);
  const int wide_length = MultiByteToWideChar(CP_UTF8, 0, utf8, in_length, nullptr, 0);
  if (wide_length <= 0) return Fail(ctx, QVTK_ERR_INTERNAL, "name: not UTF-8");
  wchar_t* wide =
      static_cast<wchar_t*>(std::malloc(static_cast<size_t>(wide_length) * sizeof(wchar_t)));
  if (wide == nullptr) return Fail(ctx, QVTK_ERR_NO_MEMORY, "name: out of memory");
  MultiByteToWideChar(CP_UTF8, 0, utf8, in_length, wide, wide_length);
  const int ansi_length =
      WideCharToMultiByte(CP_ACP, 0, wide, wide_length, nullptr, 0, nullptr, nullptr);
  int status = QVTK_OK;
  if (ansi_length <= 0) {
    status = Fail(ctx, QVTK_ERR_INTERNAL, "name: no ANSI form");
  } else if (ansi_length >= capacity) {
    status = Fail(ctx, QVTK_ERR_TEXT_TOO_LONG, "name: text too long");
  } else {
    WideCharToMultiByte(CP_ACP, 0, wide, wide_length, buffer, ansi_length, nullptr, nullptr);
    buffer[ansi_length] = '\0';
  }
  std::free(wide);
  return status;
}
#endif

// Reads a DER SEQUENCE OF Certificate filling all of s.
int ParseCertificateSequence(Context* ctx, const QVTK_BINSTR* s, CertStackPtr* out) noexcept {
  if (!IsWellFormed(s) || s->length == 0) {
    return Fail(ctx, QVTK_ERR_CERT_PARSE, "CA set: empty or malformed input");
  }
  const unsigned char* p = s->data;
  long content_length = 0;
  int tag = 0;
  int xclass = 0;
  const int info = ASN1_get_object(&p, &content_length, &tag, &xclass, s->length);
  if ((info & 0x80) != 0 || (info & V_ASN1_CONSTRUCTED) == 0 || tag != V_ASN1_SEQUENCE ||
      xclass != V_ASN1_UNIVERSAL || info == 0x21 /* indefinite length: not DER */) {
    return Fail(ctx, QVTK_ERR_CERT_PARSE, "CA set: not a DER SEQUENCE");
  }
  const unsigned char* end = p + content_length;
  if (end != s->data + s->length) {
    return Fail(ctx, QVTK_ERR_CERT_PARSE, "CA set: bytes after the SEQUENCE");
  }
  CertStackPtr certs = NewCertStack();
  if (certs == nullptr) return Fail(ctx, QVTK_ERR_NO_MEMORY, "CA set: out of memory");
  while (p < end) {
    CertPtr cert = ParseCertificateAt(&p, end - p);
    if (cert == nullptr) return Fail(ctx, QVTK_ERR_CERT_PARSE, "CA set: not a certificate");
    if (sk_X509_push(certs.get(), cert.get()) <= 0) {
      return Fail(ctx, QVTK_ERR_NO_MEMORY, "CA set: out of memory");
    }
    cert.release();  // the stack owns it now
  }
  *out = std::move(certs);
  return QVTK_OK;
}

int MapVerifyError(int error) noexcept {
  switch (error) {
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
    case X509_V_ERR_CERT_UNTRUSTED:
    case X509_V_ERR_CERT_REJECTED:
      return QVTK_ERR_CERT_UNTRUSTED;
    case X509_V_ERR_CERT_HAS_EXPIRED:
      return QVTK_ERR_CERT_EXPIRED;
    case X509_V_ERR_CERT_NOT_YET_VALID:
      return QVTK_ERR_CERT_NOT_YET_VALID;
    case X509_V_ERR_CERT_SIGNATURE_FAILURE:
    case X509_V_ERR_UNABLE_TO_DECRYPT_CERT_SIGNATURE:
    case X509_V_ERR_UNABLE_TO_DECODE_ISSUER_PUBLIC_KEY:
      return QVTK_ERR_CERT_CHAIN_SIGNATURE;
    default:
      return QVTK_ERR_CERT_CHAIN_OTHER;
  }
}

// One path validation of cert; at_time < 0 means now. Returns the X509_V_*
// result, or -1 when OpenSSL could not run the validation at all. The store
// of trusted roots comes from the per-thread cache; it holds exactly the
// context's roots.
int RunVerification(const Context& ctx, X509* cert, int64_t at_time, int* depth) noexcept {
  StorePtr store = StoreForRoots(ctx.trusted.get());
  StoreCtxPtr sctx(X509_STORE_CTX_new_ex(LibraryContext(), nullptr));
  BorrowedStackPtr untrusted(sk_X509_new_null());
  if (store == nullptr || sctx == nullptr || untrusted == nullptr) return -1;
  const STACK_OF(X509) * pools[2] = {ctx.ca_pubs.get(), ctx.token_certs.get()};
  for (const STACK_OF(X509) * pool : pools) {
    for (int i = 0; pool != nullptr && i < sk_X509_num(pool); ++i) {
      if (sk_X509_push(untrusted.get(), sk_X509_value(pool, i)) <= 0) return -1;
    }
  }
  if (X509_STORE_CTX_init(sctx.get(), store.get(), cert, untrusted.get()) != 1) return -1;
  if (at_time >= 0) {
    X509_VERIFY_PARAM_set_time(X509_STORE_CTX_get0_param(sctx.get()), static_cast<time_t>(at_time));
  }
  const int ok = X509_verify_cert(sctx.get());
  *depth = X509_STORE_CTX_get_error_depth(sctx.get());
  if (ok == 1) return X509_V_OK;
  const int error = X509_STORE_CTX_get_error(sctx.get());
  return error == X509_V_OK ? -1 : error;
}

int FailVerification(Context* ctx, int error, int depth) noexcept {
  if (error < 0) return Fail(ctx, QVTK_ERR_INTERNAL, "verify: cannot run path validation");
  char what[256];
  std::snprintf(what, sizeof what, "verify: %s (depth %d)", X509_verify_cert_error_string(error),
                depth);
  return Fail(ctx, MapVerifyError(error), what);
}

}  // namespace
}  // namespace vrd::tk

using vrd::tk::Context;
using vrd::tk::Fail;
using vrd::tk::FromHandle;

extern "C" {

QVTK_EXPORT int QVTK_CALL QVTK_CERT_Load(QVTK_CTX handle, const QVTK_BINSTR* cert) {
  Context* ctx = FromHandle(handle);
  if (ctx == nullptr) return QVTK_ERR_INVALID_ARGUMENT;
  // A failed load leaves no certificate: a later name never belongs to an
  // earlier one.
  ctx->loaded.reset();
  return vrd::tk::ParseCertificate(ctx, cert, &ctx->loaded);
}

QVTK_EXPORT int QVTK_CALL QVTK_CERT_GetSubjectName(QVTK_CTX handle, int32_t capacity,
                                                   char* buffer) {
  Context* ctx = FromHandle(handle);
  if (ctx == nullptr || buffer == nullptr || capacity < 1) {
    return Fail(ctx, QVTK_ERR_INVALID_ARGUMENT, "name: bad argument");
  }
  if (ctx->loaded == nullptr) return Fail(ctx, QVTK_ERR_CERT_NOT_LOADED, "name: no certificate");
  vrd::tk::BioPtr bio;
  const char* text = nullptr;
  size_t length = 0;
  const int status =
      vrd::tk::PrintName(ctx, X509_get_subject_name(ctx->loaded.get()), &bio, &text, &length);
  if (status != QVTK_OK) return status;
#ifdef _WIN32
  return vrd::tk::WriteAnsi(ctx, text, length, capacity, buffer);
#else
  const int written = vrd::tk::WriteText(text, length, capacity, buffer);
  return written == QVTK_OK ? written : Fail(ctx, written, "name: text too long");
#endif
}

QVTK_EXPORT int QVTK_CALL QVTK_CERT_Unload(QVTK_CTX handle) {
  Context* ctx = FromHandle(handle);
  if (ctx == nullptr) return QVTK_ERR_INVALID_ARGUMENT;
  ctx->loaded.reset();
  return QVTK_OK;
}

QVTK_EXPORT int QVTK_CALL QVTK_CERT_AddTrustedCert(QVTK_CTX handle, const QVTK_BINSTR* cert) {
  Context* ctx = FromHandle(handle);
  if (ctx == nullptr) return QVTK_ERR_INVALID_ARGUMENT;
  vrd::tk::CertPtr parsed;
  const int status = vrd::tk::ParseCertificate(ctx, cert, &parsed);
  if (status != QVTK_OK) return status;
  if (ctx->trusted == nullptr) ctx->trusted = vrd::tk::NewCertStack();
  if (ctx->trusted == nullptr || sk_X509_push(ctx->trusted.get(), parsed.get()) <= 0) {
    return Fail(ctx, QVTK_ERR_NO_MEMORY, "trusted root: out of memory");
  }
  parsed.release();  // the stack owns it now
  return QVTK_OK;
}

QVTK_EXPORT int QVTK_CALL QVTK_CERT_SetCaPubs(QVTK_CTX handle, const QVTK_BINSTR* ca_pubs) {
  Context* ctx = FromHandle(handle);
  if (ctx == nullptr) return QVTK_ERR_INVALID_ARGUMENT;
  vrd::tk::CertStackPtr certs;
  const int status = vrd::tk::ParseCertificateSequence(ctx, ca_pubs, &certs);
  if (status != QVTK_OK) return status;
  ctx->ca_pubs = std::move(certs);
  return QVTK_OK;
}

QVTK_EXPORT int QVTK_CALL QVTK_CERT_SetVerifyEnv1(QVTK_CTX handle, int32_t mode, int32_t option,
                                                  unsigned char flag, intptr_t /*reserved*/) {
  Context* ctx = FromHandle(handle);
  if (ctx == nullptr) return QVTK_ERR_INVALID_ARGUMENT;
  ctx->env_set = true;
  ctx->env_mode = mode;
  ctx->env_option = option;
  ctx->env_flag = flag;
  return QVTK_OK;
}

QVTK_EXPORT int QVTK_CALL QVTK_CERT_Verify(QVTK_CTX handle, const QVTK_BINSTR* cert,
                                           int32_t /*mode*/, int32_t /*option*/,
                                           unsigned char /*flag*/, void* /*reserved1*/,
                                           void* /*reserved2*/) {
  Context* ctx = FromHandle(handle);
  if (ctx == nullptr) return QVTK_ERR_INVALID_ARGUMENT;
  vrd::tk::CertPtr parsed;
  const int status = vrd::tk::ParseCertificate(ctx, cert, &parsed);
  if (status != QVTK_OK) return status;
  // RFC 3161 section 2.3: a time-stamping authority's certificate carries
  // id-kp-timeStamping.
  if ((X509_get_extension_flags(parsed.get()) & EXFLAG_XKUSAGE) == 0 ||
      (X509_get_extended_key_usage(parsed.get()) & XKU_TIMESTAMP) == 0) {
    return Fail(ctx, QVTK_ERR_CERT_NO_TSA_EKU, "verify: no id-kp-timeStamping key usage");
  }
  int depth = 0;
  const int now = vrd::tk::RunVerification(*ctx, parsed.get(), -1, &depth);
  if (now == X509_V_OK) {
    ERR_clear_error();
    return QVTK_OK;
  }
  if (now != X509_V_ERR_CERT_HAS_EXPIRED || !ctx->has_gen_time) {
    return vrd::tk::FailVerification(ctx, now, depth);
  }
  // Archived tokens: a chain that was whole when the token was made stays
  // acceptable after a certificate in it has run out.
  const int then = vrd::tk::RunVerification(*ctx, parsed.get(), ctx->gen_time, &depth);
  if (then != X509_V_OK) return vrd::tk::FailVerification(ctx, then, depth);
  ERR_clear_error();
  return QVTK_CERT_EXPIRED_SINCE_TSA;
}

}  // extern "C"
