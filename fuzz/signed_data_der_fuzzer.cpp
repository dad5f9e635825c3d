// libFuzzer target: the toolkit's token splitter (SignedDataDer.h) against
// OpenSSL's own decoding of the whole token. Whenever the splitter splits,
// its certificate slices lie inside the input, what is left has no
// certificates field, and, when every slice is a certificate on its own, the
// rest decodes exactly when the whole token decodes, with the same content,
// content type and signer count: taking the certificates from the cache
// never changes what a token is.
#include <openssl/cms.h>
#include <openssl/err.h>
#include <openssl/x509.h>

#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "crypto/SignedDataDer.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

CMS_ContentInfo* Decode(const unsigned char* p, size_t n) {
  return d2i_CMS_ContentInfo(nullptr, &p, static_cast<long>(n));
}

bool IsOneCertificate(std::string_view der) {
  const unsigned char* p = reinterpret_cast<const unsigned char*>(der.data());
  X509* cert = d2i_X509(nullptr, &p, static_cast<long>(der.size()));
  const bool whole =
      cert != nullptr && p == reinterpret_cast<const unsigned char*>(der.data()) + der.size();
  X509_free(cert);
  return whole;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 20)) return 0;
  vrd::tk::SplitSignedData split;
  if (!vrd::tk::SplitCertificates(data, size, &split)) return 0;
  const char* begin = reinterpret_cast<const char*>(data);
  for (std::string_view slice : split.certificates) {
    Check(slice.data() >= begin && slice.data() + slice.size() <= begin + size);
  }
  vrd::tk::SplitSignedData again;
  const auto* rest = reinterpret_cast<const unsigned char*>(split.without_certificates.data());
  Check(!vrd::tk::SplitCertificates(rest, split.without_certificates.size(), &again));

  for (std::string_view slice : split.certificates) {
    if (!IsOneCertificate(slice)) {
      ERR_clear_error();
      return 0;
    }
  }
  CMS_ContentInfo* whole = Decode(data, size);
  CMS_ContentInfo* stripped = Decode(rest, split.without_certificates.size());
  Check((whole == nullptr) == (stripped == nullptr));
  if (whole != nullptr) {
    Check(OBJ_cmp(CMS_get0_type(whole), CMS_get0_type(stripped)) == 0);
  }
  if (whole != nullptr && OBJ_obj2nid(CMS_get0_type(whole)) == NID_pkcs7_signed) {
    const ASN1_OBJECT* type_a = CMS_get0_eContentType(whole);
    const ASN1_OBJECT* type_b = CMS_get0_eContentType(stripped);
    Check((type_a == nullptr) == (type_b == nullptr));
    if (type_a != nullptr) Check(OBJ_cmp(type_a, type_b) == 0);
    ASN1_OCTET_STRING** a = CMS_get0_content(whole);
    ASN1_OCTET_STRING** b = CMS_get0_content(stripped);
    Check((a == nullptr || *a == nullptr) == (b == nullptr || *b == nullptr));
    if (a != nullptr && *a != nullptr) Check(ASN1_OCTET_STRING_cmp(*a, *b) == 0);
    Check(sk_CMS_SignerInfo_num(CMS_get0_SignerInfos(whole)) ==
          sk_CMS_SignerInfo_num(CMS_get0_SignerInfos(stripped)));
  }
  CMS_ContentInfo_free(stripped);
  CMS_ContentInfo_free(whole);
  ERR_clear_error();
  return 0;
}
