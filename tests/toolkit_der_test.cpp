// SplitCertificates (crypto/SignedDataDer.h): on real tokens it
// finds exactly the certificates OpenSSL finds, and what is left decodes to
// the same SignedData without them; every input of another shape is left
// whole; and DecodeSignedData without the certificates.
#include <gtest/gtest.h>
#include <openssl/cms.h>
#include <openssl/x509.h>

#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include "crypto/CertificateCache.h"
#include "crypto/SignedDataDer.h"

namespace {

std::string ReadPki(const char* name) {
  std::ifstream in(std::string(VRD_TEST_DATA_DIR) + "/pki/" + name, std::ios::binary);
  EXPECT_TRUE(in.good()) << name;
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

const unsigned char* Data(const std::string& s) {
  return reinterpret_cast<const unsigned char*>(s.data());
}

CMS_ContentInfo* Decode(const std::string& der) {
  const unsigned char* p = Data(der);
  return d2i_CMS_ContentInfo(nullptr, &p, static_cast<long>(der.size()));
}

std::vector<std::string> CertificatesOf(CMS_ContentInfo* cms) {
  std::vector<std::string> out;
  STACK_OF(X509)* certs = CMS_get1_certs(cms);
  for (int i = 0; i < sk_X509_num(certs); ++i) {
    unsigned char* der = nullptr;
    const int n = i2d_X509(sk_X509_value(certs, i), &der);
    out.emplace_back(reinterpret_cast<const char*>(der), static_cast<size_t>(n));
    OPENSSL_free(der);
  }
  sk_X509_pop_free(certs, X509_free);
  return out;
}

TEST(SignedDataDerTest, SplitsRealTokensLikeOpenSsl) {
  for (const char* name : {"token-sha256.der", "token-sha512.der", "token-expired.der",
                           "cms-data.der", "cms-two-signers.der"}) {
    SCOPED_TRACE(name);
    // Bytes after the object are ignored, as d2i ignores them.
    const std::string token = ReadPki(name) + std::string(4, '\0');
    vrd::tk::SplitSignedData split;
    ASSERT_TRUE(vrd::tk::SplitCertificates(Data(token), token.size(), &split));
    CMS_ContentInfo* whole = Decode(token);
    CMS_ContentInfo* rest = Decode(split.without_certificates);
    ASSERT_NE(whole, nullptr);
    ASSERT_NE(rest, nullptr);
    const std::vector<std::string> expected = CertificatesOf(whole);
    ASSERT_FALSE(expected.empty());
    ASSERT_EQ(split.certificates.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(split.certificates[i], expected[i]);
    EXPECT_TRUE(CertificatesOf(rest).empty());
    // The rest is the same SignedData: same content, same signer infos.
    ASN1_OCTET_STRING** a = CMS_get0_content(whole);
    ASN1_OCTET_STRING** b = CMS_get0_content(rest);
    ASSERT_TRUE(a != nullptr && b != nullptr && *a != nullptr && *b != nullptr);
    EXPECT_EQ(ASN1_OCTET_STRING_cmp(*a, *b), 0);
    EXPECT_EQ(sk_CMS_SignerInfo_num(CMS_get0_SignerInfos(whole)),
              sk_CMS_SignerInfo_num(CMS_get0_SignerInfos(rest)));
    // Re-encoded, it is the original minus the certificates field.
    EXPECT_LT(split.without_certificates.size(), token.size());
    CMS_ContentInfo_free(rest);
    CMS_ContentInfo_free(whole);
  }
}

TEST(SignedDataDerTest, OtherShapesAreLeftWhole) {
  const std::string token = ReadPki("token-sha256.der");
  std::string indefinite = token;
  indefinite[1] = static_cast<char>(0x80);  // BER indefinite length
  std::string wrong_tag = token;
  wrong_tag[0] = 0x31;
  std::string over_long = token;
  over_long[1] = static_cast<char>(0x85);  // five length octets
  struct Case {
    const char* name;
    std::string bytes;
  };
  const Case cases[] = {
      {"no certificates field", ReadPki("token-nocert.der")},
      {"empty", ""},
      {"truncated", token.substr(0, token.size() / 2)},
      {"indefinite length", indefinite},
      {"not a SEQUENCE", wrong_tag},
      {"five length octets", over_long},
      {"a certificate", ReadPki("tsa.der")},
      {"garbage", std::string(64, '\x30')},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    vrd::tk::SplitSignedData split;
    EXPECT_FALSE(vrd::tk::SplitCertificates(Data(c.bytes), c.bytes.size(), &split));
  }
  vrd::tk::SplitSignedData split;
  EXPECT_FALSE(vrd::tk::SplitCertificates(nullptr, 10, &split));
}

// A cache that counts what it is asked and keeps nothing.
class CountingCache final : public vrd::tk::CertificateCache {
 public:
  vrd::tk::CertPtr LookUp(std::string_view) noexcept override {
    ++asked;
    return nullptr;
  }
  void Keep(std::string_view, X509*) noexcept override { ++asked; }
  int asked = 0;
};

// Without certificates, a SignedData that splits is decoded without them
// and with the same signer infos; one that does not split is still decoded
// whole. The cache is asked about neither.
TEST(SignedDataDerTest, DecodingWithoutCertificates) {
  const std::string split_shape = ReadPki("cms-two-signers.der");
  // The same token with an indefinite outer length: BER, left to OpenSSL.
  const std::string token = ReadPki("token-sha256.der");
  const size_t header = (token[1] & 0x80) != 0 ? 2 + (token[1] & 0x7F) : 2;
  const std::string ber_shape =
      std::string("\x30\x80", 2) + token.substr(header) + std::string(2, '\0');
  const struct {
    const std::string* der;
    bool split;
  } cases[] = {{&split_shape, true}, {&ber_shape, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.split);
    CountingCache cache;
    vrd::tk::DecodeOptions options;
    options.certificates_alone = true;
    options.without_certificates = true;
    vrd::tk::DecodedSignedData out;
    ASSERT_EQ(vrd::tk::DecodeSignedData(nullptr, Data(*c.der), c.der->size(), cache, &out, options),
              vrd::tk::DecodeStatus::kDecoded);
    CMS_ContentInfo* whole = Decode(*c.der);
    ASSERT_NE(whole, nullptr);
    EXPECT_EQ(sk_CMS_SignerInfo_num(CMS_get0_SignerInfos(out.cms.get())),
              sk_CMS_SignerInfo_num(CMS_get0_SignerInfos(whole)));
    EXPECT_EQ(cache.asked, 0);
    EXPECT_EQ(sk_X509_num(out.certs.get()) == 0, c.split);
    CMS_ContentInfo_free(whole);
  }
}

}  // namespace
