// The shipped DLL as a Windows caller sees it: VIDEREDEve_Z_64.dll loaded at
// run time with LoadLibrary (it must find the toolkit DLL it imports), both
// functions reached by name and by ordinal, called with __stdcall on real
// documents stamped here by the test authority, and the UTF-16 outputs read
// back. The expected texts come from the test's own OpenSSL view of the
// token, never from the library.
#include <gtest/gtest.h>
#include <openssl/asn1.h>
#include <openssl/pkcs7.h>
#include <openssl/ts.h>
#include <windows.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "tests/support/PdfBuilder.h"
#include "tests/support/TokenSigner.h"

namespace {

using vrd::test::ImprintHash;

constexpr int kUnits = 512;
constexpr wchar_t kSentinel = 0x3C3C;
// Result codes as a caller hard-codes them from the interface description.
constexpr int kCertificateVerifyFailed = 2109;
constexpr int kUnsupportedAlgorithm = 2103;
constexpr int kFileUnreadable = 2104;
constexpr int kNoTimeStampToken = 2108;

typedef int(__stdcall* VerifyFileFn)(const char*, wchar_t*, wchar_t*, wchar_t*, wchar_t*);
typedef int(__stdcall* VerifyDataFn)(const unsigned char*, int, wchar_t*, wchar_t*, wchar_t*,
                                     wchar_t*);

const std::string kPki = std::string(VRD_TEST_DATA_DIR) + "/pki/";

struct Buffers {
  Buffers() {
    for (auto& b : units) b.fill(kSentinel);
  }
  std::array<std::array<wchar_t, kUnits>, 4> units;
  wchar_t* at(size_t i) { return units[i].data(); }
  bool Untouched() const {
    for (const auto& b : units) {
      for (wchar_t u : b) {
        if (u != kSentinel) return false;
      }
    }
    return true;
  }
  // The NUL-terminated text of buffer i; "<unterminated>" if there is none.
  std::wstring Text(size_t i) const {
    for (size_t k = 0; k < kUnits; ++k) {
      if (units[i][k] == 0) return std::wstring(units[i].data(), k);
    }
    return L"<unterminated>";
  }
  // Units after the terminator that the library wrote anyway.
  bool TailUntouched(size_t i) const {
    size_t k = 0;
    while (k < kUnits && units[i][k] != 0) ++k;
    for (++k; k < kUnits; ++k) {
      if (units[i][k] != kSentinel) return false;
    }
    return true;
  }
};

std::wstring Widen(const std::string& ascii) { return std::wstring(ascii.begin(), ascii.end()); }

// "YYYYMMDDhhmmss[.f]Z" of the token's TSTInfo, as "YYYY-MM-DDThh:mm:ss[.f]Z".
std::string TokenGenTime(const std::string& der) {
  const unsigned char* p = reinterpret_cast<const unsigned char*>(der.data());
  PKCS7* p7 = d2i_PKCS7(nullptr, &p, static_cast<long>(der.size()));
  if (p7 == nullptr) return std::string();
  TS_TST_INFO* info = PKCS7_to_TS_TST_INFO(p7);
  std::string g;
  if (info != nullptr) {
    const ASN1_GENERALIZEDTIME* t = TS_TST_INFO_get_time(info);
    g.assign(reinterpret_cast<const char*>(ASN1_STRING_get0_data(t)),
             static_cast<size_t>(ASN1_STRING_length(t)));
    TS_TST_INFO_free(info);
  }
  PKCS7_free(p7);
  if (g.size() < 15) return std::string();
  return g.substr(0, 4) + "-" + g.substr(4, 2) + "-" + g.substr(6, 2) + "T" + g.substr(8, 2) + ":" +
         g.substr(10, 2) + ":" + g.substr(12);
}

// The test authority's subject as the ANSI code page renders it: its OU is
// Hangul ("시험"), which code page 949 keeps and the Western code pages
// cannot represent.
std::wstring ExpectedSubject() {
  const std::wstring ou = GetACP() == 949 ? std::wstring(L"\uC2DC\uD5D8") : std::wstring(L"??");
  return L"CN=VRD Test TSA,OU=" + ou + L",O=VRD Test,C=KR";
}

struct Stamped {
  std::string bytes;
  std::string token;
  std::string digest_hex;
};

Stamped Stamp(ImprintHash hash, uint32_t seed) {
  Stamped s;
  vrd::test::PdfOptions options;
  options.seed = seed;
  vrd::test::PdfDocument pdf;
  EXPECT_TRUE(vrd::test::PdfBuilder(options).Build(pdf));
  vrd::test::TokenSigner signer;
  EXPECT_TRUE(signer.Load(kPki + "tsa.key", kPki + "tsa.pem", kPki + "inter.pem"));
  EXPECT_TRUE(signer.Sign(pdf.signed_content, hash, s.token));
  EXPECT_TRUE(vrd::test::EmbedToken(pdf, s.token));
  s.bytes = pdf.bytes;
  s.digest_hex = vrd::test::ToHex(vrd::test::TokenSigner::Digest(pdf.signed_content, hash));
  return s;
}

class TempFile {
 public:
  explicit TempFile(const std::string& bytes) {
    static int counter = 0;
    path_ = ::testing::TempDir() + "vrd_dll_" + std::to_string(GetCurrentProcessId()) + "_" +
            std::to_string(counter++) + ".pdf";
    FILE* f = std::fopen(path_.c_str(), "wb");
    EXPECT_NE(f, nullptr);
    if (f != nullptr) {
      EXPECT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), f), bytes.size());
      std::fclose(f);
    }
  }
  ~TempFile() { std::remove(path_.c_str()); }
  const char* path() const { return path_.c_str(); }

 private:
  std::string path_;
};

class DllLoad : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { module_ = LoadLibraryA("VIDEREDEve_Z_64.dll"); }
  static void TearDownTestSuite() {
    if (module_ != nullptr) FreeLibrary(module_);
    module_ = nullptr;
  }
  void SetUp() override { ASSERT_NE(module_, nullptr) << "LoadLibrary: " << GetLastError(); }

  static FARPROC ByName(const char* name) { return GetProcAddress(module_, name); }
  static FARPROC ByOrdinal(WORD ordinal) {
    return GetProcAddress(module_, MAKEINTRESOURCEA(ordinal));
  }
  static VerifyFileFn FileEntry(bool by_ordinal) {
    return reinterpret_cast<VerifyFileFn>(
        reinterpret_cast<void*>(by_ordinal ? ByOrdinal(1) : ByName("QVTSPdfSigVerifyF")));
  }
  static VerifyDataFn DataEntry(bool by_ordinal) {
    return reinterpret_cast<VerifyDataFn>(
        reinterpret_cast<void*>(by_ordinal ? ByOrdinal(2) : ByName("QVTSPdfSigVerifyD")));
  }

  static HMODULE module_;
};

HMODULE DllLoad::module_ = nullptr;

TEST_F(DllLoad, ImportsTheToolkitByName) {
  EXPECT_NE(GetModuleHandleA("DIRIrozeza64Z30-e3.4.2.19.dll"), nullptr);
}

TEST_F(DllLoad, OrdinalsAndNamesNameTheSameTwoFunctions) {
  ASSERT_NE(ByName("QVTSPdfSigVerifyF"), nullptr);
  ASSERT_NE(ByName("QVTSPdfSigVerifyD"), nullptr);
  EXPECT_EQ(ByOrdinal(1), ByName("QVTSPdfSigVerifyF"));
  EXPECT_EQ(ByOrdinal(2), ByName("QVTSPdfSigVerifyD"));
  EXPECT_NE(ByOrdinal(1), ByOrdinal(2));
  // Nothing else: no third ordinal, no decorated or internal names.
  const char* absent[] = {"_QVTSPdfSigVerifyF@20", "QVTSPdfSigVerifyF@40", "_QVTSPdfSigVerifyD@24",
                          "VerifyTimeStampToken",  "QVTK_API_Init",        "DllMain"};
  for (const char* name : absent) EXPECT_EQ(ByName(name), nullptr) << name;
  EXPECT_EQ(ByOrdinal(3), nullptr);
  EXPECT_EQ(ByOrdinal(0), nullptr);
}

TEST_F(DllLoad, StampedDocumentsThroughEveryEntry) {
  struct Case {
    const char* name;
    ImprintHash hash;
    const wchar_t* algorithm;
  };
  const Case cases[] = {{"Sha256", ImprintHash::kSha256, L"SHA256"},
                        {"Sha512", ImprintHash::kSha512, L"SHA512"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Stamped s = Stamp(c.hash, 11);
    const std::string gen_time = TokenGenTime(s.token);
    ASSERT_FALSE(gen_time.empty());
    TempFile file(s.bytes);
    for (bool by_ordinal : {false, true}) {
      SCOPED_TRACE(by_ordinal ? "by ordinal" : "by name");
      Buffers from_file;
      Buffers from_data;
      // The test authority does not chain to the built-in anchors: 2109, and
      // all four outputs written.
      EXPECT_EQ(FileEntry(by_ordinal)(file.path(), from_file.at(0), from_file.at(1),
                                      from_file.at(2), from_file.at(3)),
                kCertificateVerifyFailed);
      EXPECT_EQ(DataEntry(by_ordinal)(reinterpret_cast<const unsigned char*>(s.bytes.data()),
                                      static_cast<int>(s.bytes.size()), from_data.at(0),
                                      from_data.at(1), from_data.at(2), from_data.at(3)),
                kCertificateVerifyFailed);
      for (const Buffers* b : {&from_file, &from_data}) {
        EXPECT_EQ(b->Text(0), Widen(gen_time));
        EXPECT_EQ(b->Text(1), c.algorithm);
        EXPECT_EQ(b->Text(2), Widen(s.digest_hex));
        EXPECT_EQ(b->Text(3), ExpectedSubject());
        for (size_t i = 0; i < 4; ++i) EXPECT_TRUE(b->TailUntouched(i)) << i;
      }
    }
  }
}

TEST_F(DllLoad, FailuresLeaveTheBuffersAlone) {
  const Stamped sha1 = Stamp(ImprintHash::kSha1, 12);
  const std::string missing = ::testing::TempDir() + "vrd_dll_missing_file.pdf";
  for (bool by_ordinal : {false, true}) {
    SCOPED_TRACE(by_ordinal ? "by ordinal" : "by name");
    Buffers b;
    EXPECT_EQ(FileEntry(by_ordinal)(missing.c_str(), b.at(0), b.at(1), b.at(2), b.at(3)),
              kFileUnreadable);
    EXPECT_EQ(FileEntry(by_ordinal)("", b.at(0), b.at(1), b.at(2), b.at(3)), kFileUnreadable);
    EXPECT_EQ(DataEntry(by_ordinal)(nullptr, 0, b.at(0), b.at(1), b.at(2), b.at(3)),
              kNoTimeStampToken);
    EXPECT_EQ(DataEntry(by_ordinal)(reinterpret_cast<const unsigned char*>(sha1.bytes.data()), -1,
                                    b.at(0), b.at(1), b.at(2), b.at(3)),
              kNoTimeStampToken);
    EXPECT_EQ(DataEntry(by_ordinal)(reinterpret_cast<const unsigned char*>(sha1.bytes.data()),
                                    static_cast<int>(sha1.bytes.size()), b.at(0), b.at(1), b.at(2),
                                    b.at(3)),
              kUnsupportedAlgorithm);
    EXPECT_TRUE(b.Untouched());
  }
}

// The file is opened sharing read access only: while another handle may
// write to it, the path entry cannot read it; once that handle is closed it
// can.
TEST_F(DllLoad, FileHeldOpenForWritingIsUnreadable) {
  const Stamped s = Stamp(ImprintHash::kSha256, 13);
  TempFile file(s.bytes);
  HANDLE writer = CreateFileA(file.path(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(writer, INVALID_HANDLE_VALUE);
  Buffers held;
  EXPECT_EQ(FileEntry(false)(file.path(), held.at(0), held.at(1), held.at(2), held.at(3)),
            kFileUnreadable);
  EXPECT_TRUE(held.Untouched());
  ASSERT_TRUE(CloseHandle(writer));
  Buffers released;
  EXPECT_EQ(
      FileEntry(false)(file.path(), released.at(0), released.at(1), released.at(2), released.at(3)),
      kCertificateVerifyFailed);
  EXPECT_EQ(released.Text(2), Widen(s.digest_hex));
}

// A caller may load, use and unload the DLL repeatedly. Unloading must take
// the toolkit DLL along and leave nothing behind that runs later: a clean-up
// left on the process's exit list would crash this test's process at exit,
// after the last assertion, and so still fail it.
TEST(DllUnload, LoadCallUnloadCycles) {
  const Stamped s = Stamp(ImprintHash::kSha256, 14);
  for (int cycle = 0; cycle < 3; ++cycle) {
    SCOPED_TRACE(cycle);
    HMODULE h = LoadLibraryA("VIDEREDEve_Z_64.dll");
    ASSERT_NE(h, nullptr);
    const auto verify = reinterpret_cast<VerifyDataFn>(
        reinterpret_cast<void*>(GetProcAddress(h, MAKEINTRESOURCEA(2))));
    ASSERT_NE(verify, nullptr);
    Buffers b;
    EXPECT_EQ(verify(reinterpret_cast<const unsigned char*>(s.bytes.data()),
                     static_cast<int>(s.bytes.size()), b.at(0), b.at(1), b.at(2), b.at(3)),
              kCertificateVerifyFailed);
    EXPECT_EQ(b.Text(2), Widen(s.digest_hex));
    ASSERT_TRUE(FreeLibrary(h));
    EXPECT_EQ(GetModuleHandleA("VIDEREDEve_Z_64.dll"), nullptr);
    EXPECT_EQ(GetModuleHandleA("DIRIrozeza64Z30-e3.4.2.19.dll"), nullptr);
  }
}

}  // namespace
