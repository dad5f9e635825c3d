#include "report/Report.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <list>
#include <map>
#include <memory>
#include <qpdf/Buffer.hh>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFLogger.hh>
#include <qpdf/QPDFObjectHandle.hh>
#include <qpdf/QPDFXRefEntry.hh>
#include <set>
#include <stdexcept>
#include <utility>

#include "report/TokenReport.h"

namespace vrd::report {
namespace {

constexpr char kEofMarker[] = "%%EOF";
constexpr size_t kEofMarkerLength = sizeof kEofMarker - 1;
constexpr char kStartXref[] = "startxref";
constexpr size_t kStartXrefLength = sizeof kStartXref - 1;
// How far back from "%%EOF" the "startxref" keyword and its offset may lie.
constexpr size_t kStartXrefWindow = 64;
// Object numbers listed for a later revision that changes other things.
constexpr size_t kMaxListedObjects = 8;

std::shared_ptr<QPDFLogger> SilentLogger() {
  std::shared_ptr<QPDFLogger> logger = QPDFLogger::create();
  logger->setInfo(logger->discard());
  logger->setWarn(logger->discard());
  logger->setError(logger->discard());
  return logger;
}

// The document's bytes as the report reads them: all in memory, or from an
// open file read as needed (a read-sized buffer at a time for the long
// passes, so a large file is never held whole).
class DocumentInput final : public RangeReader {
 public:
  DocumentInput(const unsigned char* data, size_t size)
      : data_(data), size_(static_cast<int64_t>(size)), in_memory_(true) {}
  DocumentInput(int descriptor, int64_t size) : descriptor_(descriptor), size_(size) {}

  [[nodiscard]] int64_t size() const { return size_; }
  [[nodiscard]] bool in_memory() const { return in_memory_; }
  [[nodiscard]] const unsigned char* memory() const { return data_; }

  // The count bytes from offset (inside the document), or false.
  [[nodiscard]] bool ReadExactly(int64_t offset, size_t count, std::string* out) {
    if (offset < 0 || offset > size_ || static_cast<int64_t>(count) > size_ - offset) return false;
    if (in_memory_) {
      out->assign(reinterpret_cast<const char*>(data_) + offset, count);
      return true;
    }
    out->resize(count);
    return PositionedRead(offset, count, reinterpret_cast<unsigned char*>(out->data()));
  }

  bool Next(int64_t offset, size_t wanted, ByteSpan* bytes) override {
    if (in_memory_) {
      *bytes = ByteSpan{data_ + offset, wanted};
      return true;
    }
    const size_t count = std::min(wanted, kReadBuffer);
    buffer_.resize(kReadBuffer);
    if (!PositionedRead(offset, count, buffer_.data())) return false;
    *bytes = ByteSpan{buffer_.data(), count};
    return true;
  }

  // Opens the document (or its first prefix bytes) in pdf.
  void Open(QPDF* pdf, const char* description, int64_t prefix) {
    if (in_memory_) {
      pdf->processMemoryFile(description, reinterpret_cast<const char*>(data_),
                             static_cast<size_t>(prefix));
      return;
    }
    if (prefix == size_) {
      const int own = ::dup(descriptor_);
      FILE* file = own >= 0 ? ::fdopen(own, "rb") : nullptr;
      if (file == nullptr) {
        if (own >= 0) ::close(own);
        throw std::runtime_error("the file cannot be read");
      }
      pdf->processFile(description, file, true);  // qpdf closes it
      return;
    }
    // An earlier revision: its bytes, kept while pdf may read them.
    prefixes_.emplace_back();
    if (!ReadExactly(0, static_cast<size_t>(prefix), &prefixes_.back())) {
      throw std::runtime_error("the file cannot be read");
    }
    pdf->processMemoryFile(description, prefixes_.back().data(), prefixes_.back().size());
  }

 private:
  static constexpr size_t kReadBuffer = size_t{256} << 10;

  bool PositionedRead(int64_t offset, size_t count, unsigned char* out) const {
    for (size_t done = 0; done < count;) {
      const ssize_t got = ::pread(descriptor_, out + done, count - done,
                                  static_cast<off_t>(offset + static_cast<int64_t>(done)));
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) return false;
      done += static_cast<size_t>(got);
    }
    return true;
  }

  const unsigned char* data_ = nullptr;
  int descriptor_ = -1;
  int64_t size_ = 0;
  bool in_memory_ = false;
  std::vector<unsigned char> buffer_;
  std::list<std::string> prefixes_;
};

bool IsPdfWhitespace(unsigned char c) {
  return c == ' ' || c == '\n' || c == '\r' || c == '\t' || c == '\f' || c == '\0';
}

bool IsHexDigit(unsigned char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

int HexValue(unsigned char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return c - 'A' + 10;
}

// True when "startxref", whitespace, a decimal offset and whitespace end
// just before pos.
bool ClosesStartXref(const unsigned char* data, size_t pos) {
  const size_t floor = pos > kStartXrefWindow ? pos - kStartXrefWindow : 0;
  size_t i = pos;
  while (i > floor && IsPdfWhitespace(data[i - 1])) --i;
  const size_t digits_end = i;
  while (i > floor && data[i - 1] >= '0' && data[i - 1] <= '9') --i;
  if (i == digits_end) return false;
  const size_t digits_start = i;
  while (i > floor && IsPdfWhitespace(data[i - 1])) --i;
  if (i == digits_start || i < floor + kStartXrefLength) return false;
  return std::memcmp(data + i - kStartXrefLength, kStartXref, kStartXrefLength) == 0;
}

// The key of the digest cache, imprint algorithm and range list: one pass
// over the bytes per distinct pair.
using DigestKey = std::pair<std::string, ByteRanges>;

struct Walk {
  QPDF* pdf = nullptr;
  size_t visited = 0;
  std::set<QPDFObjGen> seen;
  std::vector<std::pair<std::string, QPDFObjectHandle>> signatures;  // field name, /V
  std::set<QPDFObjGen> signature_objects;  // sig dicts, fields, widgets and their /AP
};

bool NameIs(QPDFObjectHandle dict, const char* key, const char* name) {
  if (!dict.isDictionary()) return false;
  QPDFObjectHandle value = dict.getKey(key);
  return value.isName() && value.getName() == name;
}

bool IsSignatureDictionary(QPDFObjectHandle dict) {
  return dict.isDictionary() && dict.hasKey("/ByteRange") && dict.hasKey("/Contents");
}

// Adds obj and what it reaches (depth- and count-bounded) to out.
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

void NoteSignatureField(Walk* walk, const std::string& name, QPDFObjectHandle field,
                        QPDFObjectHandle value) {
  if (field.isIndirect()) walk->signature_objects.insert(field.getObjGen());
  if (value.isIndirect()) walk->signature_objects.insert(value.getObjGen());
  size_t budget = 2000;
  if (field.isDictionary()) Reach(field.getKey("/AP"), 0, &budget, &walk->signature_objects);
  for (const auto& [known_name, known] : walk->signatures) {
    if (known.isIndirect() && value.isIndirect() && known.getObjGen() == value.getObjGen()) return;
  }
  walk->signatures.emplace_back(name, value);
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
  if (type == "/Sig" && IsSignatureDictionary(value)) NoteSignatureField(walk, name, field, value);
  QPDFObjectHandle kids = field.getKey("/Kids");
  if (kids.isArray()) {
    const int n = kids.getArrayNItems();
    for (int i = 0; i < n && walk->visited < kMaxVisitedObjects; ++i) {
      WalkField(walk, kids.getArrayItem(i), name, type, depth + 1);
    }
  }
}

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
  for (const auto& [objgen, entry] : walk->pdf->getXRefTable()) {
    if (++walk->visited >= kMaxVisitedObjects) break;
    if (entry.getType() == 0) continue;
    QPDFObjectHandle obj = walk->pdf->getObject(objgen);
    if (!IsSignatureDictionary(obj)) continue;
    if (NameIs(obj, "/Type", "/Sig") || NameIs(obj, "/Type", "/DocTimeStamp") ||
        obj.getKey("/SubFilter").isName()) {
      NoteSignatureField(walk, "", QPDFObjectHandle::newNull(), obj);
    }
  }
}

// The revision (0-based) that holds byte offset.
int RevisionOfOffset(const std::vector<RevisionEnd>& ends, int64_t offset) {
  for (size_t i = 0; i < ends.size(); ++i) {
    if (offset < ends[i].eof_end) return static_cast<int>(i);
  }
  return ends.empty() ? 0 : static_cast<int>(ends.size()) - 1;
}

// Keys an incremental signing or validation-data update may change in the
// catalog and in a page.
const char* const kCatalogUpdateKeys[] = {"/DSS", "/AcroForm", "/Extensions", "/Perms"};
const char* const kPageUpdateKeys[] = {"/Annots"};

// True when dictionary now equals its version in earlier except for the
// given keys (compared by their value texts, references unresolved).
template <size_t N>
bool SameExceptKeys(QPDF* earlier, QPDFObjectHandle now, const char* const (&keys)[N]) {
  if (earlier == nullptr || !now.isIndirect()) return false;
  try {
    QPDFObjectHandle before = earlier->getObject(now.getObjGen());
    if (!before.isDictionary()) return false;
    auto skipped = [&keys](const std::string& key) {
      for (const char* allowed : keys) {
        if (key == allowed) return true;
      }
      return false;
    };
    std::set<std::string> names = now.getKeys();
    const std::set<std::string> before_names = before.getKeys();
    names.insert(before_names.begin(), before_names.end());
    for (const std::string& key : names) {
      if (skipped(key)) continue;
      if (now.getKey(key).unparse() != before.getKey(key).unparse()) return false;
    }
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

// Objects an incremental signing or validation-data update writes: the
// catalog and pages changed only in the keys above, the form and its field
// list, /Annots arrays, signature dictionaries, cross-reference and object
// streams.
bool IsUpdateStructure(QPDF* pdf, QPDF* earlier, QPDFObjectHandle obj) {
  QPDFObjectHandle dict = obj.isStream() ? obj.getDict() : obj;
  if (NameIs(dict, "/Type", "/XRef") || NameIs(dict, "/Type", "/ObjStm") ||
      NameIs(dict, "/Type", "/Sig") || NameIs(dict, "/Type", "/DocTimeStamp")) {
    return true;
  }
  if (NameIs(dict, "/Type", "/Catalog")) return SameExceptKeys(earlier, obj, kCatalogUpdateKeys);
  if (NameIs(dict, "/Type", "/Page")) return SameExceptKeys(earlier, obj, kPageUpdateKeys);
  QPDFObjectHandle root = pdf->getRoot();
  QPDFObjectHandle acroform = root.getKey("/AcroForm");
  if (acroform.isIndirect() && obj.isIndirect() && acroform.getObjGen() == obj.getObjGen()) {
    return true;
  }
  if (acroform.isDictionary()) {
    QPDFObjectHandle fields = acroform.getKey("/Fields");
    if (fields.isIndirect() && obj.isIndirect() && fields.getObjGen() == obj.getObjGen()) {
      return true;
    }
  }
  // An /Annots array: an array of annotation dictionaries only.
  if (obj.isArray()) {
    const int n = obj.getArrayNItems();
    for (int i = 0; i < n; ++i) {
      if (!NameIs(obj.getArrayItem(i), "/Type", "/Annot") &&
          !obj.getArrayItem(i).getKey("/Subtype").isName()) {
        return false;
      }
    }
    return true;
  }
  return false;
}

struct RevisionMap {
  // For every object in use, the 0-based revision of its current definition.
  std::vector<std::pair<QPDFObjGen, int>> defined_in;
  std::set<QPDFObjGen> allowed;  // validation data, signature objects, update structure
  // What the form's default resources reach (fonts for field appearances,
  // which a signing application adds when the form has none): allowed when
  // new, since a changed one may be a page's font too.
  std::set<QPDFObjGen> form_resources;
};

RevisionMap MapRevisions(QPDF* pdf, const std::vector<RevisionEnd>& ends, const Walk& walk) {
  RevisionMap map;
  const std::map<QPDFObjGen, QPDFXRefEntry> table = pdf->getXRefTable();
  std::map<int, int64_t> stream_offsets;
  for (const auto& [objgen, entry] : table) {
    if (entry.getType() == 1) stream_offsets[objgen.getObj()] = entry.getOffset();
  }
  for (const auto& [objgen, entry] : table) {
    int64_t offset = -1;
    if (entry.getType() == 1) {
      offset = entry.getOffset();
    } else if (entry.getType() == 2) {
      auto found = stream_offsets.find(entry.getObjStreamNumber());
      if (found != stream_offsets.end()) offset = found->second;
    }
    if (offset >= 0) map.defined_in.emplace_back(objgen, RevisionOfOffset(ends, offset));
  }
  size_t budget = kMaxVisitedObjects;
  Reach(pdf->getRoot().getKey("/DSS"), 0, &budget, &map.allowed);
  QPDFObjectHandle acroform = pdf->getRoot().getKey("/AcroForm");
  if (acroform.isDictionary()) Reach(acroform.getKey("/DR"), 0, &budget, &map.form_resources);
  map.allowed.insert(walk.signature_objects.begin(), walk.signature_objects.end());
  return map;
}

// The largest stream whose data is compared with its earlier version; a
// larger rewritten stream counts as changed.
constexpr size_t kMaxComparedStreamBytes = size_t{16} << 20;

// True when obj (current definition) equals the definition of the same
// object in earlier: same dictionary or value text, same raw stream data.
bool SameAsBefore(QPDF* earlier, QPDFObjectHandle obj) {
  if (earlier == nullptr) return false;
  try {
    QPDFObjectHandle before = earlier->getObject(obj.getObjGen());
    if (before.isNull() || before.isStream() != obj.isStream()) return false;
    // unparseResolved: the object's own value; references inside stay references.
    if (!obj.isStream()) return before.unparseResolved() == obj.unparseResolved();
    if (before.getDict().unparseResolved() != obj.getDict().unparseResolved()) return false;
    std::shared_ptr<Buffer> old_data = before.getRawStreamData();
    if (old_data == nullptr || old_data->getSize() > kMaxComparedStreamBytes) return false;
    std::shared_ptr<Buffer> new_data = obj.getRawStreamData();
    return new_data != nullptr && new_data->getSize() == old_data->getSize() &&
           std::memcmp(new_data->getBuffer(), old_data->getBuffer(), old_data->getSize()) == 0;
  } catch (const std::exception&) {
    return false;
  }
}

// True when objgen names no object in earlier (known to be readable).
bool IsNewSince(QPDF* earlier, QPDFObjGen objgen) {
  if (earlier == nullptr) return false;
  try {
    return earlier->getObject(objgen).isNull();
  } catch (const std::exception&) {
    return false;
  }
}

// The document as it stood at the end of a revision (0-based), opened once
// per revision; null when qpdf cannot open that prefix.
class EarlierRevisions {
 public:
  EarlierRevisions(DocumentInput* input, const std::vector<RevisionEnd>& ends)
      : input_(input), ends_(ends) {}

  QPDF* At(int revision) {
    auto found = opened_.find(revision);
    if (found != opened_.end()) return found->second.get();
    std::unique_ptr<QPDF> pdf = std::make_unique<QPDF>();
    try {
      pdf->setLogger(SilentLogger());
      pdf->setSuppressWarnings(true);
      pdf->setAttemptRecovery(true);
      input_->Open(pdf.get(), "revision", ends_[static_cast<size_t>(revision)].line_end);
    } catch (const std::exception&) {
      pdf.reset();
    }
    return opened_.emplace(revision, std::move(pdf)).first->second.get();
  }

 private:
  DocumentInput* input_;
  const std::vector<RevisionEnd>& ends_;
  std::map<int, std::unique_ptr<QPDF>> opened_;
};

void JudgeLaterRevisions(QPDF* pdf, const RevisionMap& map, EarlierRevisions* earlier,
                         TimeStampReport* ts) {
  if (ts->later_revisions == 0 || ts->revision < 1) {
    ts->later_changes = LaterChanges::kNone;
    return;
  }
  ts->later_changes = LaterChanges::kDssAndSignatures;
  const int own = ts->revision - 1;
  size_t checked = 0;
  for (const auto& [objgen, revision] : map.defined_in) {
    if (revision <= own || map.allowed.count(objgen) != 0) continue;
    if (++checked > kMaxVisitedObjects) break;
    QPDFObjectHandle obj = pdf->getObject(objgen);
    QPDF* before = earlier->At(own);
    if (SameAsBefore(before, obj) || IsUpdateStructure(pdf, before, obj)) continue;
    if (map.form_resources.count(objgen) != 0 && IsNewSince(before, objgen)) continue;
    ts->later_changes = LaterChanges::kOther;
    if (ts->later_other_objects.size() < kMaxListedObjects) {
      ts->later_other_objects.push_back(objgen.getObj());
    }
  }
}

// Checks the /ByteRange and fills the coverage fields; ranges receives the
// pairs when they are usable, gap the bytes between them when there is one
// gap (empty when they cannot be read).
void JudgeCoverage(DocumentInput* input, const std::vector<RevisionEnd>& ends, TimeStampReport* ts,
                   ByteRanges* ranges, std::string* gap) {
  const auto size = static_cast<size_t>(input->size());
  gap->clear();
  const std::vector<int64_t>& br = ts->byte_range;
  ranges->clear();
  if (br.empty() || br.size() % 2 != 0) return;
  int64_t previous_end = 0;
  for (size_t i = 0; i < br.size(); i += 2) {
    const int64_t offset = br[i];
    const int64_t length = br[i + 1];
    if (offset < previous_end || length < 0 || offset > static_cast<int64_t>(size) ||
        length > static_cast<int64_t>(size) - offset) {
      ranges->clear();
      return;
    }
    ranges->emplace_back(offset, length);
    previous_end = offset + length;
  }
  ts->byte_range_valid = true;
  const int64_t covered_end = previous_end;
  const bool from_start = br[0] == 0;
  const bool one_gap = ranges->size() == 2;
  ts->covers_whole_file = from_start && one_gap && covered_end == static_cast<int64_t>(size);
  ts->revision = static_cast<int>(ends.size());
  for (size_t i = 0; i < ends.size(); ++i) {
    if (covered_end <= ends[i].line_end) {
      ts->revision = static_cast<int>(i) + 1;
      break;
    }
  }
  if (ts->revision == 0) ts->revision = 1;
  if (!ends.empty()) {
    const RevisionEnd& end = ends[static_cast<size_t>(ts->revision - 1)];
    ts->covers_whole_revision =
        from_start && one_gap && covered_end >= end.eof_end && covered_end <= end.line_end;
  }
  ts->later_revisions = ends.empty() ? 0 : static_cast<int>(ends.size()) - ts->revision;
  if (one_gap) {
    const int64_t gap_start = (*ranges)[0].first + (*ranges)[0].second;
    const int64_t gap_end = (*ranges)[1].first;
    if (!input->ReadExactly(gap_start, static_cast<size_t>(gap_end - gap_start), gap)) {
      gap->clear();
    }
    const auto* bytes = reinterpret_cast<const unsigned char*>(gap->data());
    const size_t length = gap->size();
    bool hex = length >= 2 && bytes[0] == '<' && bytes[length - 1] == '>';
    for (size_t i = 1; hex && i + 1 < length; ++i) {
      hex = IsHexDigit(bytes[i]) || IsPdfWhitespace(bytes[i]);
    }
    ts->gap_is_contents = hex;
  }
}

// The /Contents bytes: the gap's hex string when the gap is one, else the
// parsed string value.
std::string ContentsBytes(const std::string& gap, bool gap_is_hex, QPDFObjectHandle signature) {
  if (gap_is_hex) {
    std::string bytes;
    const auto* data = reinterpret_cast<const unsigned char*>(gap.data());
    bytes.reserve(gap.size() / 2);
    int high = -1;
    for (size_t i = 1; i + 1 < gap.size(); ++i) {
      if (!IsHexDigit(data[i])) continue;
      const int value = HexValue(data[i]);
      if (high < 0) {
        high = value;
      } else {
        bytes.push_back(static_cast<char>(high * 16 + value));
        high = -1;
      }
    }
    if (high >= 0) bytes.push_back(static_cast<char>(high * 16));
    return bytes;
  }
  QPDFObjectHandle contents = signature.getKey("/Contents");
  return contents.isString() ? contents.getStringValue() : std::string();
}

class Reporter {
 public:
  Reporter(DocumentInput* input, const TrustSources& trust, const DocumentCertificates& carried)
      : input_(input),
        hash_budget_(std::max<uint64_t>(
            kMinHashBudget, uint64_t{kHashBudgetFiles} * static_cast<uint64_t>(input->size()))),
        trust_(trust),
        carried_(carried) {}

  // Digests ranges once per distinct range list and algorithm, within the
  // budget: a document of many signatures over distinct long ranges gets
  // "not checked" for the ones beyond it rather than unbounded work.
  void CompareImprint(const ImprintRequest& request, const ByteRanges& ranges,
                      TimeStampReport* ts) {
    DigestKey key(request.algorithm_oid, ranges);
    auto found = cache_.find(key);
    if (found == cache_.end()) {
      uint64_t bytes = 0;
      for (const auto& range : ranges) bytes += static_cast<uint64_t>(range.second);
      if (bytes > hash_budget_) {
        ts->imprint = Verdict::kNotChecked;
        ts->problem = "not checked: the document asks for too many digests";
        return;
      }
      hash_budget_ -= bytes;
      std::vector<unsigned char> digest;
      if (!DigestRanges(request.algorithm_oid, *input_, ranges, &digest)) digest.clear();
      found = cache_.emplace(std::move(key), std::move(digest)).first;
    }
    if (found->second.empty()) {
      ts->imprint = Verdict::kFail;
      if (ts->problem.empty()) ts->problem = "unknown imprint algorithm " + request.algorithm_oid;
      return;
    }
    ts->computed_hex = HexLower(found->second.data(), found->second.size());
    ts->imprint = found->second == request.expected ? Verdict::kPass : Verdict::kFail;
    if (ts->imprint == Verdict::kFail) {
      ts->problem = "the covered bytes differ from the time-stamped ones (imprint mismatch)";
    }
  }

  // The signature's own bytes as a second "document" to digest.
  void CompareImprintOver(const std::string& bytes, const ImprintRequest& request,
                          TimeStampReport* ts) {
    std::vector<unsigned char> digest;
    if (!DigestRanges(request.algorithm_oid, reinterpret_cast<const unsigned char*>(bytes.data()),
                      ByteRanges{{0, static_cast<int64_t>(bytes.size())}}, &digest)) {
      ts->imprint = Verdict::kFail;
      if (ts->problem.empty()) ts->problem = "unknown imprint algorithm " + request.algorithm_oid;
      return;
    }
    ts->computed_hex = HexLower(digest.data(), digest.size());
    ts->imprint = digest == request.expected ? Verdict::kPass : Verdict::kFail;
    if (ts->imprint == Verdict::kFail) {
      ts->problem = "the imprint does not match the signature value it stamps";
    }
  }

  const TrustSources& trust() const { return trust_; }
  const DocumentCertificates& carried() const { return carried_; }

 private:
  // Bytes hashed per document at most: kHashBudgetFiles times its size, and
  // never less than kMinHashBudget (a long-term archive re-stamps a document
  // every few years, each document time-stamp covering nearly all of it).
  static constexpr uint64_t kHashBudgetFiles = 16;
  static constexpr uint64_t kMinHashBudget = uint64_t{256} << 20;

  DocumentInput* input_;
  uint64_t hash_budget_;
  const TrustSources& trust_;
  const DocumentCertificates& carried_;
  std::map<DigestKey, std::vector<unsigned char>> cache_;
};

void ReportSignature(Reporter* reporter, DocumentInput* input, const std::vector<RevisionEnd>& ends,
                     const std::string& field_name, QPDFObjectHandle signature,
                     std::vector<TimeStampReport>* out) {
  TimeStampReport base;
  base.field_name = field_name;
  QPDFObjectHandle sub_filter = signature.getKey("/SubFilter");
  if (sub_filter.isName()) base.sub_filter = sub_filter.getName().substr(1);
  QPDFObjectHandle br = signature.getKey("/ByteRange");
  if (br.isArray()) {
    const int n = std::min(br.getArrayNItems(), 64);
    for (int i = 0; i < n; ++i) {
      QPDFObjectHandle item = br.getArrayItem(i);
      if (!item.isInteger()) {  // not a /ByteRange at all: left empty, so unusable
        base.byte_range.clear();
        break;
      }
      base.byte_range.push_back(item.getIntValue());
    }
  }
  ByteRanges ranges;
  std::string gap;
  JudgeCoverage(input, ends, &base, &ranges, &gap);
  const std::string contents = ContentsBytes(gap, base.gap_is_contents, signature);
  gap.clear();
  const bool is_document =
      NameIs(signature, "/Type", "/DocTimeStamp") || base.sub_filter == "ETSI.RFC3161";
  const auto* bytes = reinterpret_cast<const unsigned char*>(contents.data());
  if (is_document) {
    TimeStampReport ts = base;
    ts.kind = TimeStampKind::kDocument;
    ImprintRequest request;
    if (CheckToken(bytes, contents.size(), reporter->trust(), &ts, &request,
                   &reporter->carried())) {
      if (ts.byte_range_valid) {
        reporter->CompareImprint(request, ranges, &ts);
      } else {
        ts.imprint = Verdict::kFail;
        ts.problem = "the /ByteRange does not name bytes of the file";
      }
    }
    out->push_back(std::move(ts));
    return;
  }
  for (const SignatureStamp& stamp : FindSignatureTimeStamps(bytes, contents.size())) {
    if (out->size() >= kMaxTimeStamps) return;
    TimeStampReport ts = base;
    ts.kind = TimeStampKind::kSignature;
    ImprintRequest request;
    const auto* token = reinterpret_cast<const unsigned char*>(stamp.token.data());
    if (CheckToken(token, stamp.token.size(), reporter->trust(), &ts, &request,
                   &reporter->carried())) {
      const std::string problem = ts.problem;
      ts.problem.clear();
      reporter->CompareImprintOver(stamp.signature_value, request, &ts);
      if (ts.problem.empty()) ts.problem = problem;
    }
    out->push_back(std::move(ts));
  }
}

// Most certificates read from the /DSS, and the largest one.
constexpr int kMaxDocumentCertificates = 1000;
constexpr size_t kMaxCertificateBytes = 64 * 1024;

// The certificates of the catalog's /DSS /Certs, decoded from their streams.
std::vector<std::string> DssCertificates(QPDF* pdf) {
  std::vector<std::string> ders;
  try {
    QPDFObjectHandle certs = pdf->getRoot().getKey("/DSS").getKey("/Certs");
    if (!certs.isArray()) return ders;
    const int n = std::min(certs.getArrayNItems(), kMaxDocumentCertificates);
    for (int i = 0; i < n; ++i) {
      QPDFObjectHandle stream = certs.getArrayItem(i);
      if (!stream.isStream()) continue;
      std::shared_ptr<Buffer> data = stream.getStreamData(qpdf_dl_generalized);
      if (data == nullptr || data->getSize() > kMaxCertificateBytes) continue;
      ders.emplace_back(reinterpret_cast<const char*>(data->getBuffer()), data->getSize());
    }
  } catch (const std::exception&) {
    // A damaged /DSS only costs its certificates.
  }
  return ders;
}

}  // namespace

namespace {

// The revision ends whose "%" lies at buffer positions from .. to - 1 of a
// buffer that holds the document from position offset on. The buffer holds
// kStartXrefWindow bytes before from (or starts the document) and
// kEofMarkerLength + 2 bytes after to (or ends it). Returns where the scan
// of the next buffer must resume (past a marker that ran beyond to).
size_t ScanRevisionEnds(const unsigned char* data, size_t size, size_t from, size_t to,
                        int64_t offset, std::vector<RevisionEnd>* ends) {
  const unsigned char* cursor = data + from;
  const unsigned char* const end = data + to;
  while (cursor < end) {
    // memchr for the rare '%' is several times faster than a general
    // substring search over long binary streams.
    const void* hit = std::memchr(cursor, '%', static_cast<size_t>(end - cursor));
    if (hit == nullptr) break;
    const size_t pos = static_cast<size_t>(static_cast<const unsigned char*>(hit) - data);
    cursor = data + pos + 1;
    if (size - pos < kEofMarkerLength ||
        std::memcmp(data + pos, kEofMarker, kEofMarkerLength) != 0) {
      continue;
    }
    cursor = data + pos + kEofMarkerLength;
    if (!ClosesStartXref(data, pos)) continue;
    RevisionEnd revision;
    revision.eof_end = offset + static_cast<int64_t>(pos + kEofMarkerLength);
    size_t line_end = pos + kEofMarkerLength;
    if (line_end < size && data[line_end] == '\r') ++line_end;
    if (line_end < size && data[line_end] == '\n') ++line_end;
    revision.line_end = offset + static_cast<int64_t>(line_end);
    ends->push_back(revision);
  }
  return static_cast<size_t>(cursor - data);
}

// The linearization parameter dictionary lies within the file's first 1024
// bytes (ISO 32000-1, annex F.2); its /L is the length of the file as it was
// written linearized.
constexpr size_t kLinearizationWindow = 1024;

// The /L value of a linearization dictionary at the start of head, if any.
std::optional<int64_t> LinearizedLength(const unsigned char* head, size_t size) {
  const std::string text(reinterpret_cast<const char*>(head), std::min(size, kLinearizationWindow));
  const size_t dict = text.find("/Linearized");
  if (dict == std::string::npos) return std::nullopt;
  const size_t dict_end = text.find(">>", dict);
  for (size_t key = text.find("/L", dict + 1); key < dict_end; key = text.find("/L", key + 1)) {
    size_t at = key + 2;
    if (at >= text.size() || !IsPdfWhitespace(static_cast<unsigned char>(text[at]))) continue;
    while (at < text.size() && IsPdfWhitespace(static_cast<unsigned char>(text[at]))) ++at;
    int64_t length = 0;
    size_t digits = 0;
    for (; at < text.size() && text[at] >= '0' && text[at] <= '9' && digits < 18; ++at, ++digits) {
      length = length * 10 + (text[at] - '0');
    }
    if (digits == 0) return std::nullopt;
    return length;
  }
  return std::nullopt;
}

// A linearized file closes its first-page cross-reference section with a
// "%%EOF" of its own near the start; that section and the main one at the
// end make one revision, so its end is dropped.
void MergeLinearizedFirstPage(const unsigned char* head, size_t size,
                              std::vector<RevisionEnd>* ends) {
  const std::optional<int64_t> length = LinearizedLength(head, size);
  if (!length || ends->size() < 2 || (*ends)[1].eof_end > *length) return;
  ends->erase(ends->begin());
}

constexpr size_t kScanChunk = size_t{1} << 20;
constexpr size_t kScanAfter = kEofMarkerLength + 2;

// False when the file could not be read.
bool FindRevisionEndsIn(DocumentInput* input, std::vector<RevisionEnd>* ends) {
  if (input->in_memory()) {
    *ends = FindRevisionEnds(input->memory(), static_cast<size_t>(input->size()));
    return true;
  }
  std::string head;
  const int64_t size = input->size();
  std::string buffer;
  int64_t resume = 0;  // the first position still to be scanned
  for (int64_t chunk = 0; chunk < size; chunk += static_cast<int64_t>(kScanChunk)) {
    const int64_t first = std::max<int64_t>(0, chunk - static_cast<int64_t>(kStartXrefWindow));
    const int64_t chunk_end = std::min<int64_t>(size, chunk + static_cast<int64_t>(kScanChunk));
    const int64_t last = std::min<int64_t>(size, chunk_end + static_cast<int64_t>(kScanAfter));
    if (!input->ReadExactly(first, static_cast<size_t>(last - first), &buffer)) return false;
    const auto* data = reinterpret_cast<const unsigned char*>(buffer.data());
    const int64_t from = std::max(resume, chunk);
    if (from >= chunk_end) continue;
    resume = first + static_cast<int64_t>(
                         ScanRevisionEnds(data, buffer.size(), static_cast<size_t>(from - first),
                                          static_cast<size_t>(chunk_end - first), first, ends));
    if (chunk == 0) head.assign(buffer, 0, std::min(buffer.size(), kLinearizationWindow));
  }
  MergeLinearizedFirstPage(reinterpret_cast<const unsigned char*>(head.data()), head.size(), ends);
  return true;
}

ReportStatus BuildReportOver(DocumentInput* input, const TrustSources& sources,
                             DocumentReport* out) {
  *out = DocumentReport();
  std::vector<RevisionEnd> ends;
  if (!FindRevisionEndsIn(input, &ends)) {
    out->error = "the file cannot be read";
    return ReportStatus::kNotOpened;
  }
  out->revisions = static_cast<int>(ends.size());
  try {
    QPDF pdf;
    pdf.setLogger(SilentLogger());
    pdf.setSuppressWarnings(true);
    pdf.setAttemptRecovery(true);
    input->Open(&pdf, "document", input->size());
    out->recovered = pdf.anyWarnings();
    DocumentCertificates carried;
    carried.Add(DssCertificates(&pdf));
    Walk walk;
    walk.pdf = &pdf;
    WalkDocument(&walk);
    Reporter reporter(input, sources, carried);
    for (const auto& [name, signature] : walk.signatures) {
      if (out->timestamps.size() >= kMaxTimeStamps) break;
      ReportSignature(&reporter, input, ends, name, signature, &out->timestamps);
    }
    bool any_later = false;
    for (const TimeStampReport& ts : out->timestamps) any_later |= ts.later_revisions > 0;
    if (any_later) {
      const RevisionMap map = MapRevisions(&pdf, ends, walk);
      EarlierRevisions earlier(input, ends);
      for (TimeStampReport& ts : out->timestamps) JudgeLaterRevisions(&pdf, map, &earlier, &ts);
    }
  } catch (const std::exception& e) {
    out->timestamps.clear();
    out->error = std::string("the PDF cannot be read: ") + e.what();
    return ReportStatus::kNotOpened;
  } catch (...) {
    out->timestamps.clear();
    out->error = "the PDF cannot be read";
    return ReportStatus::kNotOpened;
  }
  return ReportStatus::kOk;
}

// Closes a descriptor on every path.
class Descriptor {
 public:
  explicit Descriptor(int descriptor) : descriptor_(descriptor) {}
  ~Descriptor() {
    if (descriptor_ >= 0) ::close(descriptor_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  [[nodiscard]] int get() const { return descriptor_; }

 private:
  int descriptor_;
};

}  // namespace

std::vector<RevisionEnd> FindRevisionEnds(const unsigned char* data, size_t size) {
  std::vector<RevisionEnd> ends;
  (void)ScanRevisionEnds(data, size, 0, size, 0, &ends);
  MergeLinearizedFirstPage(data, size, &ends);
  return ends;
}

ReportStatus BuildReportFromFile(const std::string& path, const TrustSettings& trust,
                                 DocumentReport* out) {
  *out = DocumentReport();
  TrustSources sources;
  if (!sources.Load(trust, &out->error)) return ReportStatus::kNotOpened;
  return BuildReportFromFile(path, sources, out);
}

ReportStatus BuildReportFromFile(const std::string& path, const TrustSources& trust,
                                 DocumentReport* out) {
  *out = DocumentReport();
  // As the library opens documents: regular files only, never blocking on
  // a FIFO or a device, below 2 GiB.
  Descriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
  struct stat st {};
  const int flags = file.get() >= 0 ? ::fcntl(file.get(), F_GETFL) : -1;
  if (file.get() < 0 || ::fstat(file.get(), &st) != 0 || !S_ISREG(st.st_mode) ||
      st.st_size >= kMaxFileBytes || flags < 0 ||
      ::fcntl(file.get(), F_SETFL, flags & ~O_NONBLOCK) != 0) {
    out->error = "the file cannot be read";
    return ReportStatus::kNotOpened;
  }
  DocumentInput input(file.get(), static_cast<int64_t>(st.st_size));
  return BuildReportOver(&input, trust, out);
}

ReportStatus BuildReport(const unsigned char* data, size_t size, const TrustSettings& trust,
                         DocumentReport* out) {
  *out = DocumentReport();
  TrustSources sources;
  if (!sources.Load(trust, &out->error)) return ReportStatus::kNotOpened;
  return BuildReport(data, size, sources, out);
}

ReportStatus BuildReport(const unsigned char* data, size_t size, const TrustSources& trust,
                         DocumentReport* out) {
  DocumentInput input(data, size);
  return BuildReportOver(&input, trust, out);
}

const char* KindName(TimeStampKind kind) noexcept {
  return kind == TimeStampKind::kDocument ? "document" : "signature";
}

const char* VerdictName(Verdict verdict) noexcept {
  switch (verdict) {
    case Verdict::kPass:
      return "pass";
    case Verdict::kFail:
      return "fail";
    default:
      return "not checked";
  }
}

const char* TrustSourceName(TrustSource source) noexcept {
  switch (source) {
    case TrustSource::kBuiltIn:
      return "built-in";
    case TrustSource::kTrustAnchor:
      return "trust-anchor";
    case TrustSource::kSystem:
      return "system";
    default:
      return "";
  }
}

const char* LaterChangesName(LaterChanges changes) noexcept {
  switch (changes) {
    case LaterChanges::kDssAndSignatures:
      return "dss-and-signatures";
    case LaterChanges::kOther:
      return "other";
    default:
      return "none";
  }
}

}  // namespace vrd::report
