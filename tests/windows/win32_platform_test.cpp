// The Windows services under the library's own code: LoadFile over the real
// CreateFileA/GetFileSize/ReadFile/CloseHandle, share mode included, and the
// output conversion over the real MultiByteToWideChar(CP_ACP) in the
// process's ANSI code page. Run once in the default code page and once more
// with VRD_EXPECT_ACP=949 under a Korean locale.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "api/VerifyTimeStampToken.h"
#include "util/ByteString.h"
#include "util/LoadFile.h"

namespace {

std::string Text(const vrd::ByteString& s) {
  return std::string(s.GetData(), static_cast<size_t>(s.GetLength()));
}

class ScratchFile {
 public:
  explicit ScratchFile(const std::string& bytes, const char* suffix = ".bin") {
    static int counter = 0;
    path_ = ::testing::TempDir() + "vrd_win32_" + std::to_string(GetCurrentProcessId()) + "_" +
            std::to_string(counter++) + suffix;
    HANDLE h = CreateFileA(path_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    EXPECT_NE(h, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    EXPECT_TRUE(WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr));
    EXPECT_EQ(written, bytes.size());
    CloseHandle(h);
  }
  ~ScratchFile() { DeleteFileA(path_.c_str()); }
  const char* path() const { return path_.c_str(); }

 private:
  std::string path_;
};

// Another handle on the file, open while LoadFile runs.
struct OtherOpener {
  const char* what;
  DWORD access;
  DWORD share;
  int expected;
};

TEST(Win32LoadFile, ShareModeAgainstOtherHandles) {
  const std::string content("%PDF-1.7\n\0binary\xff\n", 18);
  const OtherOpener cases[] = {
      {"writer sharing everything", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
       vrd::kLoadCannotOpen},
      {"writer sharing read", GENERIC_WRITE, FILE_SHARE_READ, vrd::kLoadCannotOpen},
      {"reader-writer sharing read", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ,
       vrd::kLoadCannotOpen},
      {"reader sharing nothing", GENERIC_READ, 0, vrd::kLoadCannotOpen},
      {"reader sharing write only", GENERIC_READ, FILE_SHARE_WRITE, vrd::kLoadCannotOpen},
      {"reader sharing read", GENERIC_READ, FILE_SHARE_READ, vrd::kLoadOk},
      {"reader sharing everything", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, vrd::kLoadOk},
  };
  for (const OtherOpener& c : cases) {
    SCOPED_TRACE(c.what);
    ScratchFile file(content);
    HANDLE other = CreateFileA(file.path(), c.access, c.share, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(other, INVALID_HANDLE_VALUE);
    vrd::ByteString out;
    ASSERT_EQ(out.SetData("kept", 4), vrd::ByteString::kOk);
    EXPECT_EQ(vrd::LoadFile(file.path(), out), c.expected);
    EXPECT_EQ(Text(out), c.expected == vrd::kLoadOk ? content : std::string("kept"));
    CloseHandle(other);
    // Once the other handle is gone every case loads.
    EXPECT_EQ(vrd::LoadFile(file.path(), out), vrd::kLoadOk);
    EXPECT_EQ(Text(out), content);
  }
}

TEST(Win32LoadFile, LeavesNoHandleBehind) {
  ScratchFile file("0123456789");
  vrd::ByteString out;
  ASSERT_EQ(vrd::LoadFile(file.path(), out), vrd::kLoadOk);
  // An exclusive open succeeds only if LoadFile closed its handle.
  HANDLE exclusive = CreateFileA(file.path(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  EXPECT_NE(exclusive, INVALID_HANDLE_VALUE);
  if (exclusive != INVALID_HANDLE_VALUE) CloseHandle(exclusive);
  EXPECT_TRUE(DeleteFileA(file.path()));
}

TEST(Win32LoadFile, PathsThatCannotBeRead) {
  struct Case {
    const char* what;
    std::string path;
    int expected;
  } cases[] = {
      {"empty", "", vrd::kLoadNoPath},
      {"missing", ::testing::TempDir() + "vrd_win32_missing.bin", vrd::kLoadCannotOpen},
      {"directory", ::testing::TempDir(), vrd::kLoadCannotOpen},
  };
  for (const Case& c : cases) {
    vrd::ByteString out;
    ASSERT_EQ(out.SetData("kept", 4), vrd::ByteString::kOk);
    EXPECT_EQ(vrd::LoadFile(c.path.c_str(), out), c.expected) << c.what;
    EXPECT_EQ(Text(out), "kept") << c.what;
  }
  vrd::ByteString untouched;
  EXPECT_EQ(vrd::LoadFile(nullptr, untouched), vrd::kLoadNoPath);
}

TEST(Win32LoadFile, EmptyFileEmptiesOut) {
  ScratchFile file("");
  vrd::ByteString out;
  ASSERT_EQ(out.SetData("old content", 11), vrd::ByteString::kOk);
  EXPECT_EQ(vrd::LoadFile(file.path(), out), vrd::kLoadOk);
  EXPECT_EQ(out.GetLength(), 0);
}

// A character that the process's ANSI code page can encode, as that code
// page's bytes and as UTF-16.
struct AnsiSample {
  std::string ansi;
  std::wstring wide;
};

AnsiSample SampleForCodePage(UINT acp) {
  if (acp == 949) return {"\xbd\xc3\xc7\xe8", L"\uC2DC\uD5D8"};  // Hangul "시험"
  return {"\xe9", L"\u00E9"};  // e acute, in every Western code page
}

TEST(Win32LoadFile, PathInTheAnsiCodePage) {
  const AnsiSample sample = SampleForCodePage(GetACP());
  const std::wstring wide_dir = [] {
    const std::string dir = ::testing::TempDir();
    return std::wstring(dir.begin(), dir.end());
  }();
  const std::wstring wide_path = wide_dir + L"vrd_" + sample.wide + L".pdf";
  const std::string ansi_path = ::testing::TempDir() + "vrd_" + sample.ansi + ".pdf";
  HANDLE h = CreateFileW(wide_path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  DWORD written = 0;
  EXPECT_TRUE(WriteFile(h, "named", 5, &written, nullptr));
  CloseHandle(h);
  vrd::ByteString out;
  EXPECT_EQ(vrd::LoadFile(ansi_path.c_str(), out), vrd::kLoadOk);
  EXPECT_EQ(Text(out), "named");
  DeleteFileW(wide_path.c_str());
}

// ------------------------------------------------------------- code page

std::wstring Converted(const char* text) {
  wchar_t out[vrd::kOutputUnits];
  for (wchar_t& u : out) u = 0x3C3C;
  vrd::WriteOutputText(text, out);
  size_t n = 0;
  while (n < vrd::kOutputUnits && out[n] != 0) ++n;
  EXPECT_LT(n, static_cast<size_t>(vrd::kOutputUnits)) << "no terminator";
  return std::wstring(out, n);
}

TEST(CodePage, TheExpectedAnsiCodePageIsInForce) {
  const char* expected = std::getenv("VRD_EXPECT_ACP");
  if (expected == nullptr || *expected == '\0') {
    GTEST_SKIP() << "ANSI code page " << GetACP() << "; no VRD_EXPECT_ACP given";
  }
  EXPECT_EQ(GetACP(), static_cast<UINT>(std::strtoul(expected, nullptr, 10)));
}

TEST(CodePage, OutputTextsComeThroughTheAnsiCodePage) {
  const UINT acp = GetACP();
  struct Case {
    const char* what;
    std::string ansi;
    std::wstring wide;
  };
  Case cases[] = {
      {"ASCII", "SHA256", L"SHA256"},
      {"empty", "", L""},
      {"time", "2026-12-07T22:10:36Z", L"2026-12-07T22:10:36Z"},
  };
  for (const Case& c : cases) EXPECT_EQ(Converted(c.ansi.c_str()), c.wide) << c.what;
  if (acp == 949) {
    // Code page 949 (Unified Hangul Code): two-byte Hangul syllables, KS X
    // 1001 symbols, and ASCII in between.
    const Case korean[] = {
        {"subject", "CN=VRD Test TSA,OU=\xbd\xc3\xc7\xe8,O=VRD Test,C=KR",
         L"CN=VRD Test TSA,OU=\uC2DC\uD5D8,O=VRD Test,C=KR"},
        {"first and last KS X 1001 syllables", "\xb0\xa1 \xc8\xfe", L"\uAC00 \uD79D"},
        {"UHC extension syllable", "\x81\x41", L"\uAC02"},
    };
    for (const Case& c : korean) EXPECT_EQ(Converted(c.ansi.c_str()), c.wide) << c.what;
  } else if (acp == 1252) {
    const Case western[] = {
        {"Latin-1 letters", "caf\xe9 M\xfcnchen", L"caf\u00E9 M\u00FCnchen"},
        {"euro sign", "\x80", L"\u20AC"},
    };
    for (const Case& c : western) EXPECT_EQ(Converted(c.ansi.c_str()), c.wide) << c.what;
  }
}

TEST(CodePage, LongTextsStopAtTheBufferWithATerminator) {
  // 600 two-byte characters in code page 949, 600 single bytes elsewhere:
  // either way more units than a 512-unit buffer holds.
  const std::string unit = GetACP() == 949 ? "\xb0\xa1" : "a";
  std::string text;
  for (int i = 0; i < 600; ++i) text += unit;
  const std::wstring out = Converted(text.c_str());
  ASSERT_EQ(out.size(), static_cast<size_t>(vrd::kOutputUnits - 1));
  EXPECT_EQ(out.front(), GetACP() == 949 ? L'\uAC00' : L'a');
  EXPECT_EQ(out.back(), out.front());
}

}  // namespace
