// The toolkit context behind a QVTK_CTX handle, and the helpers every
// operation shares: failure recording, binary-string filling, text output and
// strict DER certificate parsing.
//
// Ownership: a Context owns every OpenSSL object it holds (through the
// holders of Holders.h); QVTK_API_Finish deletes it. Binary-string bytes are
// allocated with std::malloc and released only by ReplaceBytes/ClearBytes.
#ifndef VRD_TOOLKIT_OPENSSL_CONTEXT_H_
#define VRD_TOOLKIT_OPENSSL_CONTEXT_H_

#include <cstddef>
#include <cstdint>
#include <string>

#include "crypto/Holders.h"
#include "toolkit/qvtk.h"

namespace vrd::tk {

struct Context {
  CertStackPtr trusted;      // roots installed with QVTK_CERT_AddTrustedCert
  CertStackPtr ca_pubs;      // the CA set of QVTK_CERT_SetCaPubs
  CertStackPtr token_certs;  // certificates carried by the last token examined
  // The last token QVTK_CMS_ProcessSignedData verified, parsed, with its
  // bytes: QVTK_TSP_GetTokenInfo on the same bytes reads it instead of
  // parsing them again.
  std::string verified_token_der;
  CmsPtr verified_token;
  CertStackPtr verified_token_certs;  // its certificates, in order
  bool has_gen_time = false;          // genTime of the last token examined, when it was a TSTInfo
  int64_t gen_time = 0;               // seconds since 1970-01-01T00:00:00Z
  CertPtr loaded;                     // QVTK_CERT_Load's current certificate
  bool env_set = false;               // QVTK_CERT_SetVerifyEnv1 has been called
  int32_t env_mode = 0;
  int32_t env_option = 0;
  unsigned char env_flag = 0;
  int last_code = QVTK_OK;  // the last failure, for QVTK_API_GetErrInfo
  char last_error[512] = {0};
};

inline Context* FromHandle(QVTK_CTX handle) noexcept { return static_cast<Context*>(handle); }

// Records a failure in ctx (when not null): code, and `what` followed by the
// oldest reason on OpenSSL's error queue, if any. Always empties the queue.
// Returns code, so that callers can write `return Fail(ctx, code, "...")`.
[[nodiscard]] int Fail(Context* ctx, int code, const char* what) noexcept;

// A binary string is well formed when its length is not negative and a
// positive length comes with data.
bool IsWellFormed(const QVTK_BINSTR* s) noexcept;

// Replaces the bytes of s by a copy of n bytes (bytes may point into s's own
// block). QVTK_ERR_NO_MEMORY leaves s unchanged; lengths above INT32_MAX are
// QVTK_ERR_INVALID_ARGUMENT.
[[nodiscard]] int ReplaceBytes(QVTK_BINSTR* s, const unsigned char* bytes, size_t n) noexcept;
// Takes over block (std::malloc'ed, n bytes) as s's content.
void AdoptBytes(QVTK_BINSTR* s, unsigned char* block, int32_t n) noexcept;
void ClearBytes(QVTK_BINSTR* s) noexcept;

// Copies text (length bytes, no NUL needed) with a NUL into buffer, or
// returns QVTK_ERR_TEXT_TOO_LONG when length + 1 exceeds capacity (buffer
// untouched) and QVTK_ERR_INVALID_ARGUMENT for a null buffer or capacity < 1.
[[nodiscard]] int WriteText(const char* text, size_t length, int32_t capacity,
                            char* buffer) noexcept;

// Parses exactly one DER certificate filling all of s. QVTK_ERR_CERT_PARSE
// for anything else, trailing bytes included. Certificates are parsed with
// the toolkit's library context and shared through the per-thread cache
// (Caches.h).
[[nodiscard]] int ParseCertificate(Context* ctx, const QVTK_BINSTR* s, CertPtr* out) noexcept;

// Parses the DER certificate at *p (at most available bytes) and moves *p
// past it, as d2i_X509 does; null when there is none. Same context and
// cache as ParseCertificate.
CertPtr ParseCertificateAt(const unsigned char** p, long available) noexcept;

// A new empty certificate stack, or null when memory is short.
CertStackPtr NewCertStack() noexcept;

// Prints name as an RFC 4514 string (UTF-8, characters above U+007F kept
// as they are) into a new memory BIO; *text and *length then point into it.
[[nodiscard]] int PrintName(Context* ctx, const X509_NAME* name, BioPtr* bio, const char** text,
                            size_t* length) noexcept;

}  // namespace vrd::tk

#endif  // VRD_TOOLKIT_OPENSSL_CONTEXT_H_
