// The POSIX stand-ins for the Windows services: the ANSI-to-UTF-16
// conversion (UTF-8 here) and the file calls' return conventions; through
// LoadFile, that only regular files are read and that a concurrent writer
// never signals the loading process.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "platform/Win32Compat.h"
#include "tests/support/SpecialFiles.h"
#include "util/LoadFile.h"

namespace {

#if !defined(_WIN32)

std::u16string Convert(const std::string& text, int capacity, int* rc) {
  std::u16string out(static_cast<size_t>(capacity), u'\xAAAA');
  *rc = MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, capacity ? &out[0] : nullptr, capacity);
  return out;
}

TEST(MultiByteToWideChar, DecodesUtf8WithReplacement) {
  struct Case {
    std::string in;
    std::u16string want;  // without the terminating NUL
  } cases[] = {
      {"SHA256", u"SHA256"},
      {"", u""},
      {"\xEA\xB0\x80\xEB\x82\x98", u"\uAC00\uB098"},  // Hangul
      {"\xF0\x9F\x98\x80", u"\xD83D\xDE00"},          // surrogate pair
      {"a\xFF"
       "b",
       u"a\xFFFD"
       "b"},                // invalid byte
      {"\xC3", u"\xFFFD"},  // truncated at the end
      {"\xE2\x82"
       "x",
       u"\xFFFD"
       "x"},                                              // maximal subpart
      {"\xED\xA0\x80", u"\xFFFD\xFFFD\xFFFD"},            // encoded surrogate
      {"\xC0\xAF", u"\xFFFD\xFFFD"},                      // overlong
      {"\xF4\x90\x80\x80", u"\xFFFD\xFFFD\xFFFD\xFFFD"},  // above U+10FFFF
  };
  for (const auto& c : cases) {
    int rc = 0;
    std::u16string out = Convert(c.in, 64, &rc);
    ASSERT_EQ(rc, static_cast<int>(c.want.size()) + 1) << c.in;
    EXPECT_EQ(out.substr(0, c.want.size()), c.want) << c.in;
    EXPECT_EQ(out[c.want.size()], u'\0');
  }
}

TEST(MultiByteToWideChar, SizeQueryAndInsufficientBuffer) {
  int rc = 0;
  Convert("abcdef", 0, &rc);
  EXPECT_EQ(rc, 7);
  std::u16string out = Convert("abcdef", 4, &rc);
  EXPECT_EQ(rc, 0);
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
  Convert("abcdef", 7, &rc);
  EXPECT_EQ(rc, 7);
  char16_t buf[4];
  EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, nullptr, -1, buf, 4), 0);
  EXPECT_EQ(MultiByteToWideChar(1234, 0, "a", -1, buf, 4), 0);
  EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "abc", 2, buf, 4), 2);  // explicit count, no NUL
  EXPECT_EQ(buf[0], u'a');
  EXPECT_EQ(buf[1], u'b');
}

TEST(Win32File, ReturnConventions) {
  const std::string path = ::testing::TempDir() + "vrd_platform_file.bin";
  FILE* f = std::fopen(path.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  std::fputs("0123456789", f);
  std::fclose(f);

  EXPECT_EQ(CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr),
            INVALID_HANDLE_VALUE);
  EXPECT_EQ(CreateFileA((path + "x").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                        FILE_ATTRIBUTE_NORMAL, nullptr),
            INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);

  HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  DWORD high = 99;
  EXPECT_EQ(GetFileSize(h, &high), 10u);
  EXPECT_EQ(high, 0u);
  char buf[32] = {};
  DWORD got = 0;
  EXPECT_TRUE(ReadFile(h, buf, 32, &got, nullptr));
  EXPECT_EQ(got, 10u);  // short read at end of file is success with the count
  EXPECT_STREQ(buf, "0123456789");
  EXPECT_TRUE(CloseHandle(h));
  EXPECT_FALSE(CloseHandle(INVALID_HANDLE_VALUE));
  EXPECT_EQ(GetFileSize(INVALID_HANDLE_VALUE, nullptr), INVALID_FILE_SIZE);
  std::remove(path.c_str());
}

// Directories, FIFOs (with or without a writer), devices and sockets are
// refused at once with the open failure; nothing blocks, nothing is read.
TEST(Win32File, OnlyRegularFilesOpen) {
  const vrd::test::SpecialFiles special(::testing::TempDir(), "platform");
  ASSERT_GE(special.files().size(), 8u);  // every kind could be made here
  for (const vrd::test::SpecialFile& file : special.files()) {
    SCOPED_TRACE(file.name);
    const int outcome = vrd::test::RunInChild(10, [&] {
      vrd::ByteString out("keep");
      const int code = vrd::LoadFile(file.path.c_str(), out);
      const bool kept = out.GetLength() == 4 && std::string(out.GetData(), 4) == "keep";
      HANDLE h = CreateFileA(file.path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                             OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
      const bool refused = h == INVALID_HANDLE_VALUE;
      if (!refused) CloseHandle(h);
      return code == vrd::kLoadCannotOpen && kept && refused ? 0 : 1 + code;
    });
    EXPECT_EQ(outcome, 0) << "negative: died of that signal (SIGALRM " << SIGALRM
                          << ": it hung); positive: LoadFile code + 1";
  }
}

TEST(Win32File, SymbolicLinkToRegularFileLoads) {
  const std::string target = ::testing::TempDir() + "vrd_platform_target.bin";
  const std::string link = target + ".link";
  FILE* f = std::fopen(target.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  std::fputs("%PDF", f);
  std::fclose(f);
  std::remove(link.c_str());
  ASSERT_EQ(symlink(target.c_str(), link.c_str()), 0);
  vrd::ByteString out;
  EXPECT_EQ(vrd::LoadFile(link.c_str(), out), vrd::kLoadOk);
  EXPECT_EQ(std::string(out.GetData(), static_cast<size_t>(out.GetLength())), "%PDF");
  std::remove(link.c_str());
  std::remove(target.c_str());
}

// A second process opens the file for writing again and again while this one
// loads it in a loop. Nothing may send the loader a signal (a file lease
// would: SIGIO, whose default action ends the process).
TEST(Win32File, LoadingWhileAnotherProcessOpensForWritingSurvives) {
  const std::string path =
      ::testing::TempDir() + "vrd_platform_race_" + std::to_string(getpid()) + ".pdf";
  FILE* f = std::fopen(path.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  std::fputs("%PDF-1.7 race", f);
  std::fclose(f);

  const pid_t writer = fork();
  ASSERT_GE(writer, 0);
  if (writer == 0) {
    alarm(60);  // never outlive a lost parent
    for (;;) {
      const int fd = open(path.c_str(), O_WRONLY);
      if (fd >= 0) close(fd);
    }
  }
  constexpr int kLoads = 50000;
  const int outcome = vrd::test::RunInChild(50, [&] {
    for (int i = 0; i < kLoads; ++i) {
      vrd::ByteString out;
      if (vrd::LoadFile(path.c_str(), out) != vrd::kLoadOk) return 1;
      if (out.GetLength() != 13) return 2;
    }
    return 0;
  });
  kill(writer, SIGKILL);
  int status = 0;
  waitpid(writer, &status, 0);
  std::remove(path.c_str());
  EXPECT_EQ(outcome, 0) << "negative: the loader died of that signal (SIGIO is " << SIGIO << ")";
}

#endif

}  // namespace
