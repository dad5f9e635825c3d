// The toolkit's caches must never change a result: roots installed in one
// context never help another, certificates seen in one call never act as
// roots or intermediates in a call that did not install them, and results
// stay right when the bounded caches evict (more distinct certificates and
// root sets than they hold), also with threads that trust different roots.
// Also the least-recently-used map behind the per-thread caches.
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "crypto/BoundedCache.h"
#include "toolkit/qvtk.h"

namespace {

std::string ReadPki(const char* name) {
  std::ifstream in(std::string(VRD_TEST_DATA_DIR) + "/pki/" + name, std::ios::binary);
  EXPECT_TRUE(in.good()) << name;
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// One toolkit context and the binary strings it was given, all released at
// the end.
class Session {
 public:
  // Binary strings keep stable addresses: the toolkit is handed pointers.
  Session() {
    strings_.reserve(kMaxStrings);
    EXPECT_EQ(QVTK_API_Init(&ctx_, "."), 0);
  }
  ~Session() {
    for (QVTK_BINSTR& s : strings_) QVTK_BINSTR_Delete(&s);
    if (ctx_ != nullptr) QVTK_API_Finish(&ctx_);
  }
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  QVTK_BINSTR* Bin(const std::string& bytes) {
    EXPECT_LT(strings_.size(), kMaxStrings);
    strings_.emplace_back();
    QVTK_BINSTR* s = &strings_.back();
    QVTK_BINSTR_Create(s);
    EXPECT_EQ(QVTK_BINSTR_SetData(bytes.data(), static_cast<int32_t>(bytes.size()), s), 0);
    return s;
  }
  int Process(const std::string& token) {
    QVTK_BINSTR* content = Bin("");
    int32_t type = 0;
    return QVTK_CMS_ProcessSignedData(ctx_, 0, Bin(token), content, &type);
  }
  int AddRoot(const std::string& der) { return QVTK_CERT_AddTrustedCert(ctx_, Bin(der)); }
  int SetCaPubs(const std::string& der) { return QVTK_CERT_SetCaPubs(ctx_, Bin(der)); }
  int Verify(const std::string& der) {
    return QVTK_CERT_Verify(ctx_, Bin(der), 1, 0, 0, nullptr, nullptr);
  }
  std::string SubjectOf(const std::string& der) {
    char name[1024] = {};
    if (QVTK_CERT_Load(ctx_, Bin(der)) != 0) return "<load failed>";
    if (QVTK_CERT_GetSubjectName(ctx_, sizeof name, name) != 0) return "<no name>";
    return name;
  }

 private:
  static constexpr size_t kMaxStrings = 64;
  QVTK_CTX ctx_ = nullptr;
  std::vector<QVTK_BINSTR> strings_;
};

std::unique_ptr<Session> NewSession() { return std::make_unique<Session>(); }

const std::string& Tsa() {
  static const std::string der = ReadPki("tsa.der");
  return der;
}
const std::string& Root() {
  static const std::string der = ReadPki("root.der");
  return der;
}
const std::string& Inter() {
  static const std::string der = ReadPki("inter.der");
  return der;
}

// A certificate set (DER SEQUENCE) holding one certificate.
std::string SetOf(const std::string& cert) {
  std::string set = "\x30\x82";
  set.push_back(static_cast<char>(cert.size() >> 8));
  set.push_back(static_cast<char>(cert.size() & 0xFF));
  return set + cert;
}

// Self-signed CA certificates that differ in their subject, all over one key.
std::vector<std::string> MakeDistinctRoots(int count) {
  std::vector<std::string> roots;
  EVP_PKEY* key = EVP_RSA_gen(1024);
  EXPECT_NE(key, nullptr);
  for (int i = 0; key != nullptr && i < count; ++i) {
    X509* cert = X509_new();
    X509_set_version(cert, X509_VERSION_3);
    ASN1_INTEGER_set(X509_get_serialNumber(cert), i + 1);
    X509_gmtime_adj(X509_getm_notBefore(cert), -3600);
    X509_gmtime_adj(X509_getm_notAfter(cert), 3600L * 24 * 365);
    X509_NAME* name = X509_get_subject_name(cert);
    const std::string cn = "Cache Root " + std::to_string(i);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>(cn.c_str()), -1, -1, 0);
    X509_set_issuer_name(cert, name);
    X509_set_pubkey(cert, key);
    EXPECT_GT(X509_sign(cert, key, EVP_sha256()), 0);
    unsigned char* der = nullptr;
    const int n = i2d_X509(cert, &der);
    EXPECT_GT(n, 0);
    roots.emplace_back(reinterpret_cast<const char*>(der), static_cast<size_t>(n));
    OPENSSL_free(der);
    X509_free(cert);
  }
  EVP_PKEY_free(key);
  return roots;
}

TEST(ToolkitCacheTest, RootsOfOneContextNeverHelpAnother) {
  const std::string token = ReadPki("token-sha256.der");
  struct Case {
    const char* name;
    std::vector<std::string> roots;
    int expected;
  };
  const std::string self_signed = ReadPki("tsa-selfsigned.der");
  const Case cases[] = {
      {"the test root", {Root()}, 0},
      {"no root", {}, QVTK_ERR_CERT_UNTRUSTED},
      {"another root", {self_signed}, QVTK_ERR_CERT_UNTRUSTED},
      {"the test root among others", {self_signed, Root()}, 0},
      {"an intermediate is no root", {Inter()}, QVTK_ERR_CERT_UNTRUSTED},
      {"no root again", {}, QVTK_ERR_CERT_UNTRUSTED},
  };
  // Twice over, with all contexts of a round open at once.
  for (int round = 0; round < 2; ++round) {
    std::vector<std::unique_ptr<Session>> open;
    for (const Case& c : cases) {
      SCOPED_TRACE(c.name);
      open.push_back(NewSession());
      Session& s = *open.back();
      ASSERT_EQ(s.Process(token), 0);
      for (const std::string& root : c.roots) ASSERT_EQ(s.AddRoot(root), 0);
      EXPECT_EQ(s.Verify(Tsa()), c.expected);
    }
  }
}

TEST(ToolkitCacheTest, CertificatesSeenEarlierDoNotJoinALaterChain) {
  {
    // Everything a chain needs passes through one context...
    auto s = NewSession();
    ASSERT_EQ(s->Process(ReadPki("token-sha256.der")), 0);
    ASSERT_EQ(s->AddRoot(Root()), 0);
    ASSERT_EQ(s->SetCaPubs(SetOf(Inter())), 0);
    EXPECT_NE(s->SubjectOf(Root()).find("Root"), std::string::npos);
    ASSERT_EQ(s->Verify(Tsa()), 0);
  }
  // ...but a later context has only what it was given.
  auto no_intermediate = NewSession();
  ASSERT_EQ(no_intermediate->AddRoot(Root()), 0);
  EXPECT_EQ(no_intermediate->Verify(Tsa()), QVTK_ERR_CERT_UNTRUSTED);
  auto no_root = NewSession();
  ASSERT_EQ(no_root->SetCaPubs(SetOf(Inter())), 0);
  EXPECT_NE(no_root->SubjectOf(Root()).find("Root"), std::string::npos);
  EXPECT_EQ(no_root->Verify(Tsa()), QVTK_ERR_CERT_UNTRUSTED);
  // A loaded certificate is not a trusted one either.
  auto loaded_only = NewSession();
  ASSERT_EQ(loaded_only->Process(ReadPki("token-sha256.der")), 0);
  EXPECT_NE(loaded_only->SubjectOf(Root()).find("Root"), std::string::npos);
  EXPECT_EQ(loaded_only->Verify(Tsa()), QVTK_ERR_CERT_UNTRUSTED);
}

// A token decoded with its certificates from the cache gives what the first,
// whole decoding gave, also when one certificate in it was altered (a new
// key for the cache, and a hash that no longer matches).
TEST(ToolkitCacheTest, TokensWithCachedCertificatesGiveTheSameAnswers) {
  const std::string token = ReadPki("token-sha256.der");
  std::string altered = token;
  const std::string tsa_tail = Tsa().substr(Tsa().size() - 16);
  const size_t at = altered.find(tsa_tail);
  ASSERT_NE(at, std::string::npos);
  altered[at + 8] = static_cast<char>(altered[at + 8] ^ 0x20);
  struct Case {
    const char* name;
    const std::string* token;
  };
  const Case cases[] = {{"as issued", &token}, {"altered certificate", &altered}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<int> answers;
    for (int round = 0; round < 3; ++round) {
      auto s = NewSession();
      answers.push_back(s->Process(*c.token));
      ASSERT_EQ(s->AddRoot(Root()), 0);
      answers.push_back(s->Verify(Tsa()));
    }
    for (size_t i = 2; i < answers.size(); ++i) EXPECT_EQ(answers[i], answers[i % 2]) << i;
    // The altered certificate no longer matches the ESS signing-certificate hash.
    EXPECT_EQ(answers[0], c.token == &token ? 0 : QVTK_ERR_CMS_ESS);
  }
}

// More distinct certificates and root sets than the caches hold: every
// answer stays what a fresh parse and a fresh store give.
TEST(ToolkitCacheTest, ResultsSurviveEviction) {
  const std::vector<std::string> roots = MakeDistinctRoots(150);
  ASSERT_EQ(roots.size(), 150u);
  const std::string token = ReadPki("token-sha256.der");
  for (size_t i = 0; i < roots.size(); ++i) {
    SCOPED_TRACE(i);
    auto s = NewSession();
    ASSERT_EQ(s->Process(token), 0);
    ASSERT_EQ(s->AddRoot(roots[i]), 0);
    EXPECT_EQ(s->SubjectOf(roots[i]), "CN=Cache Root " + std::to_string(i));
    EXPECT_EQ(s->Verify(Tsa()), QVTK_ERR_CERT_UNTRUSTED);
    if (i % 10 == 0) {
      // The test root, now among one of the generated ones: a new root set.
      ASSERT_EQ(s->AddRoot(Root()), 0);
      EXPECT_EQ(s->Verify(Tsa()), 0);
    }
  }
  // The first ones again, long evicted.
  for (size_t i = 0; i < 3; ++i) {
    auto s = NewSession();
    ASSERT_EQ(s->Process(token), 0);
    ASSERT_EQ(s->AddRoot(roots[i]), 0);
    EXPECT_EQ(s->SubjectOf(roots[i]), "CN=Cache Root " + std::to_string(i));
    ASSERT_EQ(s->AddRoot(Root()), 0);
    EXPECT_EQ(s->Verify(Tsa()), 0);
  }
}

// Threads that trust different roots at the same time keep their answers.
TEST(ToolkitCacheTest, ConcurrentContextsWithDifferentRoots) {
  const std::string token = ReadPki("token-sha256.der");
  const std::string self_signed = ReadPki("tsa-selfsigned.der");
  constexpr int kThreads = 4;
  constexpr int kRounds = 40;
  std::vector<int> wrong(kThreads, 0);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int round = 0; round < kRounds; ++round) {
        const bool trusting = (t + round) % 2 == 0;
        auto s = NewSession();
        if (s->Process(token) != 0) ++wrong[static_cast<size_t>(t)];
        if (s->AddRoot(trusting ? Root() : self_signed) != 0) ++wrong[static_cast<size_t>(t)];
        const int expected = trusting ? 0 : QVTK_ERR_CERT_UNTRUSTED;
        if (s->Verify(Tsa()) != expected) ++wrong[static_cast<size_t>(t)];
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  for (int t = 0; t < kThreads; ++t) EXPECT_EQ(wrong[static_cast<size_t>(t)], 0) << t;
}

// A thread per verification, as some hosts do: each new thread starts with
// empty caches and still only trusts what its own context installed.
TEST(ToolkitCacheTest, ThreadPerCallHostsKeepTheirAnswers) {
  const std::string token = ReadPki("token-sha256.der");
  for (int call = 0; call < 24; ++call) {
    const bool trusting = call % 3 != 0;
    int verified = -1;
    int processed = -1;
    std::thread([&] {
      auto s = NewSession();
      processed = s->Process(token);
      if (trusting) {
        EXPECT_EQ(s->AddRoot(Root()), 0);
      }
      verified = s->Verify(Tsa());
    }).join();
    EXPECT_EQ(processed, 0) << call;
    EXPECT_EQ(verified, trusting ? 0 : QVTK_ERR_CERT_UNTRUSTED) << call;
  }
}

TEST(BoundedCacheTest, EvictsTheLeastRecentlyUsed) {
  struct Step {
    char op;  // 'i' insert key=value, 'f' find key (expect value, or 0 for absent)
    const char* key;
    int value;
  };
  const Step steps[] = {
      {'i', "a", 1},  {'i', "b", 2}, {'i', "c", 3}, {'f', "a", 1},  // a is now recent
      {'i', "d", 4},                                                // evicts b
      {'f', "b", 0},  {'f', "c", 3}, {'f', "d", 4}, {'f', "a", 1},
      {'i', "c", 30},                                // replaces, no eviction
      {'f', "c", 30}, {'f', "d", 4}, {'i', "e", 5},  // evicts a (c and d were used later)
      {'f', "a", 0},  {'f', "e", 5}, {'f', "", 0},  {'i', "", 6},
      {'f', "", 6},
  };
  vrd::tk::BoundedCache<int> cache(3);
  for (size_t i = 0; i < sizeof steps / sizeof steps[0]; ++i) {
    const Step& step = steps[i];
    SCOPED_TRACE(i);
    if (step.op == 'i') {
      int value = step.value;
      EXPECT_EQ(cache.Insert(step.key, std::move(value)), step.value);
    } else {
      const int* found = cache.Find(step.key);
      if (step.value == 0) {
        EXPECT_EQ(found, nullptr);
      } else {
        ASSERT_NE(found, nullptr);
        EXPECT_EQ(*found, step.value);
      }
    }
    EXPECT_LE(cache.size(), cache.capacity());
  }
  // Keys are whole byte strings: a prefix or an embedded NUL is another key.
  vrd::tk::BoundedCache<int> bytes(4);
  int one = 1;
  int two = 2;
  bytes.Insert(std::string("ab\0c", 4), std::move(one));
  bytes.Insert("ab", std::move(two));
  EXPECT_EQ(*bytes.Find(std::string("ab\0c", 4)), 1);
  EXPECT_EQ(*bytes.Find("ab"), 2);
  EXPECT_EQ(bytes.Find("a"), nullptr);
  EXPECT_EQ(bytes.Find(std::string("ab\0d", 4)), nullptr);
}

}  // namespace
