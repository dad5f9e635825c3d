// The OpenSSL-backed toolkit against real tokens and certificates from
// tests/data/pki (made by tests/data/make-test-pki.sh): every operation's
// success and failure paths. Expected values are computed here with OpenSSL
// from the same files, not copied from the toolkit's output.
#include <gtest/gtest.h>
#include <openssl/asn1.h>
#include <openssl/cms.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/ts.h>
#include <openssl/x509.h>

#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#if defined(_WIN32)
#include <windows.h>
#endif

#include "api/ResultCodes.h"
#include "api/TrustAnchors.h"
#include "toolkit/qvtk.h"

namespace {

std::string ReadPki(const char* name) {
  std::ifstream in(std::string(VRD_TEST_DATA_DIR) + "/pki/" + name, std::ios::binary);
  EXPECT_TRUE(in.good()) << name;
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string Hex(const unsigned char* p, size_t n) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out;
  for (size_t i = 0; i < n; ++i) {
    out += kDigits[p[i] >> 4];
    out += kDigits[p[i] & 15];
  }
  return out;
}

std::string DigestHex(const char* md_name, const std::string& data) {
  unsigned char md[EVP_MAX_MD_SIZE];
  unsigned int n = 0;
  EXPECT_EQ(EVP_Digest(data.data(), data.size(), md, &n, EVP_get_digestbyname(md_name), nullptr),
            1);
  return Hex(md, n);
}

// A toolkit binary string, created and deleted with the toolkit.
class Bin {
 public:
  Bin() { EXPECT_EQ(QVTK_BINSTR_Create(&s_), 0); }
  explicit Bin(const std::string& bytes) : Bin() { Set(bytes); }
  ~Bin() { EXPECT_EQ(QVTK_BINSTR_Delete(&s_), 0); }
  Bin(const Bin&) = delete;
  Bin& operator=(const Bin&) = delete;
  void Set(const std::string& bytes) {
    ASSERT_EQ(QVTK_BINSTR_SetData(bytes.data(), static_cast<int32_t>(bytes.size()), &s_), 0);
  }
  std::string Bytes() const {
    return s_.length > 0
               ? std::string(reinterpret_cast<const char*>(s_.data), static_cast<size_t>(s_.length))
               : std::string();
  }
  QVTK_BINSTR* get() { return &s_; }

 private:
  QVTK_BINSTR s_;
};

// One toolkit context for the test's lifetime.
class Ctx {
 public:
  Ctx() { EXPECT_EQ(QVTK_API_Init(&ctx_, "."), 0); }
  ~Ctx() {
    if (ctx_ != nullptr) {
      EXPECT_EQ(QVTK_API_Finish(&ctx_), 0);
    }
  }
  Ctx(const Ctx&) = delete;
  Ctx& operator=(const Ctx&) = delete;
  QVTK_CTX get() const { return ctx_; }
  std::string ErrInfo() const {
    char buffer[4096];
    EXPECT_EQ(QVTK_API_GetErrInfo(ctx_, sizeof buffer, buffer), 0);
    return buffer;
  }

 private:
  QVTK_CTX ctx_ = nullptr;
};

int Process(const Ctx& ctx, const std::string& token, std::string* content = nullptr,
            int32_t* type = nullptr) {
  Bin in(token);
  Bin out;
  int32_t t = -1;
  const int status = QVTK_CMS_ProcessSignedData(ctx.get(), 0, in.get(), out.get(), &t);
  if (content != nullptr) *content = out.Bytes();
  if (type != nullptr) *type = t;
  return status;
}

struct TokenInfo {
  char text[6][1024];
  std::string cert;
};

int GetInfo(const Ctx& ctx, const std::string& token, TokenInfo* info, int32_t capacity = 1024) {
  Bin in(token);
  Bin cert;
  char(&t)[6][1024] = info->text;
  const int status = QVTK_TSP_GetTokenInfo(ctx.get(), in.get(), capacity, t[0], t[1], t[2], t[3],
                                           t[4], t[5], cert.get());
  info->cert = cert.Bytes();
  return status;
}

// Replaces the first occurrence of `from` in `s` by `to` (same length).
bool ReplaceOnce(std::string* s, const std::string& from, const std::string& to) {
  const size_t at = s->find(from);
  if (at == std::string::npos || from.size() != to.size()) return false;
  s->replace(at, from.size(), to);
  return true;
}

std::string Unhex(const std::string& hex) {
  std::string out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) {
    out += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
  }
  return out;
}

// ---------------------------------------------------------------- context

TEST(ToolkitApiTest, InitFinishAndErrInfo) {
  EXPECT_EQ(QVTK_API_Init(nullptr, "."), QVTK_ERR_INVALID_ARGUMENT);
  EXPECT_EQ(QVTK_API_Finish(nullptr), QVTK_ERR_INVALID_ARGUMENT);
  QVTK_CTX ctx = nullptr;
  EXPECT_EQ(QVTK_API_Finish(&ctx), QVTK_ERR_INVALID_ARGUMENT);
  ASSERT_EQ(QVTK_API_Init(&ctx, "."), 0);
  ASSERT_NE(ctx, nullptr);
  char buffer[1024];
  ASSERT_EQ(QVTK_API_GetErrInfo(ctx, sizeof buffer, buffer), 0);
  EXPECT_STREQ(buffer, "0: no failure");
  QVTK_BINSTR s;
  ASSERT_EQ(QVTK_BINSTR_Create(&s), 0);
  EXPECT_EQ(QVTK_CERT_Load(ctx, &s), QVTK_ERR_CERT_PARSE);
  ASSERT_EQ(QVTK_API_GetErrInfo(ctx, sizeof buffer, buffer), 0);
  EXPECT_EQ(std::strncmp(buffer, "1401: ", 6), 0) << buffer;
  EXPECT_EQ(QVTK_API_GetErrInfo(ctx, 6, buffer), QVTK_ERR_TEXT_TOO_LONG);
  EXPECT_EQ(QVTK_API_GetErrInfo(ctx, 0, buffer), QVTK_ERR_INVALID_ARGUMENT);
  EXPECT_EQ(QVTK_API_GetErrInfo(nullptr, sizeof buffer, buffer), QVTK_ERR_INVALID_ARGUMENT);
  EXPECT_EQ(QVTK_BINSTR_Delete(&s), 0);
  EXPECT_EQ(QVTK_API_Finish(&ctx), 0);
  EXPECT_EQ(ctx, nullptr);
}

// ---------------------------------------------------------- binary strings

// The version query reports the crypto library loaded at run time, and keeps
// the toolkit's buffer rule: a text that does not fit is an error, never cut.
TEST(ToolkitApiTest, GetVersionReportsTheRuntimeCryptoLibrary) {
  const std::string runtime = OpenSSL_version(OPENSSL_VERSION);
  const int32_t exact = static_cast<int32_t>(runtime.size()) + 1;
  struct Case {
    int32_t capacity;
    bool null_buffer;
    int expected;
  };
  const Case cases[] = {
      {exact, false, QVTK_OK},
      {256, false, QVTK_OK},
      {exact - 1, false, QVTK_ERR_TEXT_TOO_LONG},
      {1, false, QVTK_ERR_TEXT_TOO_LONG},
      {0, false, QVTK_ERR_INVALID_ARGUMENT},
      {-1, false, QVTK_ERR_INVALID_ARGUMENT},
      {256, true, QVTK_ERR_INVALID_ARGUMENT},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.capacity);
    std::vector<char> buffer(256, 'x');
    EXPECT_EQ(QVTK_API_GetVersion(c.capacity, c.null_buffer ? nullptr : buffer.data()), c.expected);
    if (c.expected == QVTK_OK) {
      EXPECT_EQ(std::string(buffer.data()), runtime);
    }
  }
  EXPECT_EQ(runtime.compare(0, 10, "OpenSSL 3."), 0) << runtime;
}

TEST(ToolkitBinstrTest, SetDataCopiesAndValidates) {
  Bin s;
  EXPECT_EQ(s.get()->data, nullptr);
  EXPECT_EQ(s.get()->length, 0);
  char bytes[] = "abcdef";
  ASSERT_EQ(QVTK_BINSTR_SetData(bytes, 6, s.get()), 0);
  bytes[0] = 'X';
  EXPECT_EQ(s.Bytes(), "abcdef");
  // From its own block.
  ASSERT_EQ(QVTK_BINSTR_SetData(s.get()->data + 2, 3, s.get()), 0);
  EXPECT_EQ(s.Bytes(), "cde");
  EXPECT_EQ(QVTK_BINSTR_SetData(bytes, -1, s.get()), QVTK_ERR_INVALID_ARGUMENT);
  EXPECT_EQ(QVTK_BINSTR_SetData(nullptr, 3, s.get()), QVTK_ERR_INVALID_ARGUMENT);
  EXPECT_EQ(QVTK_BINSTR_SetData(bytes, 3, nullptr), QVTK_ERR_INVALID_ARGUMENT);
  EXPECT_EQ(s.Bytes(), "cde");
  ASSERT_EQ(QVTK_BINSTR_SetData(nullptr, 0, s.get()), 0);
  EXPECT_EQ(s.get()->length, 0);
  EXPECT_EQ(QVTK_BINSTR_Create(nullptr), QVTK_ERR_INVALID_ARGUMENT);
  EXPECT_EQ(QVTK_BINSTR_Delete(nullptr), QVTK_ERR_INVALID_ARGUMENT);
}

// ------------------------------------------------------------------ Base64

TEST(ToolkitBase64Test, StrictDecoding) {
  struct Case {
    const char* input;
    int status;
    const char* output;
  };
  const Case cases[] = {
      {"", 0, ""},
      {"TWFu", 0, "Man"},
      {"TWE=", 0, "Ma"},
      {"TQ==", 0, "M"},
      {"TWFuTWFu", 0, "ManMan"},
      {"+/+/", 0, "\xfb\xff\xbf"},
      {"TWF", QVTK_ERR_BASE64, nullptr},   // not whole groups
      {"TQ", QVTK_ERR_BASE64, nullptr},    // padding missing
      {"TW=u", QVTK_ERR_BASE64, nullptr},  // data after "="
      {"T===", QVTK_ERR_BASE64, nullptr},  // too much padding
      {"====", QVTK_ERR_BASE64, nullptr},
      {"TQ==TQ==", QVTK_ERR_BASE64, nullptr},  // padding inside
      {"TWFu\n", QVTK_ERR_BASE64, nullptr},    // line break
      {"TW Fu", QVTK_ERR_BASE64, nullptr},
      {"TWE-", QVTK_ERR_BASE64, nullptr},  // URL-safe alphabet
      {"TWE_", QVTK_ERR_BASE64, nullptr},
      {"TR==", QVTK_ERR_BASE64, nullptr},  // padding bits not zero
      {"TWF=", QVTK_ERR_BASE64, nullptr},
  };
  Ctx ctx;
  for (const Case& c : cases) {
    Bin in(c.input);
    Bin out("previous");
    EXPECT_EQ(QVTK_BASE64_Decode(ctx.get(), in.get(), out.get()), c.status) << c.input;
    if (c.output != nullptr) {
      EXPECT_EQ(out.Bytes(), c.output) << c.input;
    } else {
      EXPECT_EQ(out.Bytes(), "previous") << c.input;
    }
    // In place gives the same.
    Bin same(c.input);
    EXPECT_EQ(QVTK_BASE64_Decode(ctx.get(), same.get(), same.get()), c.status) << c.input;
    if (c.output != nullptr) {
      EXPECT_EQ(same.Bytes(), c.output) << c.input;
    }
  }
  Bin out;
  EXPECT_EQ(QVTK_BASE64_Decode(nullptr, out.get(), out.get()), QVTK_ERR_INVALID_ARGUMENT);
  EXPECT_EQ(QVTK_BASE64_Decode(ctx.get(), nullptr, out.get()), QVTK_ERR_INVALID_ARGUMENT);
}

TEST(ToolkitBase64Test, RoundTripsOpenSslEncoding) {
  Ctx ctx;
  const std::string der = ReadPki("token-sha256.der");
  for (size_t n : {size_t{1}, size_t{2}, size_t{3}, size_t{100}, der.size()}) {
    const std::string data = der.substr(0, n);
    std::vector<unsigned char> text(4 * ((n + 2) / 3) + 1);
    const int len = EVP_EncodeBlock(
        text.data(), reinterpret_cast<const unsigned char*>(data.data()), static_cast<int>(n));
    Bin s(std::string(reinterpret_cast<const char*>(text.data()), static_cast<size_t>(len)));
    ASSERT_EQ(QVTK_BASE64_Decode(ctx.get(), s.get(), s.get()), 0) << n;
    EXPECT_EQ(s.Bytes(), data) << n;
  }
}

// --------------------------------------------------------------------- CMS

TEST(ToolkitCmsTest, ValidSignedDataVerifies) {
  struct Case {
    const char* file;
    int32_t type;
  };
  const Case cases[] = {
      {"token-sha256.der", 1},  {"token-sha512.der", 1},    {"token-sha1.der", 1},
      {"token-expired.der", 1}, {"token-noeku.der", 1},     {"token-selfsigned.der", 1},
      {"cms-data.der", 0},      {"cms-two-signers.der", 0}, {"cms-empty.der", 0},
  };
  for (const Case& c : cases) {
    Ctx ctx;
    const std::string token = ReadPki(c.file);
    std::string content;
    int32_t type = -1;
    ASSERT_EQ(Process(ctx, token, &content, &type), 0) << c.file << ": " << ctx.ErrInfo();
    EXPECT_EQ(type, c.type) << c.file;
    // The content output is the encapsulated content, as OpenSSL reads it.
    const unsigned char* p = reinterpret_cast<const unsigned char*>(token.data());
    std::unique_ptr<CMS_ContentInfo, decltype(&CMS_ContentInfo_free)> cms(
        d2i_CMS_ContentInfo(nullptr, &p, static_cast<long>(token.size())), CMS_ContentInfo_free);
    ASSERT_NE(cms, nullptr);
    const ASN1_OCTET_STRING* econtent = *CMS_get0_content(cms.get());
    EXPECT_EQ(content, std::string(reinterpret_cast<const char*>(econtent->data),
                                   static_cast<size_t>(econtent->length)))
        << c.file;
    if (c.type == 0) {
      EXPECT_EQ(content, std::strcmp(c.file, "cms-empty.der") == 0 ? "" : ReadPki("content.txt"));
    }
  }
}

TEST(ToolkitCmsTest, TrailingBytesAreIgnored) {
  Ctx ctx;
  const std::string token = ReadPki("token-sha256.der");
  EXPECT_EQ(Process(ctx, token + std::string(4, '\0')), 0);
  EXPECT_EQ(Process(ctx, token + "garbage after the object"), 0);
}

TEST(ToolkitCmsTest, DamagedOrUnverifiableSignedDataFails) {
  const std::string token = ReadPki("token-sha256.der");
  const std::string imprint = Unhex(DigestHex("SHA256", ReadPki("content.txt")));

  std::string bad_signature = token;
  bad_signature.back() = static_cast<char>(bad_signature.back() ^ 0x01);

  std::string bad_content = token;
  std::string changed = imprint;
  changed[5] = static_cast<char>(changed[5] ^ 0x80);
  ASSERT_TRUE(ReplaceOnce(&bad_content, imprint, changed));

  // Same key, issuer and serial, other validity: the signature and the
  // signer lookup still work, only the ESS hash no longer names the cert.
  std::string wrong_ess = token;
  ASSERT_TRUE(ReplaceOnce(&wrong_ess, ReadPki("tsa.der"), ReadPki("tsa-twin.der")));

  std::string second_signer_bad = ReadPki("cms-two-signers.der");
  second_signer_bad.back() = static_cast<char>(second_signer_bad.back() ^ 0x01);

  struct Case {
    const char* name;
    std::string bytes;
    int status;
  };
  const Case cases[] = {
      {"tampered signature", bad_signature, QVTK_ERR_CMS_SIGNATURE},
      {"tampered content", bad_content, QVTK_ERR_CMS_DIGEST},
      {"wrong ESS certificate", wrong_ess, QVTK_ERR_CMS_ESS},
      {"no ESS attribute", ReadPki("token-noess.der"), QVTK_ERR_CMS_ESS},
      {"one of two SignerInfos bad", second_signer_bad, QVTK_ERR_CMS_SIGNATURE},
      {"no certificates", ReadPki("token-nocert.der"), QVTK_ERR_CMS_NO_SIGNER_CERT},
      {"truncated", token.substr(0, token.size() / 2), QVTK_ERR_CMS_PARSE},
      {"a certificate", ReadPki("tsa.der"), QVTK_ERR_CMS_PARSE},
      {"garbage", std::string("\x30\x03\x02\x01\x01", 5), QVTK_ERR_CMS_PARSE},
      {"empty", std::string(), QVTK_ERR_CMS_PARSE},
  };
  for (const Case& c : cases) {
    Ctx ctx;
    std::string content = "untouched";
    EXPECT_EQ(Process(ctx, c.bytes, &content), c.status) << c.name << ": " << ctx.ErrInfo();
    EXPECT_TRUE(content.empty()) << c.name;  // the output string keeps its (empty) state
    EXPECT_NE(ctx.ErrInfo().find(std::to_string(c.status)), std::string::npos) << c.name;
  }
}

TEST(ToolkitCmsTest, BadArguments) {
  Ctx ctx;
  Bin in(ReadPki("token-sha256.der"));
  Bin out;
  int32_t type = 0;
  EXPECT_EQ(QVTK_CMS_ProcessSignedData(nullptr, 0, in.get(), out.get(), &type),
            QVTK_ERR_INVALID_ARGUMENT);
  EXPECT_EQ(QVTK_CMS_ProcessSignedData(ctx.get(), 0, in.get(), nullptr, &type),
            QVTK_ERR_INVALID_ARGUMENT);
  EXPECT_EQ(QVTK_CMS_ProcessSignedData(ctx.get(), 0, nullptr, out.get(), &type),
            QVTK_ERR_CMS_PARSE);
  // The type output is optional.
  EXPECT_EQ(QVTK_CMS_ProcessSignedData(ctx.get(), 0, in.get(), out.get(), nullptr), 0);
}

// --------------------------------------------------------------------- TSP

// genTime of a token as RFC 3339 text, read with OpenSSL's TS parser.
std::string ExpectedGenTime(const std::string& token) {
  const unsigned char* p = reinterpret_cast<const unsigned char*>(token.data());
  std::unique_ptr<PKCS7, decltype(&PKCS7_free)> p7(
      d2i_PKCS7(nullptr, &p, static_cast<long>(token.size())), PKCS7_free);
  EXPECT_NE(p7, nullptr);
  std::unique_ptr<TS_TST_INFO, decltype(&TS_TST_INFO_free)> info(PKCS7_to_TS_TST_INFO(p7.get()),
                                                                 TS_TST_INFO_free);
  EXPECT_NE(info, nullptr);
  struct tm tm;
  EXPECT_EQ(ASN1_TIME_to_tm(TS_TST_INFO_get_time(info.get()), &tm), 1);
  char text[96];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02dZ", tm.tm_year + 1900,
                tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
  return text;
}

TEST(ToolkitTspTest, TokenInfoTexts) {
  const std::string content = ReadPki("content.txt");
  const std::string tsa_name = "CN=VRD Test TSA,OU=\xec\x8b\x9c\xed\x97\x98,O=VRD Test,C=KR";
  struct Case {
    const char* file;
    const char* policy;
    const char* algorithm;
    const char* md;
    const char* serial;
    std::string gen_time;  // empty: computed from the token
    std::string tsa;
    const char* cert;
  };
  const Case cases[] = {
      {"token-sha256.der", "1.2.3.4.1", "SHA256", "SHA256", "1001", "", tsa_name, "tsa.der"},
      {"token-sha512.der", "1.2.3.4.2", "SHA512", "SHA512", "1002", "", "", "tsa.der"},
      {"token-sha1.der", "1.2.3.4.1", "SHA1", "SHA1", "1003", "", tsa_name, "tsa.der"},
      {"token-expired.der", "1.2.3.4.1", "SHA256", "SHA256", "0abc", "2021-06-15T12:00:00.5Z", "",
       "tsa-expired.der"},
      {"token-noeku.der", "1.2.3.4.1", "SHA256", "SHA256", "0abb", "2024-05-01T09:30:00Z", "",
       "tsa-noeku.der"},
  };
  for (const Case& c : cases) {
    Ctx ctx;
    const std::string token = ReadPki(c.file);
    TokenInfo info;
    ASSERT_EQ(GetInfo(ctx, token, &info), 0) << c.file << ": " << ctx.ErrInfo();
    EXPECT_STREQ(info.text[0], c.policy) << c.file;
    EXPECT_STREQ(info.text[1], c.algorithm) << c.file;
    EXPECT_EQ(info.text[2], DigestHex(c.md, content)) << c.file;
    EXPECT_STREQ(info.text[3], c.serial) << c.file;
    EXPECT_EQ(info.text[4], c.gen_time.empty() ? ExpectedGenTime(token) : c.gen_time) << c.file;
    EXPECT_EQ(info.text[5], c.tsa) << c.file;
    EXPECT_EQ(info.cert, ReadPki(c.cert)) << c.file;
  }
}

TEST(ToolkitTspTest, SignerCertificateFoundByIdentifierNotPosition) {
  const std::string token = ReadPki("token-expired.der");
  // Precondition: the intermediate comes first in the token's set.
  const unsigned char* p = reinterpret_cast<const unsigned char*>(token.data());
  std::unique_ptr<CMS_ContentInfo, decltype(&CMS_ContentInfo_free)> cms(
      d2i_CMS_ContentInfo(nullptr, &p, static_cast<long>(token.size())), CMS_ContentInfo_free);
  ASSERT_NE(cms, nullptr);
  STACK_OF(X509)* certs = CMS_get1_certs(cms.get());
  ASSERT_EQ(sk_X509_num(certs), 2);
  unsigned char* first = nullptr;
  const int n = i2d_X509(sk_X509_value(certs, 0), &first);
  const std::string first_der(reinterpret_cast<char*>(first), static_cast<size_t>(n));
  OPENSSL_free(first);
  sk_X509_pop_free(certs, X509_free);
  ASSERT_EQ(first_der, ReadPki("inter.der"));

  Ctx ctx;
  TokenInfo info;
  ASSERT_EQ(GetInfo(ctx, token, &info), 0);
  EXPECT_EQ(info.cert, ReadPki("tsa-expired.der"));
}

TEST(ToolkitTspTest, TextsThatDoNotFitAreErrors) {
  Ctx ctx;
  const std::string token = ReadPki("token-sha512.der");
  TokenInfo info;
  // The imprint text (128 hex digits) is the longest.
  EXPECT_EQ(GetInfo(ctx, token, &info, 128), QVTK_ERR_TEXT_TOO_LONG);
  EXPECT_TRUE(info.cert.empty());
  EXPECT_EQ(GetInfo(ctx, token, &info, 129), 0);
  EXPECT_EQ(std::strlen(info.text[2]), 128u);
  const std::string named = ReadPki("token-sha256.der");
  EXPECT_EQ(GetInfo(ctx, named, &info, 64), QVTK_ERR_TEXT_TOO_LONG);
  EXPECT_EQ(GetInfo(ctx, named, &info, 65), 0);
  EXPECT_EQ(GetInfo(ctx, named, &info, 0), QVTK_ERR_INVALID_ARGUMENT);
}

TEST(ToolkitTspTest, NonTokensFail) {
  struct Case {
    const char* name;
    std::string bytes;
    int status;
  };
  const std::string token = ReadPki("token-sha256.der");
  const Case cases[] = {
      {"id-data content", ReadPki("cms-data.der"), QVTK_ERR_TSP_NOT_TSTINFO},
      {"no certificates", ReadPki("token-nocert.der"), QVTK_ERR_CMS_NO_SIGNER_CERT},
      {"truncated", token.substr(0, 100), QVTK_ERR_CMS_PARSE},
      {"empty", std::string(), QVTK_ERR_CMS_PARSE},
  };
  for (const Case& c : cases) {
    Ctx ctx;
    TokenInfo info;
    EXPECT_EQ(GetInfo(ctx, c.bytes, &info), c.status) << c.name;
    EXPECT_TRUE(info.cert.empty()) << c.name;
  }
  Ctx ctx;
  Bin in(token);
  Bin cert;
  char t[1024];
  EXPECT_EQ(QVTK_TSP_GetTokenInfo(ctx.get(), in.get(), 1024, t, t, t, t, t, nullptr, cert.get()),
            QVTK_ERR_INVALID_ARGUMENT);
  EXPECT_EQ(QVTK_TSP_GetTokenInfo(ctx.get(), in.get(), 1024, t, t, t, t, t, t, nullptr),
            QVTK_ERR_INVALID_ARGUMENT);
}

// ------------------------------------------------------------ certificates

TEST(ToolkitCertTest, LoadNameUnload) {
  Ctx ctx;
  char name[1024];
  EXPECT_EQ(QVTK_CERT_GetSubjectName(ctx.get(), sizeof name, name), QVTK_ERR_CERT_NOT_LOADED);
  Bin cert(ReadPki("tsa.der"));
  ASSERT_EQ(QVTK_CERT_Load(ctx.get(), cert.get()), 0);
  ASSERT_EQ(QVTK_CERT_GetSubjectName(ctx.get(), sizeof name, name), 0);
#if defined(_WIN32)
  // Windows callers get the name in the process's ANSI code page: the Hangul
  // OU survives in code page 949 and turns into '?' in the Western ones.
  const std::string expected = GetACP() == 949
                                   ? "CN=VRD Test TSA,OU=\xbd\xc3\xc7\xe8,O=VRD Test,C=KR"
                                   : "CN=VRD Test TSA,OU=??,O=VRD Test,C=KR";
#else
  const std::string expected = "CN=VRD Test TSA,OU=\xec\x8b\x9c\xed\x97\x98,O=VRD Test,C=KR";
#endif
  EXPECT_EQ(name, expected);
  const int32_t fits = static_cast<int32_t>(expected.size() + 1);
  EXPECT_EQ(QVTK_CERT_GetSubjectName(ctx.get(), fits - 1, name), QVTK_ERR_TEXT_TOO_LONG);
  EXPECT_EQ(QVTK_CERT_GetSubjectName(ctx.get(), fits, name), 0);
  EXPECT_EQ(QVTK_CERT_GetSubjectName(ctx.get(), 0, name), QVTK_ERR_INVALID_ARGUMENT);
  EXPECT_EQ(QVTK_CERT_Unload(ctx.get()), 0);
  EXPECT_EQ(QVTK_CERT_GetSubjectName(ctx.get(), sizeof name, name), QVTK_ERR_CERT_NOT_LOADED);
  EXPECT_EQ(QVTK_CERT_Unload(ctx.get()), 0);

  // A failed load leaves no certificate behind.
  ASSERT_EQ(QVTK_CERT_Load(ctx.get(), cert.get()), 0);
  Bin bad(ReadPki("tsa.der") + "x");
  EXPECT_EQ(QVTK_CERT_Load(ctx.get(), bad.get()), QVTK_ERR_CERT_PARSE);
  EXPECT_EQ(QVTK_CERT_GetSubjectName(ctx.get(), sizeof name, name), QVTK_ERR_CERT_NOT_LOADED);
}

TEST(ToolkitCertTest, UnparsableCertificatesAndSets) {
  const std::string tsa = ReadPki("tsa.der");
  const std::string inputs[] = {std::string(), tsa + "x", tsa.substr(0, tsa.size() - 1),
                                "not a certificate", ReadPki("token-sha256.der")};
  for (const std::string& input : inputs) {
    Ctx ctx;
    Bin b(input);
    EXPECT_EQ(QVTK_CERT_Load(ctx.get(), b.get()), QVTK_ERR_CERT_PARSE);
    EXPECT_EQ(QVTK_CERT_AddTrustedCert(ctx.get(), b.get()), QVTK_ERR_CERT_PARSE);
    EXPECT_EQ(QVTK_CERT_Verify(ctx.get(), b.get(), 1, 0, 0, nullptr, nullptr), QVTK_ERR_CERT_PARSE);
  }
  const std::string set = ReadPki("ca-pubs.der");
  const std::string sets[] = {std::string(), set + "x", set.substr(0, set.size() - 1), tsa,
                              std::string("\x31\x00", 2)};
  for (const std::string& input : sets) {
    Ctx ctx;
    Bin b(input);
    EXPECT_EQ(QVTK_CERT_SetCaPubs(ctx.get(), b.get()), QVTK_ERR_CERT_PARSE);
  }
  Ctx ctx;
  Bin empty_set(std::string("\x30\x00", 2));
  EXPECT_EQ(QVTK_CERT_SetCaPubs(ctx.get(), empty_set.get()), 0);
  Bin good_set(set);
  EXPECT_EQ(QVTK_CERT_SetCaPubs(ctx.get(), good_set.get()), 0);
}

// How the context is prepared before QVTK_CERT_Verify.
enum Prior { kNone, kProcess, kTokenInfo };

struct VerifyCase {
  const char* name;
  const char* token;  // examined first (kProcess / kTokenInfo), or null
  Prior prior;
  bool trust_root;
  bool ca_set;
  std::string cert;
  int status;
};

int RunVerify(const VerifyCase& c, std::string* err) {
  Ctx ctx;
  if (c.token != nullptr) {
    if (c.prior == kProcess) {
      EXPECT_EQ(Process(ctx, ReadPki(c.token)), 0) << c.name;
    } else {
      TokenInfo info;
      EXPECT_EQ(GetInfo(ctx, ReadPki(c.token), &info), 0) << c.name;
    }
  }
  if (c.trust_root) {
    Bin root(ReadPki("root.der"));
    EXPECT_EQ(QVTK_CERT_AddTrustedCert(ctx.get(), root.get()), 0);
  }
  if (c.ca_set) {
    Bin set(ReadPki("ca-pubs.der"));
    EXPECT_EQ(QVTK_CERT_SetCaPubs(ctx.get(), set.get()), 0);
  }
  EXPECT_EQ(QVTK_CERT_SetVerifyEnv1(ctx.get(), 1, 0, 1, 0), 0);
  Bin cert(c.cert);
  const int status = QVTK_CERT_Verify(ctx.get(), cert.get(), 1, 0, 0, nullptr, nullptr);
  *err = ctx.ErrInfo();
  return status;
}

TEST(ToolkitVerifyTest, ChainOutcomes) {
  const std::string tsa = ReadPki("tsa.der");
  const std::string expired = ReadPki("tsa-expired.der");
  std::string bad_signature = tsa;
  bad_signature.back() = static_cast<char>(bad_signature.back() ^ 0x01);
  const VerifyCase cases[] = {
      {"valid, intermediate from the token", "token-sha256.der", kProcess, true, false, tsa, 0},
      {"valid, intermediate from the CA set", nullptr, kNone, true, true, tsa, 0},
      {"valid, token info only", "token-sha512.der", kTokenInfo, true, false, tsa, 0},
      {"expired since genTime", "token-expired.der", kProcess, true, false, expired,
       QVTK_CERT_EXPIRED_SINCE_TSA},
      {"expired since genTime, token info", "token-expired.der", kTokenInfo, true, false, expired,
       QVTK_CERT_EXPIRED_SINCE_TSA},
      {"expired, no token time", nullptr, kNone, true, true, expired, QVTK_ERR_CERT_EXPIRED},
      {"expired before genTime", "token-sha256.der", kProcess, true, false, expired,
       QVTK_ERR_CERT_EXPIRED},
      {"no trusted root", "token-sha256.der", kProcess, false, false, tsa, QVTK_ERR_CERT_UNTRUSTED},
      {"intermediate missing", nullptr, kNone, true, false, tsa, QVTK_ERR_CERT_UNTRUSTED},
      {"self-signed TSA", "token-selfsigned.der", kProcess, true, false,
       ReadPki("tsa-selfsigned.der"), QVTK_ERR_CERT_UNTRUSTED},
      {"missing EKU", "token-noeku.der", kProcess, true, false, ReadPki("tsa-noeku.der"),
       QVTK_ERR_CERT_NO_TSA_EKU},
      {"a CA certificate", nullptr, kNone, true, true, ReadPki("inter.der"),
       QVTK_ERR_CERT_NO_TSA_EKU},
      {"bad certificate signature", "token-sha256.der", kProcess, true, false, bad_signature,
       QVTK_ERR_CERT_CHAIN_SIGNATURE},
  };
  for (const VerifyCase& c : cases) {
    std::string err;
    EXPECT_EQ(RunVerify(c, &err), c.status) << c.name << ": " << err;
    if (c.status != 0 && c.status != QVTK_CERT_EXPIRED_SINCE_TSA) {
      EXPECT_EQ(err.rfind(std::to_string(c.status) + ": ", 0), 0u) << c.name << ": " << err;
    }
  }
}

TEST(ToolkitVerifyTest, GenTimeComesFromTheLastTokenExamined) {
  Ctx ctx;
  ASSERT_EQ(Process(ctx, ReadPki("token-expired.der")), 0);
  ASSERT_EQ(Process(ctx, ReadPki("token-sha256.der")), 0);
  Bin root(ReadPki("root.der"));
  ASSERT_EQ(QVTK_CERT_AddTrustedCert(ctx.get(), root.get()), 0);
  Bin set(ReadPki("ca-pubs.der"));
  ASSERT_EQ(QVTK_CERT_SetCaPubs(ctx.get(), set.get()), 0);
  Bin expired(ReadPki("tsa-expired.der"));
  EXPECT_EQ(QVTK_CERT_Verify(ctx.get(), expired.get(), 1, 0, 0, nullptr, nullptr),
            QVTK_ERR_CERT_EXPIRED);
  ASSERT_EQ(Process(ctx, ReadPki("token-expired.der")), 0);
  EXPECT_EQ(QVTK_CERT_Verify(ctx.get(), expired.get(), 1, 0, 0, nullptr, nullptr),
            QVTK_CERT_EXPIRED_SINCE_TSA);
  // A failed examination does not replace what the last good one left.
  EXPECT_EQ(Process(ctx, ReadPki("cms-data.der").substr(0, 50)), QVTK_ERR_CMS_PARSE);
  EXPECT_EQ(QVTK_CERT_Verify(ctx.get(), expired.get(), 1, 0, 0, nullptr, nullptr),
            QVTK_CERT_EXPIRED_SINCE_TSA);
}

// ----------------------------------------------- the anchors, real toolkit

// The compiled-in anchors are installable by the real toolkit: every root and
// the CA set parse, so the stage gets as far as verification, where a test
// TSA certificate is (rightly) not trusted.
TEST(ToolkitTrustAnchorsTest, RealAnchorsInstallAndRejectAForeignChain) {
  Ctx ctx;
  ASSERT_EQ(Process(ctx, ReadPki("token-sha256.der")), 0);
  Bin cert(ReadPki("tsa.der"));
  QVTK_BINSTR strings[vrd::kTrustAnchorStrings];
  for (QVTK_BINSTR& s : strings) ASSERT_EQ(QVTK_BINSTR_Create(&s), 0);
  EXPECT_EQ(vrd::InstallTrustAnchorsAndVerify(ctx.get(), cert.get(), strings, vrd::DigestMismatch),
            vrd::CertificateVerifyFailed);
  EXPECT_EQ(ctx.ErrInfo().rfind(std::to_string(QVTK_ERR_CERT_UNTRUSTED) + ": ", 0), 0u)
      << ctx.ErrInfo();
  for (QVTK_BINSTR& s : strings) EXPECT_EQ(QVTK_BINSTR_Delete(&s), 0);
}

}  // namespace
