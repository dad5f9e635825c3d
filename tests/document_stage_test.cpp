// The document view (bounds, 64-bit positions, searches against a byte-wise
// oracle), the working document's copy-on-write over borrowed bytes, the
// signed content as pieces, and the one mapping of outcomes to result codes.
#include <gtest/gtest.h>

#include <climits>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "api/AssembleSignedContent.h"
#include "api/DocumentOutcome.h"
#include "api/ResultCodes.h"
#include "pdf/DocumentView.h"
#include "tests/support/PdfBuilder.h"

namespace vrd {
namespace {

const unsigned char* Bytes(const std::string& text) {
  return reinterpret_cast<const unsigned char*>(text.data());
}

DocumentView ViewOf(const std::string& text) {
  return DocumentView(Bytes(text), static_cast<int32_t>(text.size()));
}

// The single forward pass written byte by byte: -1 when absent.
int64_t OracleEnd(const std::string& needle, int64_t start, int64_t window,
                  const std::string& hay) {
  const auto length = static_cast<int64_t>(hay.size());
  if (needle.empty() || start >= length || window <= 0) return -1;
  const int64_t limit = start + window < length ? start + window : length;
  size_t matched = 0;
  for (int64_t position = start; position < limit; ++position) {
    if (position < 0) continue;
    if (hay[static_cast<size_t>(position)] == needle[matched]) {
      if (++matched == needle.size()) return position;
    } else {
      matched = 0;
    }
  }
  return -1;
}

TEST(DocumentViewTest, SearchesMatchTheByteWiseOracle) {
  std::mt19937 random(7);
  const std::string alphabet = "ab%E";
  for (int round = 0; round < 3000; ++round) {
    std::string hay(random() % 40, ' ');
    for (char& byte : hay) byte = alphabet[random() % alphabet.size()];
    std::string needle(1 + random() % 4, ' ');
    for (char& byte : needle) byte = alphabet[random() % alphabet.size()];
    const int64_t start = static_cast<int64_t>(random() % 50) - 5;
    const int64_t window = static_cast<int64_t>(random() % 50) - 3;
    const DocumentView view = ViewOf(hay);
    const int64_t unbounded = OracleEnd(needle, start, INT64_MAX / 2, hay);
    EXPECT_EQ(view.FindEnd(needle, start).value_or(-1), unbounded) << hay << " " << needle;
    EXPECT_EQ(view.FindStart(needle, start).value_or(-1),
              unbounded < 0 ? -1 : unbounded - static_cast<int64_t>(needle.size()) + 1);
    EXPECT_EQ(view.FindEndWithin(needle, start, window).value_or(-1),
              OracleEnd(needle, start, window, hay))
        << hay << " " << needle << " " << start << " " << window;
  }
}

TEST(DocumentViewTest, NoBackUpAfterAPartialMatch) {
  const struct {
    const char* hay;
    const char* needle;
    int64_t end;
  } cases[] = {{"aaab", "aab", -1},
               {"%%%EOF", "%%EOF", -1},
               {"%% %%EOF", "%%EOF", 7},
               {"0000000000000000x", "0000000000000000", 15},
               {"", "a", -1},
               {"abc", "", -1}};
  for (const auto& c : cases) {
    EXPECT_EQ(ViewOf(c.hay).FindEnd(c.needle, 0).value_or(-1), c.end) << c.hay;
  }
}

TEST(DocumentViewTest, ReadsNeverLeaveTheDocument) {
  const std::string text = "0123456789";
  const DocumentView view = ViewOf(text);
  const struct {
    int64_t start;
    int64_t count;
    bool inside;
  } spans[] = {{0, 10, true},         {9, 1, true},
               {10, 0, true},         {10, 1, false},
               {-1, 2, false},        {0, 11, false},
               {5, -1, false},        {INT64_MAX, 1, false},
               {1, INT64_MAX, false}, {INT32_MAX, INT32_MAX, false}};
  for (const auto& span : spans) {
    EXPECT_EQ(view.Span(span.start, span.count).has_value(), span.inside)
        << span.start << " " << span.count;
  }
  EXPECT_FALSE(view.ByteAt(-1).has_value());
  EXPECT_FALSE(view.ByteAt(10).has_value());
  EXPECT_EQ(view.ByteAt(9).value_or(0), '9');
  EXPECT_FALSE(view.ByteIs(int64_t{1} << 40, '0'));
  EXPECT_EQ(view.Copy(3, 0)->GetLength(), 0);
  EXPECT_FALSE(view.Copy(8, 3).has_value());
  EXPECT_EQ(std::string(view.Copy(2, 3)->GetData(), 3), "234");
  EXPECT_EQ(DocumentView(nullptr, 5).length(), 0);
  EXPECT_EQ(DocumentView(Bytes(text), -4).length(), 0);
  // A search that starts or ends far outside finds nothing and does not wrap.
  EXPECT_FALSE(view.FindEnd("0", int64_t{1} << 40).has_value());
  EXPECT_EQ(view.FindEndWithin("9", -(int64_t{1} << 40), int64_t{1} << 41).value_or(-1), 9);
  EXPECT_FALSE(view.FindEndWithin("0", -(int64_t{1} << 40), 14).has_value());
}

TEST(DocumentViewTest, SectionWalkVisitsTheLastSectionFirst) {
  std::string doc(1000, '.');
  doc.replace(950, 3, "KEY");
  doc.replace(100, 3, "KEY");
  const std::vector<int32_t> offsets = {0, 500, 300, 900};
  const DocumentView view = ViewOf(doc);
  EXPECT_EQ(view.FindInSections("KEY", offsets).value_or(-1), 950);
  EXPECT_EQ(view.Section(offsets, 1).length, -200);
  EXPECT_EQ(view.Section(offsets, 3).length, 100);
  EXPECT_EQ(view.Section(offsets, 4).length, 0);
  std::string only_middle(1000, '.');
  only_middle.replace(600, 3, "KEY");
  EXPECT_EQ(ViewOf(only_middle).FindInSections("KEY", offsets).value_or(-1), 600);
  EXPECT_FALSE(view.FindInSections("KEY", {}).has_value());
  // A one-byte match ending at position 0 does not count.
  EXPECT_FALSE(ViewOf("K...").FindInSections("K", {0}).has_value());
}

TEST(DocumentViewTest, SkipLineEndsStopsAtTheLimit) {
  const std::string text = "\r\n\n\nx";
  EXPECT_EQ(ViewOf(text).SkipLineEnds(0, 3), 3);
  EXPECT_EQ(ViewOf(text).SkipLineEnds(0, 10), 4);
  EXPECT_EQ(ViewOf(text).SkipLineEnds(4, 10), 4);
  EXPECT_EQ(ViewOf(text).SkipLineEnds(9, 10), 9);
}

// --- the working document and the pieces ------------------------------------

std::string Joined(const SignedContent& content) {
  std::string bytes;
  for (const ByteSpan& piece : content.pieces) {
    bytes.append(reinterpret_cast<const char*>(piece.data), piece.length);
  }
  return bytes;
}

test::PdfDocument Stamped(bool seal, bool encrypt) {
  test::PdfOptions options;
  options.with_imprint = seal;
  options.encrypt = encrypt;
  if (seal) {
    if (!encrypt) options.imprint.stream_data = std::string(200, 'S');
    options.imprint.hole1_start = 10;
    options.imprint.hole1_length = 20;
    options.imprint.hole2_start = 100;
    options.imprint.hole2_length = 30;
  }
  test::PdfDocument document;
  EXPECT_TRUE(test::PdfBuilder(options).Build(document));
  std::string der = "\x30\x82\x01\x00";
  for (int index = 0; index < 256; ++index) der += static_cast<char>(0x11 + index % 200);
  EXPECT_TRUE(test::EmbedToken(document, der));
  return document;
}

TEST(WorkingDocumentTest, BorrowedBytesAreHashedWhereTheyLie) {
  const test::PdfDocument pdf = Stamped(/*seal=*/true, /*encrypt=*/false);
  WorkingDocument document(Bytes(pdf.bytes), static_cast<int32_t>(pdf.bytes.size()));
  SignedContent content;
  ByteString token;
  ASSERT_EQ(AssembleDocument(document, content, token), DocumentOutcome::kAssembled);
  EXPECT_EQ(Joined(content), pdf.signed_content);
  const unsigned char* begin = Bytes(pdf.bytes);
  for (const ByteSpan& piece : content.pieces) {
    EXPECT_GE(piece.data, begin);
    EXPECT_LE(piece.data + piece.length, begin + pdf.bytes.size());
  }
  // Two byte ranges, then the stream data in three parts around two holes.
  EXPECT_EQ(content.pieces.size(), 5u);
}

TEST(WorkingDocumentTest, TheTemplateGoesIntoACopyNeverIntoTheCallersBytes) {
  const test::PdfDocument pdf = Stamped(/*seal=*/true, /*encrypt=*/true);
  const std::string before = pdf.bytes;
  WorkingDocument document(Bytes(pdf.bytes), static_cast<int32_t>(pdf.bytes.size()));
  SignedContent content;
  ByteString token;
  ASSERT_EQ(AssembleDocument(document, content, token), DocumentOutcome::kAssembled);
  EXPECT_EQ(pdf.bytes, before);
  EXPECT_EQ(Joined(content), pdf.signed_content);
  EXPECT_NE(pdf.bytes, pdf.working_bytes);
  const DocumentView copy = document.View();
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(copy.Span(0, copy.length())->data),
                        static_cast<size_t>(copy.length())),
            pdf.working_bytes);

  // The caller's own copy is written in place.
  ByteString owned;
  ASSERT_EQ(owned.SetData(pdf.bytes.data(), static_cast<int>(pdf.bytes.size())), ByteString::kOk);
  WorkingDocument in_place(owned);
  SignedContent owned_content;
  ASSERT_EQ(AssembleDocument(in_place, owned_content, token), DocumentOutcome::kAssembled);
  EXPECT_EQ(std::string(owned.GetData(), static_cast<size_t>(owned.GetLength())),
            pdf.working_bytes);
  EXPECT_EQ(Joined(owned_content), pdf.signed_content);
}

TEST(WorkingDocumentTest, WritesOutsideTheDocumentCopyNothing) {
  const std::string bytes = "0123456789";
  WorkingDocument document(Bytes(bytes), static_cast<int32_t>(bytes.size()));
  EXPECT_EQ(document.WriteAt(8, "abc", 3), ByteString::kRange);
  EXPECT_EQ(document.WriteAt(-1, "abc", 3), ByteString::kRange);
  EXPECT_EQ(document.View().Span(0, 1)->data, Bytes(bytes));
  EXPECT_EQ(document.WriteAt(7, "abc", 3), ByteString::kOk);
  EXPECT_NE(document.View().Span(0, 1)->data, Bytes(bytes));
  EXPECT_EQ(bytes, "0123456789");
  EXPECT_EQ(document.View().ByteAt(9).value_or(0), 'c');
}

TEST(WorkingDocumentTest, TheAppendedLineFeedIsAPieceOfItsOwn) {
  // The final LF cut off after stamping: the declared ranges exceed the
  // document by one byte, and one LF stands in for it.
  const test::PdfDocument pdf = Stamped(/*seal=*/false, /*encrypt=*/false);
  ASSERT_EQ(pdf.bytes.back(), '\n');
  const std::string cut = pdf.bytes.substr(0, pdf.bytes.size() - 1);
  WorkingDocument document(Bytes(cut), static_cast<int32_t>(cut.size()));
  SignedContent content;
  ByteString token;
  ASSERT_EQ(AssembleDocument(document, content, token), DocumentOutcome::kAssembled);
  ASSERT_FALSE(content.pieces.empty());
  const ByteSpan last = content.pieces.back();
  EXPECT_EQ(last.length, 1u);
  EXPECT_EQ(last.data[0], '\n');
  EXPECT_TRUE(last.data < Bytes(cut) || last.data >= Bytes(cut) + cut.size());
  EXPECT_EQ(Joined(content), pdf.signed_content);
}

// --- outcomes -----------------------------------------------------------------

TEST(DocumentOutcomeTest, EveryOutcomeHasOneNameAndOneResultCode) {
  const struct {
    DocumentOutcome outcome;
    int code;
  } cases[] = {
      {DocumentOutcome::kAssembled, ResultOk},
      {DocumentOutcome::ERR_NOT_XREF, NoTimeStampToken},
      {DocumentOutcome::ERR_NOT_BYTERANGESTR, NoTimeStampToken},
      {DocumentOutcome::ERR_NOT_BYTERANGEEND, NoTimeStampToken},
      {DocumentOutcome::ERR_NOT_IMPRINTINFOPOS, NoTimeStampToken},
      {DocumentOutcome::ERR_NOT_IMPRINTINFO, NoTimeStampToken},
      {DocumentOutcome::ERR_NOMEM_STRUCTURE, NoTimeStampToken},
      {DocumentOutcome::ERR_NOT_CONTENTSSTR, TokenUnreadable},
      {DocumentOutcome::ERR_NOT_CONTENTSEND, TokenUnreadable},
      {DocumentOutcome::ERR_NOT_FALLBACKCONTENTS, TokenUnreadable},
      {DocumentOutcome::ERR_NOT_FALLBACKDER, TokenUnreadable},
      {DocumentOutcome::ERR_CONTENT_TOO_LONG, TokenUnreadable},
      {DocumentOutcome::ERR_NOMEM_TOKEN, TokenUnreadable},
      {DocumentOutcome::ERR_NO_WORKING_COPY, FileUnreadable},
  };
  std::set<std::string> names;
  for (const auto& c : cases) {
    const std::string name = DocumentOutcomeName(c.outcome);
    EXPECT_EQ(ResultCodeOf(c.outcome), c.code) << name;
    EXPECT_TRUE(names.insert(name).second) << name;
    EXPECT_TRUE(name == "OK" || name.rfind("ERR_", 0) == 0) << name;
    EXPECT_GT(std::string(DocumentOutcomeMeaning(c.outcome)).size(), 10u) << name;
  }
  EXPECT_STREQ(DocumentOutcomeName(DocumentOutcome::ERR_NOT_XREF), "ERR_NOT_XREF");
  EXPECT_STREQ(DocumentOutcomeMeaning(DocumentOutcome::ERR_NOT_XREF),
               "no classic cross-reference section at the end of the file");
  // A value outside the enumeration never passes for success.
  EXPECT_EQ(ResultCodeOf(static_cast<DocumentOutcome>(99)), NoTimeStampToken);
}

}  // namespace
}  // namespace vrd
