// ByteString, Format and LoadFile: status paths, exact-fit growth, the wipe
// rules observed through the block, storage failures through the allocation
// hook, and file loading edge cases.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "tests/support/MemoryTestHook.h"
#include "util/ByteString.h"
#include "util/LoadFile.h"

#if !defined(_WIN32)
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace vrd {
namespace {

using testing::ScopedAllocationFailure;

std::string Str(const ByteString& s) { return std::string(s.GetData(), s.GetLength()); }

// Every byte from length to capacity (the NUL and the spare room) is zero.
void ExpectTailZero(const ByteString& s) {
  ASSERT_NE(s.block(), nullptr);
  for (int i = s.GetLength(); i <= s.capacity(); ++i) EXPECT_EQ(s.block()[i], 0) << "at " << i;
}

TEST(ByteString, EmptyStringHasNonNullEmptyText) {
  ByteString s;
  EXPECT_EQ(s.GetLength(), 0);
  ASSERT_NE(s.GetData(), nullptr);
  EXPECT_STREQ(s.GetData(), "");
  EXPECT_EQ(s.block(), nullptr);
  ByteString null_text(static_cast<const char*>(nullptr));
  EXPECT_EQ(null_text.GetLength(), 0);
  EXPECT_EQ(null_text.status(), ByteString::kOk);
}

TEST(ByteString, SetDataEmptiesButKeepsAndWipesBlock) {
  struct Case {
    const void* bytes;
    int count;
  } cases[] = {{nullptr, 5}, {"abc", 0}, {"abc", -4}};
  for (const Case& c : cases) {
    ByteString s("abcdef");
    const char* block = s.block();
    EXPECT_EQ(s.SetData(c.bytes, c.count), ByteString::kOk);
    EXPECT_EQ(s.GetLength(), 0);
    EXPECT_EQ(s.block(), block);
    EXPECT_EQ(s.capacity(), 6);
    ExpectTailZero(s);
  }
}

TEST(ByteString, ExactFitGrowthNeverShrinks) {
  ByteString s("ab");
  EXPECT_EQ(s.capacity(), 2);
  ASSERT_EQ(s.SetData("abcdefgh", 8), ByteString::kOk);
  EXPECT_EQ(s.capacity(), 8);
  s = "xy";
  EXPECT_EQ(s.capacity(), 8);
  EXPECT_EQ(Str(s), "xy");
  ExpectTailZero(s);  // bytes 2..8 of the old content were wiped
  s += "123";
  EXPECT_EQ(s.capacity(), 8);  // fits: same block
  s += "4567";
  EXPECT_EQ(s.capacity(), 9);  // exactly the new length
  EXPECT_EQ(Str(s), "xy1234567");
}

TEST(ByteString, AssignKeepsBlockWhenContentFits) {
  ByteString s("abcdef");
  const char* block = s.block();
  ByteString other("xy");
  s = other;
  EXPECT_EQ(s.block(), block);
  EXPECT_EQ(Str(s), "xy");
  ExpectTailZero(s);
  s = s;  // self-assignment changes nothing
  EXPECT_EQ(Str(s), "xy");
  ByteString empty;
  s = empty;
  EXPECT_EQ(s.GetLength(), 0);
  EXPECT_EQ(s.block(), block);
  s = "";
  EXPECT_EQ(s.GetLength(), 0);
  EXPECT_EQ(s.status(), ByteString::kOk);
}

TEST(ByteString, SetDataFromOwnBlockKeepsBytes) {
  ByteString s("hello world");
  ASSERT_EQ(s.SetData(s.GetData() + 6, 5), ByteString::kOk);
  EXPECT_EQ(Str(s), "world");
  ExpectTailZero(s);
}

TEST(ByteString, AppendForms) {
  ByteString ab("ab");
  ab += ab;
  EXPECT_EQ(Str(ab), "abab");
  ByteString big("abcdef");
  big = "ab";
  big += big;  // fits in the old block
  EXPECT_EQ(Str(big), "abab");

  ByteString s("ab");
  s += '\0';
  EXPECT_EQ(s.GetLength(), 3);
  EXPECT_STREQ(s.GetData(), "ab");
  s += static_cast<char>(0xFF);
  EXPECT_EQ(static_cast<unsigned char>(s.GetData()[3]), 0xFF);

  ByteString t("x");
  t += static_cast<const char*>(nullptr);
  t += "";
  EXPECT_EQ(Str(t), "x");
  ByteString empty;
  t += empty;
  EXPECT_EQ(Str(t), "x");

  ByteString c1(ByteString("ab"), ByteString("cd"));
  ByteString c2(ByteString("ab"), "cd");
  EXPECT_EQ(Str(c1), "abcd");
  EXPECT_EQ(Str(c2), "abcd");
}

TEST(ByteString, Compare) {
  struct Case {
    const char* a;
    const char* b;
    bool differ;
  } cases[] = {{"abc", "ABC", true},
               {"abc", "abc", false},
               {"ab", "abc", true},
               {"", "", false},
               {"a", "", true}};
  for (const Case& c : cases) {
    EXPECT_EQ(ByteString(c.a) != ByteString(c.b), c.differ) << c.a << " vs " << c.b;
  }
  ByteString with_block("abc");
  with_block = "";
  EXPECT_FALSE(with_block != ByteString());
  ByteString n1, n2;
  ASSERT_EQ(n1.SetData("a\0b", 3), 0);
  ASSERT_EQ(n2.SetData("a\0c", 3), 0);
  EXPECT_TRUE(n1 != n2);  // bytes after an embedded NUL count
}

TEST(ByteString, GetAt) {
  ByteString s("abc");
  char out = 'z';
  EXPECT_EQ(s.GetAt(1, &out), 0);
  EXPECT_EQ(out, 'b');
  for (int index : {-1, 3, 100}) {
    out = 'z';
    EXPECT_EQ(s.GetAt(index, &out), 1);
    EXPECT_EQ(out, 'z');
  }
}

TEST(ByteString, Mid) {
  struct Case {
    int start, count;
    const char* want;
    int source_status;
  } cases[] = {
      {0, 3, "abc", ByteString::kOk},
      {1, 2, "bc", ByteString::kOk},
      {0, 0, "", ByteString::kOk},
      {2, -5, "", ByteString::kOk},
      {3, 0, "", ByteString::kRange},
      {1, 5, "", ByteString::kRange},
      {-1, 1, "", ByteString::kRange},
      {1, INT32_MAX, "", ByteString::kRange},
      {INT32_MAX, INT32_MAX, "", ByteString::kRange},
  };
  for (const Case& c : cases) {
    ByteString s("abc");
    ByteString m = s.Mid(c.start, c.count);
    EXPECT_EQ(Str(m), c.want) << c.start << "," << c.count;
    EXPECT_EQ(s.status(), c.source_status) << c.start << "," << c.count;
    EXPECT_EQ(m.status(), ByteString::kOk);
  }
}

TEST(ByteString, HexEncode) {
  ByteString s;
  ASSERT_EQ(s.SetData("\x00\xAB\xFF", 3), 0);
  EXPECT_EQ(Str(s.HexEncode()), "00abff");
  ByteString empty;
  EXPECT_EQ(empty.HexEncode().GetLength(), 0);
  EXPECT_EQ(empty.status(), ByteString::kOk);
}

TEST(ByteString, HexDecode) {
  struct Case {
    const char* text;
    std::string want;
    int source_status;
  } cases[] = {
      {"00ABff", std::string("\x00\xAB\xFF", 3), ByteString::kOk},
      {"abc", "\xAB", ByteString::kOk},
      {"zz", std::string(1, '\0'), ByteString::kOk},
      {"G1", "\x01", ByteString::kOk},
      {"a", "", ByteString::kNothingToDecode},
      {"", "", ByteString::kNothingToDecode},
  };
  for (const Case& c : cases) {
    ByteString s(c.text);
    ByteString d = s.HexDecode();
    EXPECT_EQ(Str(d), c.want) << c.text;
    EXPECT_EQ(s.status(), c.source_status) << c.text;
  }
  ByteString high;
  ASSERT_EQ(high.SetData("\x80\xFF", 2), 0);
  EXPECT_EQ(Str(high.HexDecode()), std::string(1, '\0'));  // non-digits count as 0
}

TEST(ByteString, HexRoundTripAllBytes) {
  std::string all;
  for (int i = 0; i < 256; ++i) all += static_cast<char>(i);
  ByteString s;
  ASSERT_EQ(s.SetData(all.data(), 256), 0);
  EXPECT_EQ(Str(s.HexEncode().HexDecode()), all);
}

TEST(ByteString, CopyAndMove) {
  ByteString a("payload");
  ByteString b(a);
  EXPECT_NE(a.block(), b.block());
  EXPECT_EQ(Str(b), "payload");
  ByteString c(std::move(b));
  EXPECT_EQ(Str(c), "payload");
  EXPECT_EQ(b.GetLength(), 0);  // NOLINT: moved-from is empty by contract
  EXPECT_EQ(b.block(), nullptr);
  ByteString d("x");
  d = std::move(c);
  EXPECT_EQ(Str(d), "payload");
}

TEST(ByteString, WriteAtStaysInside) {
  ByteString s("0123456789");
  EXPECT_EQ(s.WriteAt(2, "ab", 2), ByteString::kOk);
  EXPECT_EQ(Str(s), "01ab456789");
  struct Case {
    int64_t pos;
    int count;
  } bad[] = {{-1, 2}, {9, 2}, {10, 1}, {INT64_MAX - 1, 2}, {0, -1}};
  for (const Case& c : bad) {
    EXPECT_EQ(s.WriteAt(c.pos, "zz", c.count), ByteString::kRange) << c.pos;
  }
  EXPECT_EQ(Str(s), "01ab456789");
}

TEST(ByteStringStorage, FailuresLeaveDefinedStates) {
  {
    ByteString s;
    ScopedAllocationFailure fail(1);
    EXPECT_EQ(s.SetData("abc", 3), ByteString::kNoMemory);
    EXPECT_EQ(s.GetLength(), 0);
    EXPECT_EQ(s.block(), nullptr);
  }
  {
    ScopedAllocationFailure fail(1);
    ByteString s("abc");
    EXPECT_EQ(s.status(), ByteString::kNoMemory);
    EXPECT_EQ(s.GetLength(), 0);
  }
  {
    ByteString s("ab");
    ByteString other("longer text");
    ScopedAllocationFailure fail(1);
    s = other;  // assignment: empty, no block
    EXPECT_EQ(s.status(), ByteString::kNoMemory);
    EXPECT_EQ(s.GetLength(), 0);
    EXPECT_EQ(s.block(), nullptr);
  }
  {
    ByteString s("ab");
    ScopedAllocationFailure fail(1);
    s = "longer text";
    EXPECT_EQ(s.status(), ByteString::kNoMemory);
    EXPECT_EQ(s.GetLength(), 0);
  }
  {
    ByteString s("ab");
    ScopedAllocationFailure fail(1);
    s += "cdef";  // append: unchanged
    EXPECT_EQ(s.status(), ByteString::kNoMemory);
    EXPECT_EQ(Str(s), "ab");
    ByteString other("xyz");
    s += other;
    EXPECT_EQ(Str(s), "abxyz");  // the hook failed only once: this one succeeds
  }
  {
    ByteString s("abc");
    ScopedAllocationFailure fail(1);
    EXPECT_EQ(s.HexEncode().GetLength(), 0);
    EXPECT_EQ(s.status(), ByteString::kNoMemory);
  }
  {
    ByteString s("abcd");
    ScopedAllocationFailure fail(1);
    EXPECT_EQ(s.HexDecode().GetLength(), 0);
    EXPECT_EQ(s.status(), ByteString::kNoMemory);
  }
  {
    ByteString s("abcd");
    ScopedAllocationFailure fail(1, 1);  // the work block succeeds, storing fails
    ByteString d = s.HexDecode();
    EXPECT_EQ(d.status(), ByteString::kNoMemory);
    EXPECT_EQ(d.GetLength(), 0);
  }
  {
    ByteString s("abcdef");
    ScopedAllocationFailure fail(1);
    ByteString m = s.Mid(1, 3);
    EXPECT_EQ(m.status(), ByteString::kNoMemory);
    EXPECT_EQ(s.status(), ByteString::kOk);
  }
}

TEST(ByteString, PrepareContent) {
  ByteString s("abcdefgh");
  const char* block = s.block();
  char* out = s.PrepareContent(3);
  ASSERT_EQ(out, block);  // fits: same block, old content wiped
  std::memcpy(out, "xyz", 3);
  EXPECT_EQ(Str(s), "xyz");
  ExpectTailZero(s);
  out = s.PrepareContent(20);
  ASSERT_NE(out, nullptr);
  EXPECT_EQ(s.capacity(), 20);
  EXPECT_EQ(s.GetLength(), 20);
  EXPECT_EQ(s.block()[20], 0);
  EXPECT_EQ(s.PrepareContent(0), nullptr);
  EXPECT_EQ(s.GetLength(), 0);
  EXPECT_EQ(s.status(), ByteString::kOk);
  ByteString f("ab");
  {
    ScopedAllocationFailure fail(1);
    EXPECT_EQ(f.PrepareContent(10), nullptr);
  }
  EXPECT_EQ(f.status(), ByteString::kNoMemory);
  EXPECT_EQ(f.GetLength(), 0);
  EXPECT_EQ(f.block(), nullptr);
}

TEST(Format, Basics) {
  ByteString s("old");
  EXPECT_EQ(s.Format("%d ", 42), ByteString::kOk);
  EXPECT_EQ(Str(s), "42 ");
  EXPECT_EQ(s.Format(" %d %d", -1, 2147483647), ByteString::kOk);
  EXPECT_EQ(Str(s), " -1 2147483647");
  EXPECT_EQ(s.Format("[%s:%d]%s::%s-%s(%d)", "QVHash", 48, "QVHash", "DigestData", "license", 1),
            ByteString::kOk);
  EXPECT_EQ(Str(s), "[QVHash:48]QVHash::DigestData-license(1)");
}

TEST(Format, LengthLimitIs4095) {
  const std::string fits(4095, 'x');
  ByteString s("before");
  EXPECT_EQ(s.Format("%s", fits.c_str()), ByteString::kOk);
  EXPECT_EQ(s.GetLength(), 4095);
  const std::string too_long(4096, 'y');
  EXPECT_EQ(s.Format("%s", too_long.c_str()), ByteString::kFormatFailed);
  EXPECT_EQ(s.GetLength(), 4095);
  EXPECT_EQ(s.GetData()[0], 'x');  // untouched
  EXPECT_EQ(s.Format("%s%d", fits.c_str(), 7), ByteString::kFormatFailed);
}

TEST(Format, ScratchFailureLeavesStringUntouched) {
  ByteString s("keep");
  {
    ScopedAllocationFailure fail(1);
    EXPECT_EQ(s.Format("%d", 1), ByteString::kNoMemory);
  }
  EXPECT_EQ(Str(s), "keep");
  ByteString fresh;
  {
    ScopedAllocationFailure fail(1, 1);  // scratch ok, storing fails
    EXPECT_EQ(fresh.Format("%d", 12345), ByteString::kNoMemory);
  }
  EXPECT_EQ(fresh.status(), ByteString::kNoMemory);
  EXPECT_EQ(fresh.GetLength(), 0);
}

// ---- LoadFile ----

class LoadFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
    path_ = ::testing::TempDir() + "vrd_load_" + info->name() + ".bin";
  }
  void TearDown() override { std::remove(path_.c_str()); }
  void Write(const std::string& bytes) {
    FILE* f = std::fopen(path_.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    ASSERT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), f), bytes.size());
    ASSERT_EQ(std::fclose(f), 0);
  }
  std::string path_;
};

TEST_F(LoadFileTest, NoPath) {
  ByteString out("keep");
  EXPECT_EQ(LoadFile(nullptr, out), kLoadNoPath);
  EXPECT_EQ(LoadFile("", out), kLoadNoPath);
  EXPECT_EQ(Str(out), "keep");
}

TEST_F(LoadFileTest, MissingFileAndDirectory) {
  ByteString out("keep");
  EXPECT_EQ(LoadFile((path_ + ".missing").c_str(), out), kLoadCannotOpen);
  EXPECT_EQ(LoadFile(::testing::TempDir().c_str(), out), kLoadCannotOpen);
  EXPECT_EQ(Str(out), "keep");
}

TEST_F(LoadFileTest, EmptyFileEmptiesOut) {
  Write("");
  ByteString out("previous content");
  const char* block = out.block();
  EXPECT_EQ(LoadFile(path_.c_str(), out), kLoadOk);
  EXPECT_EQ(out.GetLength(), 0);
  EXPECT_EQ(out.block(), block);
  ExpectTailZero(out);
}

TEST_F(LoadFileTest, LoadsNulBytesWhole) {
  std::string bytes("%PDF-1.7\n\0\0\x01\xFF", 13);
  bytes += std::string(100000, '\0');
  bytes += "%%EOF\n";
  Write(bytes);
  ByteString out;
  ASSERT_EQ(LoadFile(path_.c_str(), out), kLoadOk);
  EXPECT_EQ(out.GetLength(), static_cast<int>(bytes.size()));
  EXPECT_EQ(Str(out), bytes);
}

TEST_F(LoadFileTest, ReadBlockFailureKeepsOut) {
  Write("some bytes");
  ByteString out("keep");
  {
    ScopedAllocationFailure fail(1);
    EXPECT_EQ(LoadFile(path_.c_str(), out), kLoadNoMemory);
  }
  EXPECT_EQ(Str(out), "keep");
}

TEST_F(LoadFileTest, OneAllocationPerLoad) {
  Write("a longer content than before");
  ByteString out("keep");
  testing::FailAllocations(0);
  ASSERT_EQ(LoadFile(path_.c_str(), out), kLoadOk);
  EXPECT_EQ(testing::AllocationCalls(), 1);  // read straight into the result's block
  EXPECT_EQ(Str(out), "a longer content than before");
}

#if !defined(_WIN32)
TEST_F(LoadFileTest, UnreadableFile) {
  Write("secret");
  ASSERT_EQ(chmod(path_.c_str(), 0), 0);
  ByteString out("keep");
  const int rc = LoadFile(path_.c_str(), out);
  if (geteuid() == 0) {
    EXPECT_EQ(rc, kLoadOk);  // root reads anything; the path is still exercised
  } else {
    EXPECT_EQ(rc, kLoadCannotOpen);
    EXPECT_EQ(Str(out), "keep");
  }
}

// POSIX enforces no share mode (see platform/Win32Compat.h): a file that is
// open for writing elsewhere loads like any other.
TEST_F(LoadFileTest, FileOpenForWritingLoads) {
  Write("being written");
  const int writer = open(path_.c_str(), O_WRONLY);
  ASSERT_GE(writer, 0);
  ByteString out("keep");
  EXPECT_EQ(LoadFile(path_.c_str(), out), kLoadOk);
  EXPECT_EQ(Str(out), "being written");
  close(writer);
  EXPECT_EQ(LoadFile(path_.c_str(), out), kLoadOk);
  EXPECT_EQ(Str(out), "being written");
}

TEST_F(LoadFileTest, FileOfTwoGibibytesIsRefused) {
  // A sparse file: no disk space is used.
  Write("");
  ASSERT_EQ(truncate(path_.c_str(), (int64_t{1} << 31)), 0);
  ByteString out("keep");
  EXPECT_EQ(LoadFile(path_.c_str(), out), kLoadNoSize);
  EXPECT_EQ(Str(out), "keep");
  ASSERT_EQ(truncate(path_.c_str(), (int64_t{1} << 32) + 5), 0);  // low half would be 5
  EXPECT_EQ(LoadFile(path_.c_str(), out), kLoadNoSize);
  EXPECT_EQ(Str(out), "keep");
}
#endif

}  // namespace
}  // namespace vrd
