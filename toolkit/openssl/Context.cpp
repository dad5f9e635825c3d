#include "toolkit/openssl/Context.h"

#include <openssl/asn1.h>
#include <openssl/err.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string_view>
#include <utility>

#include "crypto/Runtime.h"
#include "toolkit/openssl/Caches.h"

namespace vrd::tk {
namespace {

// d2i_X509 in the toolkit's library context: the public key is decoded
// through the toolkit's providers. Like d2i_X509 into a new object, the
// extensions are not examined here (invalid ones show when they are used).
CertPtr DecodeCertificate(const unsigned char** p, long available) noexcept {
  OSSL_LIB_CTX* library = LibraryContext();
  if (library == nullptr) return nullptr;
  X509* cert = X509_new_ex(library, nullptr);
  if (cert == nullptr) return nullptr;
  // On failure OpenSSL frees the object and sets the pointer to null.
  if (ASN1_item_d2i_ex(reinterpret_cast<ASN1_VALUE**>(&cert), p, available, ASN1_ITEM_rptr(X509),
                       library, nullptr) == nullptr) {
    X509_free(cert);
    return nullptr;
  }
  return CertPtr(cert);
}

// The length of the DER TLV at p, header included, when it has a definite
// length within available bytes.
std::optional<long> DefiniteLength(const unsigned char* p, long available) noexcept {
  const unsigned char* content = p;
  long content_length = 0;
  int tag = 0;
  int xclass = 0;
  const int info = ASN1_get_object(&content, &content_length, &tag, &xclass, available);
  if ((info & 0x80) != 0 || info == 0x21) {
    ERR_clear_error();
    return std::nullopt;
  }
  return static_cast<long>(content - p) + content_length;
}

}  // namespace

CertPtr ParseCertificateAt(const unsigned char** p, long available) noexcept {
  const std::optional<long> length = DefiniteLength(*p, available);
  if (length.has_value()) {
    const std::string_view der(reinterpret_cast<const char*>(*p), static_cast<size_t>(*length));
    CertPtr cached = LookUpCertificate(der);
    if (cached != nullptr) {
      *p += *length;
      return cached;
    }
  }
  const unsigned char* start = *p;
  CertPtr cert = DecodeCertificate(p, available);
  // Only a parse that took exactly the TLV is cached under its bytes.
  if (cert != nullptr && length.has_value() && *p - start == *length) {
    KeepCertificate(
        std::string_view(reinterpret_cast<const char*>(start), static_cast<size_t>(*length)),
        cert.get());
  }
  return cert;
}

int Fail(Context* ctx, int code, const char* what) noexcept {
  if (ctx != nullptr) {
    ctx->last_code = code;
    const unsigned long err = ERR_peek_error();
    if (err != 0) {
      char reason[256];
      ERR_error_string_n(err, reason, sizeof reason);
      std::snprintf(ctx->last_error, sizeof ctx->last_error, "%s (%s)", what, reason);
    } else {
      std::snprintf(ctx->last_error, sizeof ctx->last_error, "%s", what);
    }
  }
  ERR_clear_error();
  return code;
}

bool IsWellFormed(const QVTK_BINSTR* s) noexcept {
  return s != nullptr && s->length >= 0 && (s->length == 0 || s->data != nullptr);
}

int ReplaceBytes(QVTK_BINSTR* s, const unsigned char* bytes, size_t n) noexcept {
  if (n > static_cast<size_t>(INT32_MAX)) return QVTK_ERR_INVALID_ARGUMENT;
  unsigned char* block = nullptr;
  if (n > 0) {
    block = static_cast<unsigned char*>(std::malloc(n));
    if (block == nullptr) return QVTK_ERR_NO_MEMORY;
    std::memcpy(block, bytes, n);
  }
  AdoptBytes(s, block, static_cast<int32_t>(n));
  return QVTK_OK;
}

void AdoptBytes(QVTK_BINSTR* s, unsigned char* block, int32_t n) noexcept {
  std::free(s->data);
  s->data = block;
  s->length = block != nullptr ? n : 0;
}

void ClearBytes(QVTK_BINSTR* s) noexcept { AdoptBytes(s, nullptr, 0); }

int WriteText(const char* text, size_t length, int32_t capacity, char* buffer) noexcept {
  if (buffer == nullptr || capacity < 1) return QVTK_ERR_INVALID_ARGUMENT;
  if (length >= static_cast<size_t>(capacity)) return QVTK_ERR_TEXT_TOO_LONG;
  if (length > 0) std::memcpy(buffer, text, length);
  buffer[length] = '\0';
  return QVTK_OK;
}

int ParseCertificate(Context* ctx, const QVTK_BINSTR* s, CertPtr* out) noexcept {
  if (!IsWellFormed(s)) return Fail(ctx, QVTK_ERR_INVALID_ARGUMENT, "malformed binary string");
  const unsigned char* p = s->data;
  CertPtr cert = ParseCertificateAt(&p, s->length);
  if (cert == nullptr) return Fail(ctx, QVTK_ERR_CERT_PARSE, "not a DER certificate");
  if (p != s->data + s->length) {
    return Fail(ctx, QVTK_ERR_CERT_PARSE, "bytes after the certificate");
  }
  *out = std::move(cert);
  return QVTK_OK;
}

CertStackPtr NewCertStack() noexcept { return CertStackPtr(sk_X509_new_null()); }

int PrintName(Context* ctx, const X509_NAME* name, BioPtr* bio, const char** text,
              size_t* length) noexcept {
  BioPtr out(BIO_new(BIO_s_mem()));
  if (out == nullptr) return Fail(ctx, QVTK_ERR_NO_MEMORY, "name: out of memory");
  const unsigned long flags = XN_FLAG_RFC2253 & ~static_cast<unsigned long>(ASN1_STRFLGS_ESC_MSB);
  if (X509_NAME_print_ex(out.get(), name, 0, flags) < 0) {
    return Fail(ctx, QVTK_ERR_INTERNAL, "name: cannot print");
  }
  char* data = nullptr;
  const long n = BIO_get_mem_data(out.get(), &data);
  *text = n > 0 ? data : "";
  *length = n > 0 ? static_cast<size_t>(n) : 0;
  *bio = std::move(out);
  return QVTK_OK;
}

}  // namespace vrd::tk
