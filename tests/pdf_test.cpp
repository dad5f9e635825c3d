// PDF scanning: the bounded searches, token lists, the last cross-reference
// section, the /ByteRange value and the seal-impression block.
#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <random>
#include <string>
#include <thread>
#include <vector>

#if defined(__GLIBC__)
#include <iconv.h>
#endif

#include "pdf/DocumentView.h"
#include "pdf/ImprintBlock.h"
#include "pdf/Messages.h"
#include "pdf/TokenList.h"
#include "pdf/TokenSearch.h"
#include "pdf/XrefLocate.h"

namespace vrd {
namespace {

ByteString B(const std::string& s) {
  ByteString b;
  EXPECT_EQ(b.SetData(s.data(), static_cast<int>(s.size())), ByteString::kOk);
  return b;
}

std::string S(const ByteString& b) { return std::string(b.GetData(), b.GetLength()); }

constexpr int32_t kNoWindow = INT32_MIN;

// The byte-wise single pass, written independently of the library: the
// oracle for the memchr skip-ahead.
int64_t ReferenceEnd(const std::string& needle, int64_t start, int64_t window,
                     const std::string& hay) {
  const int64_t n = static_cast<int64_t>(hay.size());
  if (start >= n || needle.empty()) return -1;
  if (window != kNoWindow && window <= 0) return -1;
  size_t k = 0;
  for (int64_t p = start, examined = 0; p < n; ++p, ++examined) {
    if (window != kNoWindow && examined >= window) break;
    if (p < 0) {
      k = 0;
      continue;
    }
    if (hay[static_cast<size_t>(p)] == needle[k]) {
      ++k;
    } else {
      k = 0;
    }
    if (k == needle.size()) return p;
  }
  return -1;
}

// ---------------------------------------------------------------------------
// Forward searches.

struct SearchCase {
  const char* what;
  std::string hay;
  std::string needle;
  int32_t start;
  int32_t window;  // kNoWindow: FindTokenEnd / FindTokenStart
  int32_t end;     // expected index of the match's last byte, or -1
};

class SearchTest : public ::testing::TestWithParam<SearchCase> {};

TEST_P(SearchTest, FindsTheDocumentedByte) {
  const SearchCase& c = GetParam();
  const ByteString hay = B(c.hay);
  const ByteString needle = B(c.needle);
  const int32_t n = static_cast<int32_t>(c.needle.size());
  // The C-text forms measure the needle up to its first NUL.
  const bool c_text = c.needle.find('\0') == std::string::npos;
  if (c.window == kNoWindow) {
    EXPECT_EQ(FindTokenEnd(needle, c.start, hay), c.end);
    EXPECT_EQ(FindTokenStart(needle, c.start, hay), c.end < 0 ? -1 : c.end - n + 1);
    if (c_text) {
      EXPECT_EQ(FindTokenEnd(c.needle.c_str(), c.start, hay), c.end);
      EXPECT_EQ(FindTokenStart(c.needle.c_str(), c.start, hay), c.end < 0 ? -1 : c.end - n + 1);
    }
  } else {
    EXPECT_EQ(FindTokenEndWithin(needle, c.start, c.window, hay), c.end);
    if (c_text) {
      EXPECT_EQ(FindTokenEndWithin(c.needle.c_str(), c.start, c.window, hay), c.end);
    }
  }
  EXPECT_EQ(ReferenceEnd(c.needle, c.start, c.window, c.hay), c.end) << "table entry is wrong";
}

const std::string k16Zeros(16, '0');

INSTANTIATE_TEST_SUITE_P(
    Table, SearchTest,
    ::testing::Values(
        SearchCase{"keyword at the end", "xx startxref\n123", "startxref", 0, kNoWindow, 11},
        SearchCase{"no back-up: aab in aaab", "aaab", "aab", 0, kNoWindow, -1},
        SearchCase{"no back-up: %%EOF in %%%EOF", "%%%EOF", "%%EOF", 0, kNoWindow, -1},
        SearchCase{"restart after a full mismatch", "%% %%EOF", "%%EOF", 0, kNoWindow, 7},
        SearchCase{"first of two matches", "ab ab", "ab", 0, kNoWindow, 1},
        SearchCase{"start skips an earlier match", "ab ab", "ab", 1, kNoWindow, 4},
        SearchCase{"start at length", "abc", "c", 3, kNoWindow, -1},
        SearchCase{"start beyond length", "abc", "c", 40, kNoWindow, -1},
        SearchCase{"negative start scans from 0", "abc", "ab", -5, kNoWindow, 1},
        SearchCase{"needle longer than haystack", "ab", "abc", 0, kNoWindow, -1},
        SearchCase{"high bytes compare unsigned", "a\xff\xfe\x80", "\xfe\x80", 0, kNoWindow, 3},
        SearchCase{"NUL bytes are ordinary", std::string("a\0b\0c", 5), std::string("b\0c", 3), 0,
                   kNoWindow, 4},
        SearchCase{"case-sensitive", "STARTXREF startxref", "startxref", 0, kNoWindow, 18},
        SearchCase{"equal-byte needle: first long run", "0001" + std::string(20, '0'), k16Zeros, 0,
                   kNoWindow, 19},
        SearchCase{"equal-byte needle: run too short", "1" + std::string(15, '0') + "1", k16Zeros,
                   0, kNoWindow, -1},
        SearchCase{"no token boundaries", "x212 0 obj", "12 0 obj", 0, kNoWindow, 9},
        SearchCase{"no back-up inside an object number", "112 0 obj", "12 0 obj", 0, kNoWindow, -1},
        SearchCase{"bracket right after key", "ImprintInfo[", "[", 11, 2, 11},
        SearchCase{"bracket one space after key", "ImprintInfo [", "[", 11, 2, 12},
        SearchCase{"bracket two spaces after key", "ImprintInfo  [", "[", 11, 2, -1},
        SearchCase{"match ending on the window's last byte", "..abcd..", "bcd", 2, 4, 5},
        SearchCase{"match ending one past the window", "..abcd..", "bcd", 2, 3, -1},
        SearchCase{"window beyond the haystack is clamped", "abcd", "cd", 1, 100, 3},
        SearchCase{"window of zero", "abcd", "a", 0, 0, -1},
        SearchCase{"negative window", "abcd", "a", 0, -4, -1},
        SearchCase{"negative start, window reaching 10", "0123456789abc", "89a", -3, 14, 10},
        SearchCase{"negative start, window stopping at 10", "0123456789abc", "9ab", -3, 14, -1},
        SearchCase{"window entirely below 0", "abc", "a", -20, 5, -1},
        SearchCase{"empty needle", "abc", "", 0, kNoWindow, -1}));

TEST(SearchTest, SkipAheadGivesTheByteWiseAnswer) {
  std::mt19937 rng(4242);
  const std::string alphabet = "aab%EO";
  for (int round = 0; round < 3000; ++round) {
    std::string hay(rng() % 40, ' ');
    for (char& ch : hay) ch = alphabet[rng() % alphabet.size()];
    std::string needle(1 + rng() % 4, ' ');
    for (char& ch : needle) ch = alphabet[rng() % alphabet.size()];
    const int32_t start = static_cast<int32_t>(rng() % 50) - 5;
    const int32_t window = static_cast<int32_t>(rng() % 50) - 3;
    const ByteString h = B(hay);
    ASSERT_EQ(FindTokenEnd(needle.c_str(), start, h), ReferenceEnd(needle, start, kNoWindow, hay))
        << hay << " / " << needle << " from " << start;
    ASSERT_EQ(FindTokenEndWithin(needle.c_str(), start, window, h),
              ReferenceEnd(needle, start, window, hay))
        << hay << " / " << needle << " from " << start << " window " << window;
  }
}

TEST(SearchTest, CallersNeedleIsUnchanged) {
  const ByteString needle = B("obj");
  const ByteString hay = B("1 0 obj");
  EXPECT_EQ(FindTokenStart(needle, 0, hay), 4);
  EXPECT_EQ(S(needle), "obj");
}

// ---------------------------------------------------------------------------
// Lines.

struct LineCase {
  std::string hay;
  int32_t start;
  int32_t end;
  std::string line;
};

class ReadLineTest : public ::testing::TestWithParam<LineCase> {};

TEST_P(ReadLineTest, StopsAtTheFirstLineEndBeforeEnd) {
  const LineCase& c = GetParam();
  const ByteString hay = B(c.hay);
  const ByteSpan line = DocumentView(hay).LineAt(c.start, c.end);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(line.data), line.length), c.line);
}

INSTANTIATE_TEST_SUITE_P(Table, ReadLineTest,
                         ::testing::Values(LineCase{"abc\r\ndef", 0, 8, "abc"},
                                           LineCase{"abc\r\ndef", 5, 8, "def"},
                                           LineCase{"abc\ndef", 0, 2, "ab"},
                                           LineCase{"abc\rdef", 1, 7, "bc"},
                                           LineCase{"abc", 2, 2, ""}, LineCase{"abc", 3, 1, ""},
                                           LineCase{"abc", 1, 99, "bc"}, LineCase{"abc", -2, 3, ""},
                                           LineCase{"a b\tc\n", 0, 6, "a b\tc"}));

// ---------------------------------------------------------------------------
// Section walk.

std::string Thousand(const std::vector<std::pair<int, std::string>>& marks) {
  std::string doc(1000, '.');
  for (const auto& m : marks) doc.replace(static_cast<size_t>(m.first), m.second.size(), m.second);
  return doc;
}

struct SectionCase {
  const char* what;
  std::vector<std::pair<int, std::string>> marks;
  std::vector<int32_t> offsets;
  std::string needle;
  int32_t expected;
};

class SectionWalkTest : public ::testing::TestWithParam<SectionCase> {};

TEST_P(SectionWalkTest, VisitsTheLastSectionFirst) {
  const SectionCase& c = GetParam();
  const ByteString doc = B(Thousand(c.marks));
  EXPECT_EQ(FindInSections(c.needle.c_str(), c.offsets.data(),
                           static_cast<int32_t>(c.offsets.size()), doc),
            c.expected)
      << c.what;
  EXPECT_EQ(
      FindInSections(B(c.needle), c.offsets.data(), static_cast<int32_t>(c.offsets.size()), doc),
      c.expected)
      << c.what;
}

const std::vector<int32_t> kWalk = {0, 500, 300, 900};

INSTANTIATE_TEST_SUITE_P(
    Table, SectionWalkTest,
    ::testing::Values(
        SectionCase{"last section wins", {{950, "KEY"}, {100, "KEY"}}, kWalk, "KEY", 950},
        SectionCase{"found in the second window", {{600, "KEY"}}, kWalk, "KEY", 600},
        SectionCase{"only the first section", {{100, "KEY"}}, kWalk, "KEY", 100},
        SectionCase{
            "first match inside a section", {{310, "KEY"}, {700, "KEY"}}, kWalk, "KEY", 310},
        SectionCase{"match must lie wholly in the window", {{898, "KEY"}}, {0, 899}, "KEY", -1},
        SectionCase{"nowhere", {}, kWalk, "KEY", -1},
        SectionCase{"no offsets", {{10, "KEY"}}, {}, "KEY", -1},
        SectionCase{"one-byte match at position 0 is not found", {{0, "Q"}}, {0}, "Q", -1},
        SectionCase{"one-byte match at position 1 is found", {{1, "Q"}}, {0}, "Q", 1},
        SectionCase{"5 0 obj matches 15 0 obj",
                    {{200, "15 0 obj"}, {600, "5 0 obj"}},
                    {0, 100},
                    "5 0 obj",
                    201},
        SectionCase{"offsets beyond the document", {{10, "KEY"}}, {0, 5000}, "KEY", 10},
        SectionCase{"extreme offsets", {{10, "KEY"}}, {INT32_MIN, INT32_MAX}, "KEY", 10}));

// ---------------------------------------------------------------------------
// Tokens and decimal conversion.

struct CountCase {
  std::string text;
  int32_t count;
};

class CountTokensTest : public ::testing::TestWithParam<CountCase> {};

TEST_P(CountTokensTest, SplitsOnSpacesOnly) {
  EXPECT_EQ(CountTokens(B(GetParam().text)), GetParam().count);
}

INSTANTIATE_TEST_SUITE_P(Table, CountTokensTest,
                         ::testing::Values(CountCase{"  12  0 R ", 3}, CountCase{"", 0},
                                           CountCase{"     ", 0}, CountCase{"12\r\n0", 1},
                                           CountCase{"a\tb", 1}, CountCase{"0 840 960 240", 4},
                                           CountCase{std::string("1\0 2", 4), 2}));

TEST(CountTokensTest, CountsTextOfAnyLength) {
  std::string text;
  for (int i = 0; i < 5000; ++i) text += std::to_string(i) + " ";
  ASSERT_GT(text.size(), 4096u);
  EXPECT_EQ(CountTokens(B(text)), 5000);
  std::vector<int32_t> values;
  ASSERT_TRUE(SplitIntegers(B(text), values));
  ASSERT_EQ(values.size(), 5000u);
  EXPECT_EQ(values[4999], 4999);
}

struct DecimalCase {
  std::string text;
  int32_t value;
};

class DecimalTest : public ::testing::TestWithParam<DecimalCase> {};

TEST_P(DecimalTest, ConvertsAndClamps) {
  EXPECT_EQ(DecimalValue(B(GetParam().text)), GetParam().value) << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(
    Table, DecimalTest,
    ::testing::Values(DecimalCase{"1234", 1234}, DecimalCase{"\n1234", 1234},
                      DecimalCase{" \t\r\n\v\f7", 7}, DecimalCase{"+5", 5}, DecimalCase{"-7x", -7},
                      DecimalCase{"12 34", 12}, DecimalCase{"abc", 0}, DecimalCase{"", 0},
                      DecimalCase{"-", 0}, DecimalCase{"0000001000", 1000},
                      DecimalCase{"2147483647", INT32_MAX}, DecimalCase{"2147483648", INT32_MAX},
                      DecimalCase{"-2147483648", INT32_MIN}, DecimalCase{"-2147483649", INT32_MIN},
                      DecimalCase{"99999999999999999999999", INT32_MAX},
                      DecimalCase{"-99999999999999999999999", INT32_MIN}));

TEST(TokenListTest, PicksTokensByIndex) {
  const ByteString list = B(" 0 0 0 0 0 0 0 25 0 R 120  10 0 150 8 ");
  EXPECT_EQ(S(TokenAt(list, 7)), "25");
  EXPECT_EQ(S(TokenAt(list, 9)), "R");
  EXPECT_EQ(TokenValue(list, 10), 120);
  EXPECT_EQ(TokenValue(list, 11), 10);
  EXPECT_EQ(TokenValue(list, 14), 8);
  EXPECT_EQ(S(TokenAt(list, 15)), "");
  EXPECT_EQ(TokenValue(list, 15), 0);
  EXPECT_EQ(TokenValue(list, -1), 0);
}

TEST(TokenListTest, FormatsClampedItems) {
  const int64_t values[] = {0, -5, int64_t{1} << 40, -(int64_t{1} << 40), 17};
  ByteString out = B("old");
  ASSERT_TRUE(FormatIntegerList(values, 5, out));
  EXPECT_EQ(S(out), "0 -5 2147483647 -2147483648 17 ");
  ASSERT_TRUE(FormatIntegerList(values, 0, out));
  EXPECT_EQ(S(out), "");
}

// ---------------------------------------------------------------------------
// Messages.

const std::string kMsgStartxref =
    "StartxrefPos\xc0\xbb \xb0\xa1\xc1\xae\xbf\xc0\xc1\xf6 \xb8\xf8\xc7\xcf\xbf\xb4\xbd\xc0\xb4"
    "\xcf\xb4\xd9.";
const std::string kMsgEof =
    "EOF\xc0\xbb \xb0\xa1\xc1\xae\xbf\xc0\xc1\xf6 \xb8\xf8\xc7\xcf\xbf\xb4\xbd\xc0\xb4\xcf\xb4"
    "\xd9.";
const std::string kMsgObject =
    "\xc0\xce\xbf\xb5\xc1\xa4\xba\xb8\xb8\xa6 \xc1\xa4\xc0\xc7\xc7\xd1 Object\xc0\xc7 \xbd\xc3"
    "\xc0\xdb\xc0\xa7\xc4\xa1\xb8\xa6 \xc3\xa3\xb4\xc2\xb5\xa5 \xbd\xc7\xc6\xd0\xc7\xdf\xbd\xc0"
    "\xb4\xcf\xb4\xd9.";
const std::string kMsgStream =
    "\xc0\xce\xbf\xb5\xc1\xa4\xba\xb8\xb8\xa6 \xc1\xa4\xc0\xc7\xc7\xd1 Objects\xc0\xc7 \xbd\xc3"
    "\xc0\xdb\xc0\xa7\xc4\xa1\xb8\xa6 \xc3\xa3\xb4\xc2\xb5\xa5 \xbd\xc7\xc6\xd0\xc7\xdf\xbd\xc0"
    "\xb4\xcf\xb4\xd9.";
const std::string kMsgEnd =
    "\xc0\xce\xbf\xb5\xc1\xa4\xba\xb8\xb8\xa6 \xc1\xa4\xc0\xc7\xc7\xd1 Objects\xc0\xc7 \xb8\xb6"
    "\xc1\xf6\xb8\xb7 \xc0\xa7\xc4\xa1\xb8\xa6 \xc3\xa3\xb4\xc2\xb5\xa5 \xbd\xc7\xc6\xd0\xc7\xdf"
    "\xbd\xc0\xb4\xcf\xb4\xd9.";

TEST(MessagesTest, AreTheCodePage949Bytes) {
  EXPECT_EQ(PdfMessageText(PdfMessage::kStartxrefNotFound), kMsgStartxref);
  EXPECT_EQ(PdfMessageText(PdfMessage::kEofNotFound), kMsgEof);
  EXPECT_EQ(PdfMessageText(PdfMessage::kImprintObjectMissing), kMsgObject);
  EXPECT_EQ(PdfMessageText(PdfMessage::kImprintStreamMissing), kMsgStream);
  EXPECT_EQ(PdfMessageText(PdfMessage::kImprintEndMissing), kMsgEnd);
}

#if defined(__GLIBC__)
std::string ToCp949(const std::string& utf8) {
  iconv_t cd = iconv_open("CP949", "UTF-8");
  if (cd == reinterpret_cast<iconv_t>(-1)) return "<no converter>";
  std::string in = utf8;
  std::string out(in.size() * 2 + 8, '\0');
  char* ip = &in[0];
  char* op = &out[0];
  size_t il = in.size();
  size_t ol = out.size();
  const size_t rc = iconv(cd, &ip, &il, &op, &ol);
  iconv_close(cd);
  if (rc == static_cast<size_t>(-1)) return "<conversion failed>";
  out.resize(out.size() - ol);
  return out;
}

TEST(MessagesTest, MatchTheKoreanTextsConvertedIndependently) {
  EXPECT_EQ(ToCp949("StartxrefPos을 가져오지 못하였습니다."), kMsgStartxref);
  EXPECT_EQ(ToCp949("EOF을 가져오지 못하였습니다."), kMsgEof);
  EXPECT_EQ(ToCp949("인영정보를 정의한 Object의 시작위치를 찾는데 실패했습니다."), kMsgObject);
  EXPECT_EQ(ToCp949("인영정보를 정의한 Objects의 시작위치를 찾는데 실패했습니다."), kMsgStream);
  EXPECT_EQ(ToCp949("인영정보를 정의한 Objects의 마지막 위치를 찾는데 실패했습니다."), kMsgEnd);
}
std::string Cp949ToUtf8(const std::string& cp949) {
  iconv_t cd = iconv_open("UTF-8", "CP949");
  if (cd == reinterpret_cast<iconv_t>(-1)) return "<no converter>";
  std::string in = cp949;
  std::string out(in.size() * 2 + 8, '\0');
  char* ip = &in[0];
  char* op = &out[0];
  size_t il = in.size();
  size_t ol = out.size();
  const size_t rc = iconv(cd, &ip, &il, &op, &ol);
  iconv_close(cd);
  if (rc == static_cast<size_t>(-1)) return "<conversion failed>";
  out.resize(out.size() - ol);
  return out;
}

TEST(MessagesTest, Utf8TextsAreTheCodePage949TextsConverted) {
  for (PdfMessage m :
       {PdfMessage::kStartxrefNotFound, PdfMessage::kEofNotFound, PdfMessage::kImprintObjectMissing,
        PdfMessage::kImprintStreamMissing, PdfMessage::kImprintEndMissing}) {
    EXPECT_EQ(PdfMessageUtf8Text(m), Cp949ToUtf8(PdfMessageText(m))) << static_cast<int>(m);
  }
}
#endif

struct Collected {
  std::vector<PdfMessage> messages;
  static void Receive(void* context, PdfMessage message) noexcept {
    static_cast<Collected*>(context)->messages.push_back(message);
  }
};

// A receiver takes every message of its thread, in order, and standard output
// gets none of them; scopes nest and restore.
TEST(MessagesTest, ReceiverTakesTheThreadsMessagesInsteadOfStandardOutput) {
  Collected outer;
  Collected inner;
  ::testing::internal::CaptureStdout();
  {
    ScopedPdfMessageReceiver outer_scope(&Collected::Receive, &outer);
    WritePdfMessage(PdfMessage::kEofNotFound);
    {
      ScopedPdfMessageReceiver inner_scope(&Collected::Receive, &inner);
      WritePdfMessage(PdfMessage::kImprintEndMissing);
      WritePdfMessage(PdfMessage::kImprintObjectMissing);
      {
        ScopedPdfMessageReceiver to_stdout(nullptr, nullptr);
        WritePdfMessage(PdfMessage::kStartxrefNotFound);
      }
    }
    WritePdfMessage(PdfMessage::kImprintStreamMissing);
  }
  WritePdfMessage(PdfMessage::kEofNotFound);
  const std::string out = ::testing::internal::GetCapturedStdout();
  EXPECT_EQ(outer.messages,
            (std::vector<PdfMessage>{PdfMessage::kEofNotFound, PdfMessage::kImprintStreamMissing}));
  EXPECT_EQ(inner.messages, (std::vector<PdfMessage>{PdfMessage::kImprintEndMissing,
                                                     PdfMessage::kImprintObjectMissing}));
  EXPECT_EQ(out, kMsgStartxref + kMsgEof);
}

// The receiver is per thread: another thread's messages still go to standard
// output, and the scanning functions report through it.
TEST(MessagesTest, ReceiverIsPerThreadAndFedByTheScanners) {
  Collected mine;
  ::testing::internal::CaptureStdout();
  {
    ScopedPdfMessageReceiver scope(&Collected::Receive, &mine);
    std::thread other([] { WritePdfMessage(PdfMessage::kImprintEndMissing); });
    other.join();
    EXPECT_EQ(S(ReadLastXrefOffsets(B("no keyword at the end of this document at all"))), "");
  }
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), kMsgEnd);
  EXPECT_EQ(mine.messages, (std::vector<PdfMessage>{PdfMessage::kStartxrefNotFound}));
}

// ---------------------------------------------------------------------------
// startxref, %%EOF, trailer and the cross-reference section.

struct XrefCase {
  const char* what;
  std::string doc;
  std::string list;
  std::string message;
};

class ReadLastXrefTest : public ::testing::TestWithParam<XrefCase> {};

TEST_P(ReadLastXrefTest, GivesTheListAndMessage) {
  const XrefCase& c = GetParam();
  ::testing::internal::CaptureStdout();
  const ByteString list = ReadLastXrefOffsets(B(c.doc));
  const std::string out = ::testing::internal::GetCapturedStdout();
  EXPECT_EQ(S(list), c.list) << c.what;
  EXPECT_EQ(out, c.message) << c.what;
}

// A section at position 60 whose list is '0 17 '; a decoy section at 0 gives
// '999 ' when the value after "startxref" is misread as 0.
std::string At60(const std::string& tail) {
  std::string head = "0 1\n0000000999 00000 n \n";
  head += std::string(60 - head.size() - 1, '%') + "\n";
  return head + "xref\n0 2\n0000000000 65535 f \n0000000017 00000 n \ntrailer\n<< >>\n" + tail;
}

const std::string kSection7 =
    "xref\n0 1\n0000000000 65535 f\n7 2\n0000001000 00000 n\n0000002000 00000 n\ntrailer\n";

INSTANTIATE_TEST_SUITE_P(
    Table, ReadLastXrefTest,
    ::testing::Values(
        XrefCase{"CR LF around the value", At60("startxref\r\n60\r\n%%EOF\r\n"), "0 17 ", ""},
        XrefCase{"four LF: the fourth is skipped by the conversion",
                 At60("startxref\n\n\n\n60\n%%EOF\n"), "0 17 ", ""},
        XrefCase{"no line ends at all", At60("startxref60%%EOF"), "0 17 ", ""},
        XrefCase{"trailing space after the value", At60("startxref\n60 \n%%EOF\n"), "0 17 ", ""},
        XrefCase{"no digits: value 0, decoy section", At60("startxref\n\n%%EOF\n"), "999 0 17 ",
                 ""},
        XrefCase{"startxref begins 30 bytes before the end",
                 At60("startxref\n60\n%%EOF" + std::string(12, ' ')), "0 17 ", ""},
        XrefCase{"startxref begins 31 bytes before the end",
                 At60("startxref\n60\n%%EOF" + std::string(13, ' ')), "", kMsgStartxref},
        XrefCase{"no startxref", "xref\n0 1\n0 0 f\ntrailer\n", "", kMsgStartxref},
        XrefCase{"empty document", "", "", kMsgStartxref},
        XrefCase{"no %%EOF", At60("startxref\n60\n%%EO\n"), "", kMsgEof},
        XrefCase{"%%%EOF is not found", At60("startxref\n60\n%%%EOF\n"), "", kMsgEof},
        XrefCase{"%%EOF right after startxref", "startxref%%EOF", "", ""},
        XrefCase{"the example section", kSection7 + "startxref\n0\n%%EOF\n", "0 1000 2000 ", ""},
        XrefCase{"subsection 0 0 only", "xref\n0 0\ntrailer\nstartxref\n0\n%%EOF\n", "", ""},
        XrefCase{"cross-reference stream: no trailer",
                 "1 0 obj\n<< /Type /XRef >>\nendobj\nstartxref\n0\n%%EOF\n", "", ""},
        XrefCase{"negative value: no list, no endless walk", kSection7 + "startxref\n-5\n%%EOF\n",
                 "", ""},
        XrefCase{"value beyond the document", kSection7 + "startxref\n99999\n%%EOF\n", "", ""}));

struct CollectCase {
  const char* what;
  std::string doc;
  int32_t start;
  std::string list;
};

class CollectXrefTest : public ::testing::TestWithParam<CollectCase> {};

TEST_P(CollectXrefTest, ListsEntryFirstFields) {
  const CollectCase& c = GetParam();
  EXPECT_EQ(S(CollectXrefOffsets(c.start, B(c.doc))), c.list) << c.what;
}

const std::string kLongLine = "0000000050" + std::string(300, ' ') + "00000 n";

INSTANTIATE_TEST_SUITE_P(
    Table, CollectXrefTest,
    ::testing::Values(
        CollectCase{"the example", kSection7, 0, "0 1000 2000 "},
        CollectCase{"CR LF lines",
                    "xref\r\n0 2\r\n0000000000 65535 f\r\n0000000009 00000 n\r\ntrailer", 0,
                    "0 9 "},
        CollectCase{"start inside the section", "junk 1 2\n" + kSection7, 9, "0 1000 2000 "},
        CollectCase{"declared more than present: only those present",
                    "xref\n0 1000000\n0000000000 65535 f\n0000000015 00000 n\ntrailer", 0, "0 15 "},
        CollectCase{"declared fewer than present: stops at the total",
                    "xref\n0 1\n0000000000 65535 f\n0000000015 00000 n\ntrailer", 0, "0 "},
        CollectCase{"negative declared total", "xref\n0 -3\n0000000015 00000 n\ntrailer", 0, ""},
        CollectCase{"entry lines of any length",
                    "xref\n0 2\n" + kLongLine + "\n" + kLongLine + "\ntrailer", 0, "50 50 "},
        CollectCase{"header with a long padding",
                    "xref\n0" + std::string(200, ' ') + "1\n0000000007 00000 n\ntrailer", 0, "7 "},
        CollectCase{"trailer at position 0", "trailer xref 0 1", 0, ""},
        CollectCase{"nothing between start and trailer", "xref\ntrailer", 4, ""},
        CollectCase{"no trailer", "xref\n0 1\n0000000000 65535 f\n", 0, ""},
        CollectCase{"negative start", kSection7, -1, ""},
        CollectCase{"the byte before trailer is not read",
                    "xref\n0 1\n0000000000 65535 f\n0000000015 00000 n\n1 2trailer", 0, "0 "}));

// ---------------------------------------------------------------------------
// The /ByteRange value.

struct ByteRangeCase {
  const char* what;
  std::string text;  // placed at position 20 of the object section
  int32_t offset;    // expected position relative to 20, or -1
};

class ByteRangeTest : public ::testing::TestWithParam<ByteRangeCase> {};

TEST_P(ByteRangeTest, FindsTheFirstDigit) {
  const ByteRangeCase& c = GetParam();
  const std::string doc = std::string(20, '.') + c.text;
  const int32_t offsets[] = {0, 10};
  const int32_t got = LocateByteRangeValue(offsets, 2, B(doc));
  EXPECT_EQ(got, c.offset < 0 ? -1 : 20 + c.offset) << c.what;
}

INSTANTIATE_TEST_SUITE_P(
    Table, ByteRangeTest,
    ::testing::Values(
        ByteRangeCase{"space and bracket", "/ByteRange [0 840 960 240] ", 12},
        ByteRangeCase{"bracket right after", "/ByteRange[0 840 960 240] ", 11},
        ByteRangeCase{"space inside the bracket", "/ByteRange [ 0 840 960 240] ", 13},
        ByteRangeCase{"a name inside", "/ByteRange [/X 1] ", -1},
        ByteRangeCase{"ten spaces, then a digit", "/ByteRange" + std::string(10, ' ') + "7 ", 20},
        ByteRangeCase{"eleven spaces, then a digit", "/ByteRange" + std::string(11, ' ') + "7 ",
                      -1},
        ByteRangeCase{"bracket as the tenth byte", "/ByteRange" + std::string(9, ' ') + "[7 ", 20},
        ByteRangeCase{"bracket as the eleventh byte", "/ByteRange" + std::string(10, ' ') + "[7 ",
                      -1},
        ByteRangeCase{"nine spaces inside the bracket", "/ByteRange [" + std::string(9, ' ') + "3]",
                      21},
        ByteRangeCase{"ten spaces inside the bracket", "/ByteRange [" + std::string(10, ' ') + "3]",
                      -1},
        ByteRangeCase{"no bracket: the byte after the key is passed over", "/ByteRange01 ", 11},
        ByteRangeCase{"document ends after the bracket", "/ByteRange [", -1},
        ByteRangeCase{"only the first /ByteRange counts", "/ByteRange [x] /ByteRange [1 2 3 4]",
                      -1},
        ByteRangeCase{"no key", "/Contents <00>", -1}));

TEST(ByteRangeWalkTest, LastSectionFirstAndFreeEntrySectionLast) {
  // Section 0 [0, 100), section 1 [100, 200), section 2 [200, end).
  std::string doc(300, '.');
  doc.replace(10, 14, "/ByteRange [1]");
  doc.replace(110, 14, "/ByteRange [2]");
  const int32_t offsets[] = {0, 100, 200};
  EXPECT_EQ(LocateByteRangeValue(offsets, 3, B(doc)), 122);
  doc.replace(210, 14, "/ByteRange [3]");
  EXPECT_EQ(LocateByteRangeValue(offsets, 3, B(doc)), 222);
  // A failing occurrence in a later section hands over to the earlier one.
  doc.replace(210, 14, "/ByteRange [x]");
  EXPECT_EQ(LocateByteRangeValue(offsets, 3, B(doc)), 122);
  doc.replace(110, 14, "..............");
  EXPECT_EQ(LocateByteRangeValue(offsets, 3, B(doc)), 22);
  EXPECT_EQ(LocateByteRangeValue(offsets, 0, B(doc)), -1);
  EXPECT_EQ(LocateByteRangeValue(nullptr, 3, B(doc)), -1);
}

// ---------------------------------------------------------------------------
// The seal-impression block.

TEST(SealTemplateTest, HasTheTwentyOneLines) {
  const std::string t(kSealTemplate, kSealTemplateSize);
  ASSERT_EQ(t.size(), 242u);
  EXPECT_EQ(std::string(kSealTemplate).size(), 242u);
  int lines = 0;
  for (char ch : t) lines += ch == '\n';
  EXPECT_EQ(lines, 21);
  EXPECT_EQ(t.back(), '\n');
  const std::pair<size_t, std::string> starts[] = {{0, "q\n"},
                                                   {2, "1 12 259.917 29.0435 re\n"},
                                                   {26, "W* n\n"},
                                                   {98, "1 i \n"},
                                                   {103, "/Relative"},
                                                   {142, "6.3 0 0 6.3 07.8 28.4861 Tm\n"},
                                                   {170, "( 2013/04/30\\r)Tj\n"},
                                                   {200, "(  10:31:57\\r)Tj\n"},
                                                   {220, "(     KST )Tj\n"},
                                                   {237, "Q Q \n"}};
  for (const auto& s : starts) EXPECT_EQ(t.substr(s.first, s.second.size()), s.second) << s.first;
  EXPECT_EQ(t.substr(172, 10), "2013/04/30");
  EXPECT_EQ(t.substr(203, 8), "10:31:57");
}

struct HolesResult {
  std::string holes;
  int32_t s = 0;
  int32_t n = 0;
  std::string out;
  std::string doc;
};

HolesResult RunHoles(const std::string& info, const std::string& doc_text,
                     const std::vector<int32_t>& offsets) {
  HolesResult r;
  ByteString doc = B(doc_text);
  ::testing::internal::CaptureStdout();
  r.holes = S(BuildImprintHoles(B(info), offsets.data(), static_cast<int32_t>(offsets.size()), doc,
                                r.s, r.n));
  r.out = ::testing::internal::GetCapturedStdout();
  r.doc = S(doc);
  return r;
}

const std::string kInfo25 = "0 0 0 0 0 0 0 25 0 R 120 10 0 150 8";

TEST(ImprintHolesTest, NamesTheObjectAndHoles) {
  const std::string doc = "%PDF\n25 0 obj\n<< /Length 10 >>\nstream\nABCDEFGHIJ\nendstream\n";
  const HolesResult r = RunHoles(kInfo25, doc, {0});
  const int32_t s = static_cast<int32_t>(doc.find("ABC"));
  EXPECT_EQ(r.s, s);
  EXPECT_EQ(r.n, 10);
  EXPECT_EQ(r.holes, std::to_string(s + 120) + " 10 " + std::to_string(s + 150) + " 8");
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.doc, doc);
}

struct StreamCase {
  const char* what;
  std::string doc;
  std::string data_marker;  // the first hashed byte is at its first occurrence
  int32_t length;
};

class ImprintStreamTest : public ::testing::TestWithParam<StreamCase> {};

TEST_P(ImprintStreamTest, FindsStreamDataStartAndLength) {
  const StreamCase& c = GetParam();
  const HolesResult r = RunHoles("0 0 0 0 0 0 0 5 0 R 0 0 0 0 0", c.doc, {0});
  EXPECT_EQ(r.s, static_cast<int32_t>(c.doc.find(c.data_marker))) << c.what;
  EXPECT_EQ(r.n, c.length) << c.what;
  EXPECT_EQ(r.out, "");
}

INSTANTIATE_TEST_SUITE_P(
    Table, ImprintStreamTest,
    ::testing::Values(StreamCase{"LF", "x5 0 obj<<>>stream\nABCDEFGHIJ\nendstream", "ABC", 10},
                      StreamCase{"CR LF: the CR is data",
                                 "x5 0 obj<<>>stream\r\nABCDEFGHIJ\r\nendstream", "ABC", 11},
                      StreamCase{"no line end", "x5 0 obj<<>>streamABCDEFGHIJ\nendstream", "ABC",
                                 10},
                      StreamCase{"eleven LF: the eleventh starts the data",
                                 "x5 0 obj<<>>stream" + std::string(10, '\n') + "\nABC\nendstream",
                                 std::string(1, '\n') + "ABC", 4},
                      StreamCase{"ten CR/LF all skipped",
                                 "x5 0 obj<<>>stream\r\n\r\n\r\n\r\n\r\nABC\nendstream", "ABC", 3},
                      StreamCase{"endstream right after the data",
                                 "x5 0 obj<<>>stream\nABCendstream", "ABC", 2}));

TEST(ImprintHolesTest, LaterSectionInTableOrderWins) {
  std::string doc = "5 0 obj stream\nAAAA\nendstream ";
  const int32_t second = static_cast<int32_t>(doc.size());
  doc += "5 0 obj stream\nBBBB\nendstream ";
  const HolesResult r = RunHoles("0 0 0 0 0 0 0 5 0 R 1 1 0 2 1", doc, {0, second});
  EXPECT_EQ(r.s, static_cast<int32_t>(doc.find("BBBB")));
  // The needle also matches inside "15 0 obj": the first match of the last
  // section that holds any wins.
  std::string doc15 = "x15 0 obj stream\nCCCC\nendstream 5 0 obj stream\nDDDD\nendstream";
  const HolesResult r15 = RunHoles("0 0 0 0 0 0 0 5 0 R 1 1 0 2 1", doc15, {0});
  EXPECT_EQ(r15.s, static_cast<int32_t>(doc15.find("CCCC")));
}

TEST(ImprintHolesTest, EncryptedWritesTheTemplate) {
  // "endstream" at 1000: S = 757, N = 242, bytes 757..998 are the template.
  std::string doc = "%PDF /Encrypt 9 0 R\n5 0 obj\n<< /Length 242 >>\nstream\n";
  doc += std::string(1000 - doc.size() - 1, 'Z') + "\nendstream\nendobj\n";
  ASSERT_EQ(doc.find("endstream"), 1000u);
  const HolesResult r = RunHoles("0 0 0 0 0 0 0 5 0 R 10 5 0 20 4", doc, {0});
  EXPECT_EQ(r.s, 757);
  EXPECT_EQ(r.n, 242);
  EXPECT_EQ(r.holes, "767 5 777 4");
  EXPECT_EQ(r.doc.substr(757, 242), std::string(kSealTemplate));
  EXPECT_EQ(r.doc.substr(0, 757), doc.substr(0, 757));
  EXPECT_EQ(r.doc.substr(999), doc.substr(999));
  EXPECT_EQ(r.out, "");
}

TEST(ImprintHolesTest, EncryptOnlyAtPositionZeroIsNotEncryption) {
  std::string doc = "/Encrypt 5 0 obj stream\nABCDEFGHIJ\nendstream";
  const HolesResult r = RunHoles("0 0 0 0 0 0 0 5 0 R 0 0 0 0 0", doc, {0});
  EXPECT_EQ(r.s, static_cast<int32_t>(doc.find("ABC")));
  EXPECT_EQ(r.n, 10);
  EXPECT_EQ(r.doc, doc);
  // /EncryptMetadata counts: the document is then encrypted.
  std::string enc = "x/EncryptMetadata 5 0 obj stream\n" + std::string(300, 'Q') + "\nendstream";
  const HolesResult e = RunHoles("0 0 0 0 0 0 0 5 0 R 0 0 0 0 0", enc, {0});
  EXPECT_EQ(e.n, 242);
  EXPECT_EQ(e.doc.substr(static_cast<size_t>(e.s), 242), std::string(kSealTemplate));
}

struct HoleFailureCase {
  const char* what;
  std::string doc;
  std::string holes;
  int32_t s;
  int32_t n;
  std::string message;
};

class ImprintFailureTest : public ::testing::TestWithParam<HoleFailureCase> {};

TEST_P(ImprintFailureTest, ReportsAndLeavesOutputs) {
  const HoleFailureCase& c = GetParam();
  const HolesResult r = RunHoles("0 0 0 0 0 0 0 5 0 R 3 1 0 6 1", c.doc, {0});
  EXPECT_EQ(r.doc, c.doc) << c.what;
  EXPECT_EQ(r.holes, c.holes) << c.what;
  EXPECT_EQ(r.s, c.s) << c.what;
  EXPECT_EQ(r.n, c.n) << c.what;
  EXPECT_EQ(r.out, c.message) << c.what;
}

INSTANTIATE_TEST_SUITE_P(
    Table, ImprintFailureTest,
    ::testing::Values(
        HoleFailureCase{"no object", "6 0 obj stream\nA\nendstream", "", 0, 0, kMsgObject},
        HoleFailureCase{"no stream", "x5 0 obj << >> endobj", "", 0, 0, kMsgStream},
        HoleFailureCase{"no endstream", "x5 0 obj stream\nABC", "19 1 22 1", 16, 0, kMsgEnd},
        HoleFailureCase{"encrypted, no endstream: no write", "x/Encrypt 5 0 obj stream\nABC",
                        "-241 1 -238 1", -244, 0, kMsgEnd}));

TEST(ImprintHolesTest, ArrayTextOfAnyLength) {
  const std::string info = std::string(150, '0') + " 0 0 0 0 0 0 5 0 R 2 1 0 4 1";
  const std::string doc = "x5 0 obj stream\nABCDEFGH\nendstream";
  const HolesResult r = RunHoles(info, doc, {0});
  EXPECT_EQ(r.holes, "18 1 20 1");
}

TEST(ImprintHolesTest, HugeRelativeStartsAreClampedNotWrapped) {
  const std::string doc = "x5 0 obj stream\nABCDEFGH\nendstream";
  const HolesResult r = RunHoles("0 0 0 0 0 0 0 5 0 R 2147483647 5 0 -2147483648 -1", doc, {0});
  EXPECT_EQ(r.holes, "2147483647 5 -2147483632 -1");
}

// SplitRangesAtHoles ---------------------------------------------------------

struct SplitCase {
  const char* what;
  std::string holes;
  std::string ranges;
  int32_t c;
  std::string expected;
};

class SplitTest : public ::testing::TestWithParam<SplitCase> {};

TEST_P(SplitTest, SplitsEligibleRangesOnce) {
  const SplitCase& c = GetParam();
  EXPECT_EQ(S(SplitRangesAtHoles(B(c.holes), B(c.ranges), c.c)), c.expected) << c.what;
}

// a b c d = 0 100 200 50; S = 1000, N = 300; holes at 1040 (+10), 1100 (+20).
INSTANTIATE_TEST_SUITE_P(
    Table, SplitTest,
    ::testing::Values(
        SplitCase{"the worked example", "1040 10 1100 20", "0 100 200 50 1000 300", 4,
                  // a b c d S (hs1-S) (hs1+hl1) (hs2-hs1-hl1) (hs2+hl2) (S+N-hs2-hl2) 0 0
                  "0 100 200 50 1000 40 1050 50 1120 180 0 0 "},
        SplitCase{"hole at S is not cut", "1000 10 1100 20", "0 100 200 50 1000 300", 4,
                  "0 100 200 50 1000 100 1120 180 0 0 0 0 "},
        SplitCase{"hole at S + N is not cut", "1300 10 1040 5", "0 100 200 50 1000 300", 4,
                  "0 100 200 50 1000 40 1045 255 0 0 0 0 "},
        SplitCase{"holes in reverse order", "1100 20 1040 10", "0 100 200 50 1000 300", 4,
                  "0 100 200 50 1000 40 1050 50 1120 180 0 0 "},
        SplitCase{"hole running past the end", "1290 30 1040 10", "0 100 200 50 1000 300", 4,
                  "0 100 200 50 1000 40 1050 240 1320 -20 0 0 "},
        SplitCase{"empty stream range", "1040 10 1100 20", "0 100 200 50 1000 0", 4,
                  "0 100 200 50 1000 0 0 0 0 0 0 0 "},
        SplitCase{"signature ranges are never split", "50 10 210 5", "0 100 200 50 1000 300", 4,
                  "0 100 200 50 1000 300 0 0 0 0 0 0 "},
        SplitCase{"without c every range is eligible", "50 10 210 5", "0 100 200 50", 0,
                  "0 50 60 40 200 10 215 35 0 0 "},
        SplitCase{"negative hole length splits once", "1040 -10 1100 20", "0 100 200 50 1000 300",
                  4, "0 100 200 50 1000 40 1030 70 1120 180 0 0 "},
        SplitCase{"unpaired hole integers are ignored", "1040 10 1100", "0 100 200 50 1000 300", 4,
                  "0 100 200 50 1000 40 1050 250 0 0 0 0 "},
        SplitCase{"room for both splits", "5 1 25 1", "0 10 20 10", 0, "0 5 6 4 20 5 26 4 0 0 "},
        SplitCase{"no room: the last new pair is dropped", "5 1 7 1", "0 10 0 10", 0,
                  "0 5 6 1 8 2 0 5 6 1 "},
        SplitCase{"odd count keeps its last entry", "5 1 100 1", "0 10 7", 0, "0 5 6 4 7 0 0 0 0 "},
        SplitCase{"sums beyond int32 are computed in 64 bits", "2147483000 10 0 0",
                  "2147482000 2147483647", 0, "2147482000 1000 2147483010 2147482637 0 0 0 0 "},
        SplitCase{"results beyond int32 are clamped", "2147483000 2147483647 0 0",
                  "2147482000 2147483647", 0, "2147482000 1000 2147483647 -1000 0 0 0 0 "}));

TEST(SplitTest, LongListsAreParsedWhole) {
  std::string ranges;
  std::string expected;
  for (int i = 0; i < 40; ++i) {
    ranges += std::to_string(i * 1000) + " 100 ";
    if (i == 39) {
      expected += "39000 50 39060 40 ";
    } else {
      expected += std::to_string(i * 1000) + " 100 ";
    }
  }
  ASSERT_GT(ranges.size(), 99u);
  expected += "0 0 0 0 ";
  EXPECT_EQ(S(SplitRangesAtHoles(B("39050 10 0 0"), B(ranges), 78)), expected);
}

TEST(SplitTest, NegativeLengthHolesCannotRunAway) {
  // Overlapping eligible ranges and a hole with a negative length: every
  // range is split at most once and the list keeps n + 6 entries.
  const std::string ranges = "0 100 0 100 0 100 0 100";
  const std::string out = S(SplitRangesAtHoles(B("50 -40 60 -50"), B(ranges), 0));
  EXPECT_EQ(CountTokens(B(out)), 14);
}

}  // namespace
}  // namespace vrd
