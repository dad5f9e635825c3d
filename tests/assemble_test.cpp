// Signed content assembly and token extraction, on hand-made documents and on
// documents from the independent generator (tests/support/PdfBuilder.h).
#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "api/AssembleSignedContent.h"
#include "pdf/TokenList.h"
#include "pdf/XrefLocate.h"
#include "tests/support/MemoryTestHook.h"
#include "tests/support/PdfBuilder.h"

namespace vrd {
namespace {

using test::PdfBuilder;
using test::PdfDocument;
using test::PdfOptions;

ByteString B(const std::string& s) {
  ByteString b;
  EXPECT_EQ(b.SetData(s.data(), static_cast<int>(s.size())), ByteString::kOk);
  return b;
}

std::string S(const ByteString& b) { return std::string(b.GetData(), b.GetLength()); }

// A DER-like token: SEQUENCE with a two-byte length, then filler with no
// long zero runs; `last` is its final byte.
std::string Der(size_t body, unsigned char last = 0x5a) {
  std::string der = "\x30\x82";
  der += static_cast<char>((body >> 8) & 0xFF);
  der += static_cast<char>(body & 0xFF);
  for (size_t i = 0; i + 1 < body; ++i) der += static_cast<char>(0x11 + (i * 37) % 200);
  der += static_cast<char>(last);
  return der;
}

struct Outcome {
  int rc = -1;
  std::string content;
  std::string token;
  std::string document;  // the working copy afterwards
  std::string out;       // standard output
};

const char kSentinel[] = "untouched";

Outcome Assemble(const std::string& bytes) {
  Outcome o;
  ByteString doc = B(bytes);
  ByteString content = B(kSentinel);
  ByteString token = B(kSentinel);
  ::testing::internal::CaptureStdout();
  o.rc = AssembleSignedContent(doc, content, token);
  o.out = ::testing::internal::GetCapturedStdout();
  o.content = S(content);
  o.token = S(token);
  o.document = S(doc);
  return o;
}

// ---------------------------------------------------------------------------
// Hand-made documents: one signature object in the last section.

struct Hand {
  std::string extra;  // after the /ByteRange array, before the key
  std::string key = "/Contents";
  std::string sep = " ";
  std::string open = "<";
  std::string hex;
  std::string close = ">";
  std::string after;  // objects after the signature object
  bool final_lf = true;
  // The array text for (position of open, position after close, length);
  // default "0 lt c n-c".
  std::function<std::string(int64_t, int64_t, int64_t)> ranges;
};

struct HandDoc {
  std::string bytes;
  int64_t lt = 0;
  int64_t after = 0;
};

HandDoc Make(const Hand& h) {
  auto ranges = h.ranges ? h.ranges : [](int64_t lt, int64_t c, int64_t n) {
    return "0 " + std::to_string(lt) + " " + std::to_string(c) + " " + std::to_string(n - c);
  };
  HandDoc d;
  // The array text's own width moves everything after it: iterate until the
  // text describes the document it sits in.
  std::string range_text = "0";
  for (int round = 0; round < 30; ++round) {
    std::string doc = "%PDF-1.4\n1 0 obj\n<< /Type /Sig /ByteRange [" + range_text + "]" + h.extra +
                      " " + h.key + h.sep;
    d.lt = static_cast<int64_t>(doc.size());
    doc += h.open + h.hex + h.close;
    d.after = static_cast<int64_t>(doc.size());
    doc += " >>\nendobj\n" + h.after;
    const int64_t xref = static_cast<int64_t>(doc.size());
    doc +=
        "xref\n0 2\n0000000000 65535 f \n0000000009 00000 n \ntrailer\n<< /Size 2 >>\n"
        "startxref\n" +
        std::to_string(xref) + "\n%%EOF";
    if (h.final_lf) doc += "\n";
    const std::string next = ranges(d.lt, d.after, static_cast<int64_t>(doc.size()));
    if (next == range_text) {
      d.bytes = doc;
      return d;
    }
    range_text = next;
  }
  ADD_FAILURE() << "range text does not settle";
  return d;
}

std::string Slice(const std::string& s, int64_t from, int64_t count) {
  return s.substr(static_cast<size_t>(from), static_cast<size_t>(count));
}

const std::string kDer = Der(40);
const std::string kHex = test::ToHex(kDer) + std::string(64, '0');

// ---------------------------------------------------------------------------
// End to end with the generator.

struct E2ECase {
  const char* what;
  std::string eol;
  bool imprint;
  bool encrypt;
  bool final_eol;
  int64_t hex_digits;
  std::string der;
};

class EndToEndTest : public ::testing::TestWithParam<E2ECase> {};

TEST_P(EndToEndTest, GivesTheExpectedContentAndToken) {
  const E2ECase& c = GetParam();
  PdfOptions o;
  o.eol = c.eol;
  o.contents_hex_digits = c.hex_digits;
  o.final_eol = c.final_eol;
  o.encrypt = c.encrypt;
  o.with_imprint = c.imprint;
  if (c.imprint) {
    if (!c.encrypt) o.imprint.stream_data = std::string(300, 'S') + "tail";
    o.imprint.hole1_start = 17;
    o.imprint.hole1_length = 30;
    o.imprint.hole2_start = 120;
    o.imprint.hole2_length = 45;
  }
  PdfDocument doc;
  ASSERT_TRUE(PdfBuilder(o).Build(doc));
  ASSERT_TRUE(test::EmbedToken(doc, c.der));

  const Outcome r = Assemble(doc.bytes);
  ASSERT_EQ(r.rc, ResultOk) << c.what << "\n" << r.out;
  EXPECT_EQ(r.content, doc.signed_content) << c.what;
  EXPECT_EQ(r.token, test::ExpectedTokenBytes(c.der)) << c.what;
  EXPECT_EQ(r.document, doc.working_bytes) << c.what;
  EXPECT_EQ(r.out, "") << c.what;

  // The intermediate results agree with the generator's bookkeeping.
  const ByteString list = ReadLastXrefOffsets(B(doc.bytes));
  std::string expected_list;
  for (int64_t v : doc.last_xref_offsets) expected_list += std::to_string(v) + " ";
  EXPECT_EQ(S(list), expected_list);
  std::vector<int32_t> offsets;
  ASSERT_TRUE(SplitIntegers(list, offsets));
  const int32_t p =
      LocateByteRangeValue(offsets.data(), static_cast<int32_t>(offsets.size()), B(doc.bytes));
  EXPECT_EQ(doc.bytes.substr(static_cast<size_t>(p), 2), "0 ");
}

INSTANTIATE_TEST_SUITE_P(
    Generated, EndToEndTest,
    ::testing::Values(
        E2ECase{"plain LF", "\n", false, false, true, 8192, Der(1500)},
        E2ECase{"plain CR LF", "\r\n", false, false, true, 8192, Der(1500)},
        E2ECase{"no final line end", "\n", false, false, false, 8192, Der(1500)},
        E2ECase{"token fills the space", "\n", false, false, true, 2 * 260, Der(256)},
        E2ECase{"token ending in a0", "\n", false, false, true, 4096, Der(700, 0xa0)},
        E2ECase{"token ending in 0x", "\n", false, false, true, 4096, Der(700, 0x07)},
        E2ECase{"seal impression", "\n", true, false, true, 8192, Der(1500)},
        E2ECase{"seal impression, CR LF", "\r\n", true, false, true, 8192, Der(1500)},
        E2ECase{"seal impression, encrypted", "\n", true, true, true, 8192, Der(1500)},
        E2ECase{"seal impression, encrypted, CR LF", "\r\n", true, true, false, 8192, Der(3000)},
        E2ECase{"encrypted without seal impression", "\n", false, true, true, 8192, Der(900)}));

struct CutCase {
  const char* what;
  std::string der;
  int64_t padding;    // '0' digits left after the token's hex
  std::string token;  // expected token bytes, before the four zero bytes
};

class TokenCutTest : public ::testing::TestWithParam<CutCase> {};

TEST_P(TokenCutTest, PaddingCutMatchesTheGeneratorsModel) {
  const CutCase& c = GetParam();
  PdfOptions o;
  o.contents_hex_digits = static_cast<int64_t>(c.der.size()) * 2 + c.padding;
  PdfDocument doc;
  ASSERT_TRUE(PdfBuilder(o).Build(doc));
  ASSERT_TRUE(test::EmbedToken(doc, c.der));
  const Outcome r = Assemble(doc.bytes);
  ASSERT_EQ(r.rc, ResultOk) << c.what;
  EXPECT_EQ(r.token, c.token + std::string(4, '\0')) << c.what;
  EXPECT_EQ(r.token, test::ExpectedTokenBytes(doc, c.der)) << c.what;
  EXPECT_EQ(r.content, doc.signed_content) << c.what;
}

std::string WithZeroRun(size_t zeros) {
  std::string der = Der(300);
  der.replace(100, zeros, std::string(zeros, '\0'));
  return der;
}

INSTANTIATE_TEST_SUITE_P(
    Table, TokenCutTest,
    ::testing::Values(
        CutCase{"ample padding", Der(300), 400, Der(300)},
        CutCase{"eighteen padding digits", Der(300), 18, Der(300)},
        CutCase{"sixteen padding digits after a0", Der(300, 0xa0), 16, Der(300, 0xa0)},
        CutCase{"sixteen padding digits end on the last digit: not cut", Der(300), 16,
                Der(300) + std::string(8, '\0')},
        CutCase{"two padding digits are kept", Der(300), 2, Der(300) + std::string(1, '\0')},
        CutCase{"no padding", Der(300), 0, Der(300)},
        CutCase{"last byte zero is lost", Der(300, 0x00), 400, Der(300).substr(0, 303)},
        CutCase{"last byte a0 survives", Der(300, 0xa0), 400, Der(300, 0xa0)},
        CutCase{"seven zero bytes inside survive", WithZeroRun(7), 400, WithZeroRun(7)},
        CutCase{"eight zero bytes inside end the token", WithZeroRun(8), 400,
                WithZeroRun(8).substr(0, 100)}));

TEST(EndToEndTest, UnsignedReservedSpaceIsUnreadable) {
  PdfOptions o;
  o.contents_hex_digits = 2048;
  PdfDocument doc;
  ASSERT_TRUE(PdfBuilder(o).Build(doc));
  const Outcome r = Assemble(doc.bytes);
  EXPECT_EQ(r.rc, TokenUnreadable);
  EXPECT_EQ(r.content, kSentinel);
  EXPECT_EQ(r.token, kSentinel);
}

TEST(EndToEndTest, EncryptedTemplateIsWhatGetsHashed) {
  PdfOptions o;
  o.with_imprint = true;
  o.encrypt = true;
  o.imprint = {std::string(242, 'E'), 10, 5, 100, 20};
  PdfDocument doc;
  ASSERT_TRUE(PdfBuilder(o).Build(doc));
  ASSERT_TRUE(test::EmbedToken(doc, kDer));
  const Outcome r = Assemble(doc.bytes);
  ASSERT_EQ(r.rc, ResultOk);
  const std::string& t = test::SealTemplate();
  const std::string stream = t.substr(0, 10) + t.substr(15, 85) + t.substr(120);
  ASSERT_GE(r.content.size(), stream.size());
  EXPECT_EQ(r.content.substr(r.content.size() - stream.size()), stream);
  EXPECT_EQ(r.content.find(std::string(10, 'E')), std::string::npos);
}

// ---------------------------------------------------------------------------
// The final line feed.

// Rewrites the padded /ByteRange array text of a generated document.
std::string WithRanges(const PdfDocument& doc, int64_t b, int64_t c, int64_t d) {
  std::string bytes = doc.bytes;
  const size_t at = bytes.find("/ByteRange [") + 12;
  const size_t end = bytes.find(']', at);
  std::string text = "0 " + std::to_string(b) + " " + std::to_string(c) + " " + std::to_string(d);
  EXPECT_LE(text.size(), end - at);
  text.resize(end - at, ' ');
  bytes.replace(at, end - at, text);
  return bytes;
}

struct LfCase {
  const char* what;
  bool final_eol;
  int64_t extra_declared;  // added to the last range length
  int cut;                 // bytes cut off the end
  std::string appended;    // expected after the generator's content (less the cut)
};

class FinalLineFeedTest : public ::testing::TestWithParam<LfCase> {};

TEST_P(FinalLineFeedTest, AppendsOnlyForAShortfallOfOne) {
  const LfCase& c = GetParam();
  PdfOptions o;
  o.final_eol = c.final_eol;
  o.contents_hex_digits = 512;
  PdfDocument doc;
  ASSERT_TRUE(PdfBuilder(o).Build(doc));
  ASSERT_TRUE(test::EmbedToken(doc, kDer));
  std::string bytes =
      WithRanges(doc, doc.byte_range[1], doc.byte_range[2], doc.byte_range[3] + c.extra_declared);
  bytes.resize(bytes.size() - static_cast<size_t>(c.cut));
  const Outcome r = Assemble(bytes);
  ASSERT_EQ(r.rc, ResultOk) << c.what;
  // The array text is itself signed: expect the pieces of the changed bytes.
  const int64_t b = doc.byte_range[1];
  const int64_t from = doc.byte_range[2];
  const int64_t available = static_cast<int64_t>(bytes.size()) - from;
  const int64_t declared = doc.byte_range[3] + c.extra_declared;
  const std::string expected = bytes.substr(0, static_cast<size_t>(b)) +
                               Slice(bytes, from, declared < available ? declared : available) +
                               c.appended;
  EXPECT_EQ(r.content, expected) << c.what;
}

INSTANTIATE_TEST_SUITE_P(
    Table, FinalLineFeedTest,
    ::testing::Values(LfCase{"exact ranges", true, 0, 0, ""},
                      LfCase{"last LF cut off: LF restored", true, 0, 1, "\n"},
                      LfCase{"declared one past, document ends in LF", true, 1, 0, ""},
                      LfCase{"declared one past, document ends otherwise", false, 1, 0, "\n"},
                      LfCase{"declared two past", false, 2, 0, ""},
                      LfCase{"declared one short", true, -1, 0, ""}));

// ---------------------------------------------------------------------------
// The /Contents window and the hexadecimal text.

struct ContentsCase {
  const char* what;
  std::string sep;
  std::string open;
  std::string hex;
  int rc;
  std::string token_hex;  // expected token text before completion
};

class ContentsTest : public ::testing::TestWithParam<ContentsCase> {};

TEST_P(ContentsTest, CutsTheTokenText) {
  const ContentsCase& c = GetParam();
  Hand h;
  h.sep = c.sep;
  h.open = c.open;
  h.hex = c.hex;
  const HandDoc d = Make(h);
  std::vector<int32_t> ranges = {0, static_cast<int32_t>(d.lt), static_cast<int32_t>(d.after),
                                 static_cast<int32_t>(d.bytes.size() - d.after)};
  // Without any /ByteRange the fallback finds nothing: only the pairs count.
  std::string bytes = d.bytes;
  bytes.replace(bytes.find("/ByteRange"), 10, "/ByteRangX");
  ByteString text = B("old");
  EXPECT_EQ(ExtractTokenText(B(bytes), ranges, text), c.rc) << c.what;
  const std::string expected = c.rc == ResultOk ? c.token_hex : "old";
  EXPECT_EQ(S(text), expected) << c.what;
}

const std::string kTok = test::ToHex(Der(30));
const std::string kZeros = std::string(40, '0');

INSTANTIATE_TEST_SUITE_P(
    Table, ContentsTest,
    ::testing::Values(
        ContentsCase{"no space", "", "<", kTok + kZeros, ResultOk, kTok},
        ContentsCase{"one space", " ", "<", kTok + kZeros, ResultOk, kTok},
        ContentsCase{"two spaces", "  ", "<", kTok + kZeros, ResultOk, kTok},
        ContentsCase{"three spaces: outside the window", "   ", "<", kTok + kZeros, ResultOk, ""},
        ContentsCase{"a literal string instead", " ", "(", kTok + kZeros, TokenUnreadable, ""},
        ContentsCase{"3082 after 24 digits: 24 skipped", " ", "<",
                     std::string(24, 'f') + kTok + kZeros, ResultOk, kTok},
        ContentsCase{"3082 ending on the 24th digit: kept from the start", " ", "<",
                     std::string(20, 'f') + kTok + kZeros, ResultOk, std::string(20, 'f') + kTok},
        ContentsCase{"3082 straddling the 24th digit", " ", "<",
                     std::string(21, 'f') + kTok + kZeros, ResultOk, kTok.substr(3)},
        ContentsCase{"padding cut leaves an odd count", " ", "<", "3082aa" + std::string(30, '0'),
                     ResultOk, "3082aa"},
        ContentsCase{"last byte a0", " ", "<", "3082a0" + std::string(30, '0'), ResultOk, "3082a"},
        ContentsCase{"fifteen zeros are not padding", " ", "<",
                     "3082" + std::string(15, '0') + "ab" + std::string(20, '0'), ResultOk,
                     "3082" + std::string(15, '0') + "ab"},
        ContentsCase{"sixteen zeros inside are taken for padding", " ", "<",
                     "3082" + std::string(16, '0') + "ab" + std::string(20, '0'), ResultOk, "3082"},
        ContentsCase{"no padding", " ", "<", "3082abcd", ResultOk, "3082abcd"}));

TEST(ContentsTest, NoClosingBracketIsUnreadable) {
  const std::string doc = "xx /Contents <3082abcdef";
  ByteString text;
  EXPECT_EQ(ExtractTokenText(B(doc), {0, 13}, text), TokenUnreadable);
  EXPECT_EQ(ExtractTokenText(B(doc), {0, 13, 99}, text), TokenUnreadable);
}

TEST(ContentsTest, LiteralStringStopsEvenWhenALaterPairQualifies) {
  const std::string doc = "/Contents (3082ab) /Contents <3082cd>";
  ByteString text;
  EXPECT_EQ(ExtractTokenText(B(doc), {0, 10, 0, 29}, text), TokenUnreadable);
  EXPECT_EQ(ExtractTokenText(B(doc), {0, 29, 0, 10}, text), TokenUnreadable);
  EXPECT_EQ(ExtractTokenText(B(doc), {0, 29, 40, 2}, text), ResultOk);
  EXPECT_EQ(S(text), "3082cd");
}

TEST(ContentsTest, LaterQualifyingPairReplacesTheText) {
  const std::string doc = "/Contents <3082ab> /Contents <3082cd>";
  ByteString text;
  EXPECT_EQ(ExtractTokenText(B(doc), {0, 10, 0, 29}, text), ResultOk);
  EXPECT_EQ(S(text), "3082cd");
  EXPECT_EQ(ExtractTokenText(B(doc), {0, 29, 0, 10}, text), ResultOk);
  EXPECT_EQ(S(text), "3082ab");
}

TEST(ContentsTest, HugeRangeSumsNeverWrap) {
  const std::string doc = "/Contents <3082ab>";
  ByteString text;
  // 2^31 - 1 + 2^31 - 1 would wrap to -2 in 32 bits.
  EXPECT_EQ(ExtractTokenText(B(doc), {INT32_MAX, INT32_MAX, INT32_MIN, INT32_MIN}, text), ResultOk);
  EXPECT_EQ(S(text), "");
}

// ---------------------------------------------------------------------------
// The fallback search.

struct FallbackCase {
  const char* what;
  std::string extra;
  std::string hex;
  int rc;
  std::string token;
};

class FallbackTest : public ::testing::TestWithParam<FallbackCase> {};

TEST_P(FallbackTest, SearchesFromTheStart) {
  const FallbackCase& c = GetParam();
  Hand h;
  h.extra = c.extra;
  h.hex = c.hex;
  // Pairs that end nowhere near /Contents.
  h.ranges = [](int64_t, int64_t, int64_t) { return std::string("0 10 20 30"); };
  const HandDoc d = Make(h);
  const Outcome r = Assemble(d.bytes);
  EXPECT_EQ(r.rc, c.rc) << c.what;
  if (c.rc == ResultOk) {
    EXPECT_EQ(r.content, Slice(d.bytes, 0, 10) + Slice(d.bytes, 20, 30)) << c.what;
    EXPECT_EQ(r.token, c.token) << c.what;
  } else {
    EXPECT_EQ(r.content, kSentinel);
    EXPECT_EQ(r.token, kSentinel);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Table, FallbackTest,
    ::testing::Values(FallbackCase{"found", "", kHex, ResultOk, test::ExpectedTokenBytes(kDer)},
                      FallbackCase{"3082 starts the text wherever it is", "", "ffff" + kHex,
                                   ResultOk, test::ExpectedTokenBytes(kDer)},
                      FallbackCase{"no 3082 within 30 bytes of /Contents", "",
                                   std::string(30, 'f') + kHex, TokenUnreadable, ""},
                      FallbackCase{"/Contents 1000 bytes away",
                                   " /Pad (" + std::string(1000, '.') + ")", kHex, TokenUnreadable,
                                   ""},
                      FallbackCase{"/Contents within 1000 bytes",
                                   " /Pad (" + std::string(900, '.') + ")", kHex, ResultOk,
                                   test::ExpectedTokenBytes(kDer)}));

TEST(FallbackTest, NothingFoundGivesAnEmptyText) {
  ByteString text = B("old");
  EXPECT_EQ(ExtractTokenText(B("no keys in here at all"), {0, 5}, text), ResultOk);
  EXPECT_EQ(S(text), "");
}

// ---------------------------------------------------------------------------
// Range lists.

TEST(RangeListTest, UnpairedLastValueIsIgnored) {
  Hand h;
  h.hex = kHex;
  h.ranges = [](int64_t lt, int64_t c, int64_t) {
    return "0 " + std::to_string(lt) + " " + std::to_string(c);
  };
  const HandDoc d = Make(h);
  const Outcome r = Assemble(d.bytes);
  ASSERT_EQ(r.rc, ResultOk);
  EXPECT_EQ(r.content, Slice(d.bytes, 0, d.lt));
  EXPECT_EQ(r.token, test::ExpectedTokenBytes(kDer));
}

TEST(RangeListTest, LongListsAreReadWhole) {
  Hand h;
  h.hex = kHex;
  // Ten-byte pieces up to the '<', then the rest: far beyond 99 bytes of text.
  h.ranges = [](int64_t lt, int64_t c, int64_t n) {
    std::string t;
    int64_t at = 0;
    for (; at + 10 < lt; at += 10) t += std::to_string(at) + " 10 ";
    t += std::to_string(at) + " " + std::to_string(lt - at) + " ";
    return t + std::to_string(c) + " " + std::to_string(n - c);
  };
  const HandDoc d = Make(h);
  const Outcome r = Assemble(d.bytes);
  ASSERT_EQ(r.rc, ResultOk);
  EXPECT_EQ(r.content, Slice(d.bytes, 0, d.lt) + d.bytes.substr(static_cast<size_t>(d.after)));
  EXPECT_EQ(r.token, test::ExpectedTokenBytes(kDer));
}

TEST(RangeListTest, HostileNumbersGiveEmptyOrClampedPieces) {
  Hand h;
  h.hex = kHex;
  h.ranges = [](int64_t, int64_t, int64_t) {
    return std::string("2147483647 2147483647 -2147483648 5 100 2147483647 -5 10 0 -3");
  };
  const HandDoc d = Make(h);
  const Outcome r = Assemble(d.bytes);
  ASSERT_EQ(r.rc, ResultOk);  // the token is found by the fallback search
  EXPECT_EQ(r.content, d.bytes.substr(100));
  EXPECT_EQ(r.token, test::ExpectedTokenBytes(kDer));
}

// ---------------------------------------------------------------------------
// The seal-impression block in a hand-made document.

std::string SealObject() {
  return "5 0 obj\n<< /Length 10 >>\nstream\nABCDEFGHIJ\nendstream\nendobj\n";
}

struct ImprintCase {
  const char* what;
  std::string extra;
  int rc;
  std::string stream_part;  // hashed after the byte ranges
  std::string message;
};

class HandImprintTest : public ::testing::TestWithParam<ImprintCase> {};

TEST_P(HandImprintTest, ExtendsAndSplitsTheRangeList) {
  const ImprintCase& c = GetParam();
  Hand h;
  h.extra = c.extra;
  h.hex = kHex;
  h.after = SealObject();
  const HandDoc d = Make(h);
  const Outcome r = Assemble(d.bytes);
  EXPECT_EQ(r.rc, c.rc) << c.what;
  EXPECT_EQ(r.out, c.message) << c.what;
  if (c.rc == ResultOk) {
    EXPECT_EQ(r.content, Slice(d.bytes, 0, d.lt) + d.bytes.substr(static_cast<size_t>(d.after)) +
                             c.stream_part)
        << c.what;
  } else {
    EXPECT_EQ(r.content, kSentinel) << c.what;
  }
}

const std::string kNoObjectMessage =
    "\xc0\xce\xbf\xb5\xc1\xa4\xba\xb8\xb8\xa6 \xc1\xa4\xc0\xc7\xc7\xd1 Object\xc0\xc7 \xbd\xc3"
    "\xc0\xdb\xc0\xa7\xc4\xa1\xb8\xa6 \xc3\xa3\xb4\xc2\xb5\xa5 \xbd\xc7\xc6\xd0\xc7\xdf\xbd\xc0"
    "\xb4\xcf\xb4\xd9.";

INSTANTIATE_TEST_SUITE_P(
    Table, HandImprintTest,
    ::testing::Values(ImprintCase{"one space before the bracket",
                                  " /ImprintInfo [0 0 0 0 0 0 0 5 0 R 3 2 0 6 1]", ResultOk,
                                  "ABC"
                                  "F"
                                  "HIJ",
                                  ""},
                      ImprintCase{"no space", " /ImprintInfo[0 0 0 0 0 0 0 5 0 R 3 2 0 6 1]",
                                  ResultOk, "ABCFHIJ", ""},
                      ImprintCase{"two spaces before the bracket",
                                  " /ImprintInfo  [0 0 0 0 0 0 0 5 0 R 3 2 0 6 1]",
                                  NoTimeStampToken, "", ""},
                      ImprintCase{"no holes", " /ImprintInfo [0 0 0 0 0 0 0 5 0 R 0 0 0 0 0]",
                                  ResultOk, "ABCDEFGHIJ", ""},
                      ImprintCase{"negative hole length splits once",
                                  " /ImprintInfo [0 0 0 0 0 0 0 5 0 R 3 -2 0 6 1]", ResultOk,
                                  "ABC"
                                  "BCDEF"
                                  "HIJ",
                                  ""},
                      ImprintCase{"no closing bracket: empty array names no object",
                                  " /ImprintInfo [0 0 0 0 0 0 0 5 0 R 3 2 0 6 1", NoTimeStampToken,
                                  "", kNoObjectMessage},
                      ImprintCase{"unknown object", " /ImprintInfo [0 0 0 0 0 0 0 8 0 R 3 2 0 6 1]",
                                  NoTimeStampToken, "", kNoObjectMessage}));

// ---------------------------------------------------------------------------
// Broken documents.

const std::string kStartxrefMessage =
    "StartxrefPos\xc0\xbb \xb0\xa1\xc1\xae\xbf\xc0\xc1\xf6 \xb8\xf8\xc7\xcf\xbf\xb4\xbd\xc0\xb4"
    "\xcf\xb4\xd9.";
const std::string kEofMessage =
    "EOF\xc0\xbb \xb0\xa1\xc1\xae\xbf\xc0\xc1\xf6 \xb8\xf8\xc7\xcf\xbf\xb4\xbd\xc0\xb4\xcf\xb4"
    "\xd9.";

std::string Good() {
  Hand h;
  h.hex = kHex;
  return Make(h).bytes;
}

std::string ReplaceAll(std::string s, char from, char to) {
  for (char& ch : s) {
    if (ch == from) ch = to;
  }
  return s;
}

std::string Replace(std::string s, const std::string& from, const std::string& to) {
  const size_t at = s.find(from);
  EXPECT_NE(at, std::string::npos) << from;
  if (at != std::string::npos) s.replace(at, from.size(), to);
  return s;
}

struct BrokenCase {
  const char* what;
  std::string bytes;
  int rc;
  std::string message;
};

class BrokenTest : public ::testing::TestWithParam<BrokenCase> {};

TEST_P(BrokenTest, FailsCleanly) {
  const BrokenCase& c = GetParam();
  const Outcome r = Assemble(c.bytes);
  EXPECT_EQ(r.rc, c.rc) << c.what;
  EXPECT_EQ(r.out, c.message) << c.what;
  if (c.rc != ResultOk) {
    EXPECT_EQ(r.content, kSentinel) << c.what;
    EXPECT_EQ(r.token, kSentinel) << c.what;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Table, BrokenTest,
    ::testing::Values(
        BrokenCase{"the good one", Good(), ResultOk, ""},
        BrokenCase{"empty", "", NoTimeStampToken, kStartxrefMessage},
        BrokenCase{"header only", "%PDF-1.4\n", NoTimeStampToken, kStartxrefMessage},
        BrokenCase{"no %%EOF", Replace(Good(), "%%EOF", "%%EOX"), NoTimeStampToken, kEofMessage},
        BrokenCase{"negative startxref", Replace(Good(), "startxref\n", "startxref\n-"),
                   NoTimeStampToken, ""},
        BrokenCase{"no trailer", Replace(Good(), "trailer", "trailor"), NoTimeStampToken, ""},
        BrokenCase{"no entries declared", Replace(Good(), "0 2\n", "0 0\n"), NoTimeStampToken, ""},
        BrokenCase{"more entries declared than present", Replace(Good(), "0 2\n", "0 2000000000\n"),
                   ResultOk, ""},
        BrokenCase{"no /ByteRange", Replace(Good(), "/ByteRange", "/ByteRangE"), NoTimeStampToken,
                   ""},
        BrokenCase{"no digit in the array", Replace(Good(), "/ByteRange [0", "/ByteRange [x"),
                   NoTimeStampToken, ""},
        BrokenCase{"no closing bracket", ReplaceAll(Good(), ']', ')'), NoTimeStampToken, ""},
        BrokenCase{"no closing >", ReplaceAll(Good(), '>', ')'), TokenUnreadable, ""}));

// ---------------------------------------------------------------------------
// Sweeps: truncations, single-byte changes, storage failures.

PdfDocument SmallSealDocument() {
  PdfOptions o;
  o.contents_hex_digits = 200;
  o.with_imprint = true;
  o.imprint = {"0123456789abcdefghij", 3, 2, 9, 4};
  PdfDocument doc;
  EXPECT_TRUE(PdfBuilder(o).Build(doc));
  EXPECT_TRUE(test::EmbedToken(doc, Der(60)));
  return doc;
}

const std::set<int> kAllowed = {ResultOk, TokenUnreadable, NoTimeStampToken};

TEST(SweepTest, EveryTruncationFailsCleanlyOrSucceeds) {
  const PdfDocument doc = SmallSealDocument();
  int ok = 0;
  for (size_t len = 0; len <= doc.bytes.size(); ++len) {
    const Outcome r = Assemble(doc.bytes.substr(0, len));
    ASSERT_EQ(kAllowed.count(r.rc), 1u) << len;
    if (r.rc != ResultOk) {
      ASSERT_EQ(r.content, kSentinel) << len;
      ASSERT_EQ(r.token, kSentinel) << len;
    } else {
      ++ok;
    }
  }
  // The full document and the one without its final LF.
  EXPECT_GE(ok, 2);
  EXPECT_EQ(Assemble(doc.bytes).content, doc.signed_content);
  // Without its final LF the document still verifies: the LF is restored at
  // the end of the signed content, after the seal-impression pieces.
  const std::string& sc = doc.signed_content;
  const size_t ranges_end = static_cast<size_t>(doc.byte_range[1] + doc.byte_range[3]);
  EXPECT_EQ(Assemble(doc.bytes.substr(0, doc.bytes.size() - 1)).content,
            sc.substr(0, ranges_end - 1) + sc.substr(ranges_end) + "\n");
}

TEST(SweepTest, EverySingleByteChangeFailsCleanlyOrSucceeds) {
  const PdfDocument doc = SmallSealDocument();
  const char replacements[] = {'0', ' ', ']', '[', '<', '>', '\n', '-', '\xff', '\0'};
  for (size_t at = 0; at < doc.bytes.size(); ++at) {
    for (char ch : replacements) {
      std::string bytes = doc.bytes;
      bytes[at] = ch;
      const Outcome r = Assemble(bytes);
      ASSERT_EQ(kAllowed.count(r.rc), 1u) << at;
      if (r.rc != ResultOk) {
        ASSERT_EQ(r.content, kSentinel) << at;
      }
    }
  }
}

TEST(SweepTest, StorageFailuresNeverGiveAWrongResult) {
  const PdfDocument doc = SmallSealDocument();
  int failures = 0;
  for (int skip = 0; skip < 400; ++skip) {
    ByteString bytes = B(doc.bytes);
    ByteString content = B(kSentinel);
    ByteString token = B(kSentinel);
    int rc = -1;
    ::testing::internal::CaptureStdout();
    {
      testing::ScopedAllocationFailure fail(1, skip);
      rc = AssembleSignedContent(bytes, content, token);
    }
    ::testing::internal::GetCapturedStdout();
    ASSERT_EQ(kAllowed.count(rc), 1u) << skip;
    if (rc == ResultOk) {
      ASSERT_EQ(S(content), doc.signed_content) << skip;
      ASSERT_EQ(S(token), test::ExpectedTokenBytes(Der(60))) << skip;
    } else {
      ASSERT_EQ(S(content), kSentinel) << skip;
      ++failures;
    }
  }
  EXPECT_GT(failures, 0);
}

}  // namespace
}  // namespace vrd
