#include "crypto/SignedDataDer.h"

#include <cstdint>

#include "crypto/DerHeader.h"

namespace vrd::tk {
namespace {

// X.690 identifier octets of the fields looked at.
constexpr unsigned char kSequence = 0x30;
constexpr unsigned char kSet = 0x31;
constexpr unsigned char kInteger = 0x02;
constexpr unsigned char kObjectIdentifier = 0x06;
constexpr unsigned char kContext0 = 0xA0;  // [0] constructed
constexpr unsigned char kContext1 = 0xA1;  // [1] constructed
constexpr size_t kMaxLengthOctets = 4;

struct Tlv {
  const unsigned char* start = nullptr;
  const unsigned char* content = nullptr;
  size_t content_length = 0;
  unsigned char tag = 0;
  const unsigned char* end() const { return content + content_length; }
};

// One TLV within [p, end): a low tag number and a definite length of at most
// kMaxLengthOctets octets, the most AppendHeader writes.
bool ReadTlv(const unsigned char* p, const unsigned char* end, Tlv* out) {
  DerHeader header;
  if (!ReadDerHeader(p, static_cast<size_t>(end - p), &header) || header.high_tag_number ||
      header.length_octets > kMaxLengthOctets) {
    return false;
  }
  out->start = p;
  out->tag = header.tag;
  out->content = p + header.header_length;
  out->content_length = header.content_length;
  return true;
}

// The identifier and length octets of a TLV of content_length octets, at
// most kMaxLengthOctets of length.
size_t HeaderLength(size_t content_length) {
  size_t octets = 0;
  for (size_t rest = content_length; rest != 0 && content_length >= 0x80; rest >>= 8) ++octets;
  return 2 + octets;
}

void AppendHeader(unsigned char tag, size_t length, std::string* out) {
  out->push_back(static_cast<char>(tag));
  if (length < 0x80) {
    out->push_back(static_cast<char>(length));
    return;
  }
  unsigned char octets[kMaxLengthOctets];
  size_t count = 0;
  for (size_t rest = length; rest != 0; rest >>= 8) {
    octets[count++] = static_cast<unsigned char>(rest & 0xFF);
  }
  out->push_back(static_cast<char>(0x80 | count));
  while (count > 0) out->push_back(static_cast<char>(octets[--count]));
}

void AppendBytes(const unsigned char* from, const unsigned char* to, std::string* out) {
  out->append(reinterpret_cast<const char*>(from), static_cast<size_t>(to - from));
}

}  // namespace

bool SplitCertificates(const unsigned char* der, size_t length, SplitSignedData* out,
                       bool drop_revocation_info) noexcept {
  try {
    Tlv content_info, content_type, explicit_content, signed_data;
    if (der == nullptr || !ReadTlv(der, der + length, &content_info) ||
        content_info.tag != kSequence) {
      return false;
    }
    if (!ReadTlv(content_info.content, content_info.end(), &content_type) ||
        content_type.tag != kObjectIdentifier ||
        !ReadTlv(content_type.end(), content_info.end(), &explicit_content) ||
        explicit_content.tag != kContext0 || explicit_content.end() != content_info.end() ||
        !ReadTlv(explicit_content.content, explicit_content.end(), &signed_data) ||
        signed_data.tag != kSequence || signed_data.end() != explicit_content.end()) {
      return false;
    }
    // SignedData: version, digestAlgorithms, encapContentInfo,
    // [0] certificates, [1] crls OPTIONAL, signerInfos.
    Tlv fields[6];
    size_t count = 0;
    for (const unsigned char* p = signed_data.content; p != signed_data.end(); ++count) {
      if (count == 6 || !ReadTlv(p, signed_data.end(), &fields[count])) return false;
      p = fields[count].end();
    }
    if (count < 5 || fields[0].tag != kInteger || fields[1].tag != kSet ||
        fields[2].tag != kSequence || fields[3].tag != kContext0 ||
        (count == 6 && fields[4].tag != kContext1) || fields[count - 1].tag != kSet) {
      return false;
    }
    const Tlv& certificates = fields[3];
    std::vector<std::string_view> slices;
    for (const unsigned char* p = certificates.content; p != certificates.end();) {
      Tlv cert;
      if (!ReadTlv(p, certificates.end(), &cert) || cert.tag != kSequence) return false;
      slices.emplace_back(reinterpret_cast<const char*>(cert.start),
                          static_cast<size_t>(cert.end() - cert.start));
      p = cert.end();
    }
    std::vector<std::string_view> revocation;
    for (const unsigned char* p = count == 6 ? fields[4].content : nullptr;
         p != nullptr && p != fields[4].end();) {
      Tlv choice;
      if (!ReadTlv(p, fields[4].end(), &choice)) return false;
      revocation.emplace_back(reinterpret_cast<const char*>(choice.start),
                              static_cast<size_t>(choice.end() - choice.start));
      p = choice.end();
    }
    // The SignedData's fields less the certificates (and the crls when
    // asked), in one buffer with the three enclosing headers.
    const unsigned char* const rest =
        drop_revocation_info && count == 6 ? fields[5].start : certificates.end();
    const size_t body = static_cast<size_t>(certificates.start - signed_data.content) +
                        static_cast<size_t>(signed_data.end() - rest);
    const size_t signed_tlv = HeaderLength(body) + body;
    const size_t explicit_tlv = HeaderLength(signed_tlv) + signed_tlv;
    const size_t info_body =
        static_cast<size_t>(content_type.end() - content_type.start) + explicit_tlv;
    std::string& built = out->without_certificates;
    built.clear();
    built.reserve(HeaderLength(info_body) + info_body);
    AppendHeader(kSequence, info_body, &built);
    AppendBytes(content_type.start, content_type.end(), &built);
    AppendHeader(kContext0, signed_tlv, &built);
    AppendHeader(kSequence, body, &built);
    AppendBytes(signed_data.content, certificates.start, &built);
    AppendBytes(rest, signed_data.end(), &built);
    out->certificates = std::move(slices);
    out->revocation_info = std::move(revocation);
    return true;
  } catch (...) {
    return false;  // no memory: the caller parses the whole object
  }
}

}  // namespace vrd::tk
