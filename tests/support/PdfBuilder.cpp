#include "tests/support/PdfBuilder.h"

#include <cstdio>

namespace vrd::test {
namespace {

constexpr int64_t kTemplateSize = 242;
// Width of the /ByteRange array text between its brackets; the numbers are
// patched in once the layout is known, padded with spaces.
constexpr size_t kByteRangeWidth = 44;

std::string Decimal(int64_t v) { return std::to_string(v); }

std::string Offset10(int64_t v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%010lld", static_cast<long long>(v));
  return buf;
}

// Deterministic filler without CR, LF or 'e' (so no "endstream" or
// end-of-line can appear inside generated stream data).
std::string Filler(uint32_t seed, size_t count) {
  std::string out;
  uint32_t x = seed * 2654435761u + 12345u;
  while (out.size() < count) {
    x = x * 1664525u + 1013904223u;
    const char c = static_cast<char>((x >> 24) & 0xFF);
    if (c == '\r' || c == '\n' || c == 'e') continue;
    out.push_back(c);
  }
  return out;
}

struct Writer {
  std::string bytes;
  std::string eol;
  int64_t pos() const { return static_cast<int64_t>(bytes.size()); }
  void Line(const std::string& text) { bytes += text + eol; }
};

std::string XrefEntry(int64_t offset, int generation, char type, const std::string& eol) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%s %05d %c", Offset10(offset).c_str(), generation, type);
  // Entries are 20 bytes: a two-byte end of line.
  return std::string(buf) + (eol == "\r\n" ? "\r\n" : " \n");
}

bool HolesWellFormed(const SealImpression& s, int64_t length) {
  return s.hole1_start > 0 && s.hole1_length >= 0 && s.hole2_length >= 0 &&
         int64_t{s.hole1_start} + s.hole1_length < s.hole2_start && s.hole2_start < length &&
         int64_t{s.hole2_start} + s.hole2_length <= length;
}

}  // namespace

const std::string& SealTemplate() {
  static const std::string kTemplate =
      "q\n"
      "1 12 259.917 29.0435 re\n"
      "W* n\n"
      "q\n"
      "1 0 0 1 1 12 cm\n"
      "1 1 257.917 27.0435 re\n"
      "W n\n"
      "1 0 0 1 -1 -12 cm\n"
      "0 g\n"
      "1 i \n"
      "/RelativeColorimetric ri\n"
      "BT\n"
      "/T1_0 1 Tf\n"
      "6.3 0 0 6.3 07.8 28.4861 Tm\n"
      "( 2013/04/30\\r)Tj\n"
      "0 -1.052 TD\n"
      "(  10:31:57\\r)Tj\n"
      "T*\n"
      "(     KST )Tj\n"
      "ET\n"
      "Q Q \n";
  return kTemplate;
}

std::string ToHex(const std::string& bytes) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out;
  out.reserve(bytes.size() * 2);
  for (unsigned char c : bytes) {
    out.push_back(kDigits[c >> 4]);
    out.push_back(kDigits[c & 15]);
  }
  return out;
}

std::string ExpectedTokenBytes(const std::string& der) { return der + std::string(4, '\0'); }

std::string ExpectedTokenBytes(const PdfDocument& document, const std::string& der) {
  std::string text = ToHex(der);
  if (static_cast<int64_t>(text.size()) > document.hex_digits) return std::string();
  text.resize(static_cast<size_t>(document.hex_digits), '0');
  if (text.substr(0, 24).find("3082") == std::string::npos) text.erase(0, 24);
  if (!text.empty()) {
    const size_t run = text.substr(0, text.size() - 1).find(std::string(16, '0'));
    if (run != std::string::npos) text.resize(run);
  }
  if (text.size() % 2 != 0) text += '0';
  auto value = [](char c) { return c <= '9' ? c - '0' : c - 'a' + 10; };
  std::string bytes;
  for (size_t i = 0; i + 1 < text.size(); i += 2) {
    bytes += static_cast<char>(value(text[i]) * 16 + value(text[i + 1]));
  }
  return bytes + std::string(4, '\0');
}

bool PdfBuilder::Build(PdfDocument& out) const {
  const PdfOptions& o = options_;
  if (o.contents_hex_digits < 0 || o.contents_hex_digits % 2 != 0) return false;
  if (o.eol != "\n" && o.eol != "\r\n") return false;

  std::string seal_data = o.imprint.stream_data;
  if (o.with_imprint) {
    if (o.encrypt && seal_data.empty()) seal_data = Filler(o.seed + 7, kTemplateSize);
    if (seal_data.empty() || seal_data[0] == '\r' || seal_data[0] == '\n') return false;
  }

  PdfDocument doc;
  Writer w;
  w.eol = o.eol;

  // Original revision.
  w.Line("%PDF-1.7");
  w.Line("%\xE2\xE3\xCF\xD3");
  const int object_count = 1 + 4 + (o.with_imprint ? 1 : 0) + (o.encrypt ? 1 : 0);
  std::vector<int64_t> offsets(static_cast<size_t>(object_count), 0);

  offsets[1] = w.pos();
  w.Line("1 0 obj");
  w.Line("<< /Type /Catalog /Pages 2 0 R >>");
  w.Line("endobj");

  offsets[2] = w.pos();
  w.Line("2 0 obj");
  w.Line("<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
  w.Line("endobj");

  offsets[3] = w.pos();
  w.Line("3 0 obj");
  w.Line("<< /Type /Page /Parent 2 0 R /MediaBox [0 0 595 842] /Contents 4 0 R >>");
  w.Line("endobj");

  const std::string page = "BT /F1 12 Tf 72 760 Td (" + o.page_text + ") Tj ET";
  offsets[4] = w.pos();
  w.Line("4 0 obj");
  w.Line("<< /Length " + Decimal(static_cast<int64_t>(page.size())) + " >>");
  w.Line("stream");
  w.Line(page);
  w.Line("endstream");
  w.Line("endobj");

  int64_t endstream_pos = -1;
  int64_t seal_data_pos = -1;
  int next = 5;
  if (o.with_imprint) {
    offsets[static_cast<size_t>(next)] = w.pos();
    doc.seal_object_offset = w.pos();
    w.Line(Decimal(next) + " 0 obj");
    w.Line("<< /Type /XObject /Subtype /Form /BBox [0 0 260 42] /Length " +
           Decimal(static_cast<int64_t>(seal_data.size())) + " >>");
    w.Line("stream");
    seal_data_pos = w.pos();
    w.Line(seal_data);
    endstream_pos = w.pos();
    w.Line("endstream");
    w.Line("endobj");
    ++next;
  }
  int encrypt_object = 0;
  if (o.encrypt) {
    encrypt_object = next;
    offsets[static_cast<size_t>(next)] = w.pos();
    w.Line(Decimal(next) + " 0 obj");
    w.Line("<< /Filter /Standard /V 2 /R 3 /Length 128 /P -3904 /O <" +
           ToHex(Filler(o.seed + 11, 32)) + "> /U <" + ToHex(Filler(o.seed + 13, 32)) + "> >>");
    w.Line("endobj");
    ++next;
  }

  const int64_t xref1 = w.pos();
  w.Line("xref");
  w.Line("0 " + Decimal(object_count));
  w.bytes += XrefEntry(0, 65535, 'f', o.eol);
  for (int i = 1; i < object_count; ++i) {
    w.bytes += XrefEntry(offsets[static_cast<size_t>(i)], 0, 'n', o.eol);
  }
  w.Line("trailer");
  std::string trailer1 = "<< /Size " + Decimal(object_count) + " /Root 1 0 R";
  if (o.encrypt) trailer1 += " /Encrypt " + Decimal(encrypt_object) + " 0 R";
  trailer1 += " /ID [<" + ToHex(Filler(o.seed, 16)) + "> <" + ToHex(Filler(o.seed, 16)) + ">] >>";
  w.Line(trailer1);
  w.Line("startxref");
  w.Line(Decimal(xref1));
  w.Line("%%EOF");

  // Incremental update: the catalog again, then the signature dictionary.
  const int sig_object = object_count;
  const int64_t catalog2 = w.pos();
  w.Line("1 0 obj");
  w.Line("<< /Type /Catalog /Pages 2 0 R /AcroForm << /SigFlags 3 >> >>");
  w.Line("endobj");

  doc.signature_object_offset = w.pos();
  w.Line(Decimal(sig_object) + " 0 obj");
  w.bytes += "<< /Type /Sig /Filter /Adobe.PPKLite /SubFilter /ETSI.RFC3161 /ByteRange [";
  const int64_t range_text_pos = w.pos();
  w.bytes += std::string(kByteRangeWidth, ' ');
  w.bytes += "]";
  if (o.with_imprint) {
    const SealImpression& s = o.imprint;
    doc.imprint_info = "0 0 0 0 0 0 0 5 0 R " + Decimal(s.hole1_start) + " " +
                       Decimal(s.hole1_length) + " 0 " + Decimal(s.hole2_start) + " " +
                       Decimal(s.hole2_length);
    w.bytes += " /ImprintInfo [" + doc.imprint_info + "]";
  }
  w.bytes += " /Contents ";
  doc.contents_open = w.pos();
  w.bytes += "<";
  doc.hex_start = w.pos();
  doc.hex_digits = o.contents_hex_digits;
  w.bytes += std::string(static_cast<size_t>(o.contents_hex_digits), '0');
  w.bytes += ">";
  const int64_t after_contents = w.pos();
  w.Line(" /M (D:20130430103157+09'00') >>");
  w.Line("endobj");

  const int64_t xref2 = w.pos();
  w.Line("xref");
  w.Line("0 1");
  w.bytes += XrefEntry(0, 65535, 'f', o.eol);
  w.Line("1 1");
  w.bytes += XrefEntry(catalog2, 0, 'n', o.eol);
  w.Line(Decimal(sig_object) + " 1");
  w.bytes += XrefEntry(doc.signature_object_offset, 0, 'n', o.eol);
  w.Line("trailer");
  w.Line("<< /Size " + Decimal(sig_object + 1) + " /Root 1 0 R /Prev " + Decimal(xref1) + " >>");
  w.Line("startxref");
  w.Line(Decimal(xref2));
  w.bytes += "%%EOF";
  if (o.final_eol) w.bytes += o.eol;

  doc.startxref = xref2;
  doc.last_xref_offsets = {0, catalog2, doc.signature_object_offset};
  const int64_t total = w.pos();
  doc.byte_range[0] = 0;
  doc.byte_range[1] = doc.contents_open;
  doc.byte_range[2] = after_contents;
  doc.byte_range[3] = total - after_contents;
  std::string ranges = "0 " + Decimal(doc.byte_range[1]) + " " + Decimal(doc.byte_range[2]) + " " +
                       Decimal(doc.byte_range[3]);
  if (ranges.size() > kByteRangeWidth) return false;
  w.bytes.replace(static_cast<size_t>(range_text_pos), ranges.size(), ranges);

  doc.bytes = w.bytes;
  doc.working_bytes = w.bytes;

  if (o.with_imprint) {
    if (o.encrypt) {
      // The template covers the 242 bytes ending two bytes before "endstream".
      doc.stream_start = endstream_pos - (kTemplateSize + 1);
      doc.stream_length = kTemplateSize;
      if (doc.stream_start < 0) return false;
      doc.working_bytes.replace(static_cast<size_t>(doc.stream_start),
                                static_cast<size_t>(kTemplateSize), SealTemplate());
    } else {
      // The byte right before "endstream" is never stream data; with CR LF
      // the CR still is.
      doc.stream_start = seal_data_pos;
      doc.stream_length = endstream_pos - 1 - seal_data_pos;
    }
    if (!HolesWellFormed(o.imprint, doc.stream_length)) return false;
  }

  const std::string& wb = doc.working_bytes;
  auto piece = [&wb](int64_t from, int64_t count) {
    return wb.substr(static_cast<size_t>(from), static_cast<size_t>(count));
  };
  doc.signed_content =
      piece(doc.byte_range[0], doc.byte_range[1]) + piece(doc.byte_range[2], doc.byte_range[3]);
  if (o.with_imprint) {
    const SealImpression& s = o.imprint;
    const int64_t S = doc.stream_start;
    const int64_t h1 = s.hole1_start, l1 = s.hole1_length, h2 = s.hole2_start, l2 = s.hole2_length;
    doc.signed_content += piece(S, h1);
    doc.signed_content += piece(S + h1 + l1, h2 - h1 - l1);
    doc.signed_content += piece(S + h2 + l2, doc.stream_length - h2 - l2);
  }
  out = std::move(doc);
  return true;
}

bool EmbedToken(PdfDocument& document, const std::string& der) {
  const std::string hex = ToHex(der);
  if (static_cast<int64_t>(hex.size()) > document.hex_digits) return false;
  std::string digits =
      hex + std::string(static_cast<size_t>(document.hex_digits) - hex.size(), '0');
  document.bytes.replace(static_cast<size_t>(document.hex_start), digits.size(), digits);
  document.working_bytes.replace(static_cast<size_t>(document.hex_start), digits.size(), digits);
  return true;
}

bool EmbedToken(PdfDocument& document, const std::vector<uint8_t>& der) {
  return EmbedToken(document, std::string(der.begin(), der.end()));
}

}  // namespace vrd::test
