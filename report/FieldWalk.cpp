#include "report/FieldWalk.h"

#include <algorithm>
#include <exception>
#include <memory>
#include <qpdf/Buffer.hh>
#include <qpdf/Pipeline.hh>
#include <qpdf/QPDFXRefEntry.hh>
#include <stdexcept>
#include <utility>

#include "report/RawSignatures.h"

namespace vrd::report {

bool NameIs(QPDFObjectHandle dict, const char* key, const char* name) {
  if (!dict.isDictionary()) return false;
  QPDFObjectHandle value = dict.getKey(key);
  return value.isName() && value.getName() == name;
}

namespace {

bool IsSignatureDictionary(QPDFObjectHandle dict) {
  return dict.isDictionary() && dict.hasKey("/ByteRange") && dict.hasKey("/Contents");
}

}  // namespace

void Reach(QPDFObjectHandle obj, int depth, size_t* budget, std::set<QPDFObjGen>* out) {
  if (depth > kMaxFieldDepth || *budget == 0) return;
  --*budget;
  if (obj.isIndirect()) {
    if (!out->insert(obj.getObjGen()).second) return;
  }
  if (obj.isArray()) {
    const int n = obj.getArrayNItems();
    for (int i = 0; i < n && (*budget) != 0; ++i) {
      Reach(obj.getArrayItem(i), depth + 1, budget, out);
    }
  } else if (obj.isDictionary() || obj.isStream()) {
    QPDFObjectHandle dict = obj.isStream() ? obj.getDict() : obj;
    for (const std::string& key : dict.getKeys()) {
      if (key == "/Parent" || key == "/P") continue;  // back to the page tree
      Reach(dict.getKey(key), depth + 1, budget, out);
      if (*budget == 0) return;
    }
  }
}

namespace {

void NoteSignatureField(Walk* walk, const std::string& name, QPDFObjectHandle field,
                        QPDFObjectHandle value, std::optional<SignatureEntry> raw) {
  if (field.isIndirect()) walk->signature_objects.insert(field.getObjGen());
  if (value.isIndirect()) walk->signature_objects.insert(value.getObjGen());
  size_t budget = 2000;
  if (field.isDictionary()) Reach(field.getKey("/AP"), 0, &budget, &walk->signature_objects);
  if (value.isIndirect() && !walk->noted.insert(value.getObjGen()).second) return;
  walk->signatures.push_back(FoundSignature{name, value, std::move(raw)});
}

bool IsPlainName(const std::string& name) { return name.find('#') == std::string::npos; }

// The signature dictionary value is, read from the raw bytes at its
// cross-reference offset, when it is one there with what qpdf would read
// the same way: a /ByteRange of at most kMaxByteRangeItems integers, a
// hexadecimal /Contents, names without # escapes. Otherwise nothing, and
// qpdf reads it.
std::optional<SignatureEntry> RawEntry(Walk* walk, QPDFObjectHandle value) {
  if (walk->input == nullptr || walk->xref == nullptr || !value.isIndirect()) return std::nullopt;
  const QPDFObjGen objgen = value.getObjGen();
  const auto entry = walk->xref->find(objgen);
  if (entry == walk->xref->end() || entry->second.getType() != 1) return std::nullopt;
  std::optional<RawSignature> raw =
      ReadRawSignatureAt(*walk->input, walk->input->size(), entry->second.getOffset(),
                         objgen.getObj(), objgen.getGen());
  if (!raw || raw->byte_range.empty() ||
      raw->byte_range.size() > static_cast<size_t>(kMaxByteRangeItems) || !IsPlainName(raw->type) ||
      !IsPlainName(raw->sub_filter)) {
    return std::nullopt;
  }
  return SignatureEntry{"",
                        std::move(raw->type),
                        std::move(raw->sub_filter),
                        std::move(raw->byte_range),
                        std::move(raw->contents),
                        raw->contents_begin,
                        raw->contents_end};
}

// Walks a field and its /Kids; name is the parent's full name and ft the
// inherited field type.
void WalkField(Walk* walk, QPDFObjectHandle field, const std::string& parent_name,
               const std::string& inherited_type, int depth) {
  if (depth > kMaxFieldDepth || walk->visited >= kMaxVisitedObjects || !field.isDictionary()) {
    return;
  }
  ++walk->visited;
  if (field.isIndirect() && !walk->seen.insert(field.getObjGen()).second) return;
  std::string name = parent_name;
  QPDFObjectHandle partial = field.getKey("/T");
  if (partial.isString()) {
    const std::string text = partial.getUTF8Value();
    name = name.empty() ? text : name + "." + text;
  }
  std::string type = inherited_type;
  QPDFObjectHandle ft = field.getKey("/FT");
  if (ft.isName()) type = ft.getName();
  QPDFObjectHandle value = field.getKey("/V");
  if (type == "/Sig" && value.isIndirect() && walk->noted.count(value.getObjGen()) != 0) {
    NoteSignatureField(walk, name, field, value, std::nullopt);  // a value met before
  } else if (type == "/Sig") {
    std::optional<SignatureEntry> raw = RawEntry(walk, value);
    if (raw || IsSignatureDictionary(value)) {
      NoteSignatureField(walk, name, field, value, std::move(raw));
    }
  }
  QPDFObjectHandle kids = field.getKey("/Kids");
  if (kids.isArray()) {
    const int n = kids.getArrayNItems();
    for (int i = 0; i < n && walk->visited < kMaxVisitedObjects; ++i) {
      WalkField(walk, kids.getArrayItem(i), name, type, depth + 1);
    }
  }
}

}  // namespace

void WalkDocument(Walk* walk) {
  QPDFObjectHandle root = walk->pdf->getRoot();
  QPDFObjectHandle acroform = root.getKey("/AcroForm");
  if (acroform.isDictionary()) {
    QPDFObjectHandle fields = acroform.getKey("/Fields");
    if (fields.isArray()) {
      const int n = fields.getArrayNItems();
      for (int i = 0; i < n && walk->visited < kMaxVisitedObjects; ++i) {
        WalkField(walk, fields.getArrayItem(i), "", "", 0);
      }
    }
  }
  if (!walk->signatures.empty()) return;
  // No signature fields reachable: look at every object for signature
  // dictionaries (damaged forms, or values not linked from a field).
  for (const auto& [objgen, entry] : *walk->xref) {
    if (++walk->visited >= kMaxVisitedObjects) break;
    if (entry.getType() == 0) continue;
    QPDFObjectHandle obj = walk->pdf->getObject(objgen);
    if (!IsSignatureDictionary(obj)) continue;
    if (NameIs(obj, "/Type", "/Sig") || NameIs(obj, "/Type", "/DocTimeStamp") ||
        obj.getKey("/SubFilter").isName()) {
      NoteSignatureField(walk, "", QPDFObjectHandle::newNull(), obj, std::nullopt);
    }
  }
}

SignatureEntry ReadSignatureEntry(FoundSignature&& found) {
  if (found.raw) {
    SignatureEntry entry = std::move(*found.raw);
    entry.field_name = std::move(found.field_name);
    return entry;
  }
  QPDFObjectHandle signature = found.value;
  SignatureEntry entry;
  entry.field_name = found.field_name;
  QPDFObjectHandle type = signature.getKey("/Type");
  if (type.isName()) entry.type = type.getName().substr(1);
  QPDFObjectHandle sub_filter = signature.getKey("/SubFilter");
  if (sub_filter.isName()) entry.sub_filter = sub_filter.getName().substr(1);
  QPDFObjectHandle br = signature.getKey("/ByteRange");
  if (br.isArray()) {
    const int n = std::min(br.getArrayNItems(), kMaxByteRangeItems);
    for (int i = 0; i < n; ++i) {
      QPDFObjectHandle item = br.getArrayItem(i);
      if (!item.isInteger()) {  // not a /ByteRange at all: left empty, so unusable
        entry.byte_range.clear();
        break;
      }
      entry.byte_range.push_back(item.getIntValue());
    }
  }
  QPDFObjectHandle contents = signature.getKey("/Contents");
  if (contents.isString()) entry.contents = contents.getStringValue();
  return entry;
}

namespace {

// Collects what a stream decodes to, and stops the decoding once it exceeds
// its cap: a small stream may inflate to gigabytes.
class CappedBuffer final : public Pipeline {
 public:
  CappedBuffer(size_t cap, std::string* out) : Pipeline("capped", nullptr), cap_(cap), out_(out) {}
  void write(unsigned char const* data, size_t length) override {
    if (length > cap_ - out_->size()) throw std::length_error("stream data over its cap");
    out_->append(reinterpret_cast<const char*>(data), length);
  }
  void finish() override {}

 private:
  size_t cap_;
  std::string* out_;
};

// The decoded data of stream when it decodes to at most cap bytes.
bool DecodeCapped(QPDFObjectHandle stream, size_t cap, std::string* out) {
  out->clear();
  CappedBuffer buffer(cap, out);
  try {
    bool filtered = false;
    return stream.pipeStreamData(&buffer, &filtered, 0, qpdf_dl_generalized, true) && filtered;
  } catch (const std::exception&) {
    return false;  // over its cap, or damaged
  }
}

// Most items of each kind read from the /DSS, and the largest certificate
// and revocation item.
constexpr int kMaxDssItems = 1000;
constexpr size_t kMaxCertificateBytes = 64 * 1024;
constexpr size_t kMaxRevocationItemBytes = size_t{32} << 20;

// The streams of array, decoded, appended to out.
void DecodeStreams(QPDFObjectHandle array, size_t cap, std::set<QPDFObjGen>* decoded,
                   std::vector<std::string>* out) {
  if (!array.isArray()) return;
  const int n = std::min(array.getArrayNItems(), kMaxDssItems);
  for (int i = 0; i < n && out->size() < static_cast<size_t>(kMaxDssItems); ++i) {
    QPDFObjectHandle stream = array.getArrayItem(i);
    // Known streams are passed over before they are read at all.
    if (stream.isIndirect() && decoded->count(stream.getObjGen()) != 0) continue;
    if (!stream.isStream()) continue;
    if (stream.isIndirect()) decoded->insert(stream.getObjGen());
    std::string der;
    if (DecodeCapped(stream, cap, &der)) out->push_back(std::move(der));
  }
}

}  // namespace

DssItems ReadDss(QPDF* pdf, const std::set<QPDFObjGen>& skip) {
  DssItems items;
  std::set<QPDFObjGen>& decoded = items.streams;  // a stream listed again is decoded once
  decoded = skip;
  try {
    QPDFObjectHandle dss = pdf->getRoot().getKey("/DSS");
    if (!dss.isDictionary()) return items;
    DecodeStreams(dss.getKey("/Certs"), kMaxCertificateBytes, &decoded, &items.certificates);
    DecodeStreams(dss.getKey("/CRLs"), kMaxRevocationItemBytes, &decoded, &items.crls);
    DecodeStreams(dss.getKey("/OCSPs"), kMaxRevocationItemBytes, &decoded, &items.ocsps);
    QPDFObjectHandle vri = dss.getKey("/VRI");
    if (!vri.isDictionary()) return items;
    int entries = 0;
    for (const std::string& key : vri.getKeys()) {
      if (++entries > kMaxDssItems) break;
      QPDFObjectHandle entry = vri.getKey(key);
      if (!entry.isDictionary()) continue;
      DecodeStreams(entry.getKey("/Cert"), kMaxCertificateBytes, &decoded, &items.certificates);
      DecodeStreams(entry.getKey("/CRL"), kMaxRevocationItemBytes, &decoded, &items.crls);
      DecodeStreams(entry.getKey("/OCSP"), kMaxRevocationItemBytes, &decoded, &items.ocsps);
    }
  } catch (const std::exception&) {
    // A damaged /DSS only costs what could not be read.
  }
  return items;
}

}  // namespace vrd::report
