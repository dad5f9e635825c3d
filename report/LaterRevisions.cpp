#include "report/LaterRevisions.h"

#include <cstring>
#include <exception>
#include <map>
#include <memory>
#include <qpdf/Buffer.hh>
#include <qpdf/QPDFXRefEntry.hh>
#include <set>
#include <string>
#include <utility>

namespace vrd::report {
namespace {

// Object numbers listed for a later revision that changes other things.
constexpr size_t kMaxListedObjects = 8;
// Earlier revisions opened per document at most: each open reads the
// cross-reference sections of every revision before it again.
constexpr size_t kMaxRevisionsOpened = 100;

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
  const std::map<QPDFObjGen, QPDFXRefEntry>& table = *walk.xref;
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
// The value text of the current definitions compared so far (a document of
// many time-stamps compares the same later objects for each of them).
using ValueTexts = std::map<QPDFObjGen, std::string>;

// unparseResolved: the object's own value; references inside stay
// references. For a stream, its dictionary's.
const std::string& CurrentText(QPDFObjectHandle obj, ValueTexts* texts) {
  auto found = texts->find(obj.getObjGen());
  if (found != texts->end()) return found->second;
  std::string text = obj.isStream() ? obj.getDict().unparseResolved() : obj.unparseResolved();
  return texts->emplace(obj.getObjGen(), std::move(text)).first->second;
}

bool SameAsBefore(QPDF* earlier, QPDFObjectHandle obj, ValueTexts* texts) {
  if (earlier == nullptr) return false;
  try {
    QPDFObjectHandle before = earlier->getObject(obj.getObjGen());
    if (before.isNull() || before.isStream() != obj.isStream()) return false;
    if (!obj.isStream()) return before.unparseResolved() == CurrentText(obj, texts);
    if (before.getDict().unparseResolved() != CurrentText(obj, texts)) return false;
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

// The document as it stood at the end of a revision (0-based); null when
// qpdf cannot open that prefix as it is. Only the revision last asked for
// is kept open (time-stamps are judged one after the other), and a prefix
// is opened without qpdf's recovery: a revision end that is no real one
// must not cost a rescan of the file each.
class EarlierRevisions {
 public:
  EarlierRevisions(DocumentInput* input, const std::vector<RevisionEnd>& ends)
      : input_(input), ends_(ends) {}

  QPDF* At(int revision) {
    if (revision == revision_) return pdf_.get();
    pdf_.reset();
    revision_ = revision;
    if (opened_ == kMaxRevisionsOpened) return nullptr;
    ++opened_;
    auto pdf = std::make_unique<QPDF>();
    try {
      input_->Open(pdf.get(), "revision", ends_[static_cast<size_t>(revision)].line_end, false);
      pdf_ = std::move(pdf);
    } catch (const std::exception&) {
      // Left null: that revision cannot be compared with.
    }
    return pdf_.get();
  }

 private:
  DocumentInput* input_;
  const std::vector<RevisionEnd>& ends_;
  int revision_ = -1;
  size_t opened_ = 0;
  std::unique_ptr<QPDF> pdf_;
};

// checks: what is left of the document's budget of object comparisons; a
// time-stamp whose later objects it does not reach has its later changes
// "unknown".
void JudgeOne(QPDF* pdf, const RevisionMap& map, EarlierRevisions* earlier, ValueTexts* texts,
              size_t* checks, TimeStampReport* ts) {
  if (ts->later_revisions == 0 || ts->revision < 1) {
    ts->later_changes = LaterChanges::kNone;
    return;
  }
  ts->later_changes = LaterChanges::kDssAndSignatures;
  const int own = ts->revision - 1;
  for (const auto& [objgen, revision] : map.defined_in) {
    if (revision <= own || map.allowed.count(objgen) != 0) continue;
    if (*checks == 0) {
      if (ts->later_changes != LaterChanges::kOther) ts->later_changes = LaterChanges::kUnknown;
      return;
    }
    --*checks;
    QPDFObjectHandle obj = pdf->getObject(objgen);
    QPDF* before = earlier->At(own);
    if (before == nullptr) {  // nothing to compare with
      ts->later_changes = LaterChanges::kUnknown;
      return;
    }
    if (SameAsBefore(before, obj, texts) || IsUpdateStructure(pdf, before, obj)) continue;
    if (map.form_resources.count(objgen) != 0 && IsNewSince(before, objgen)) continue;
    ts->later_changes = LaterChanges::kOther;
    ts->later_other_objects.push_back(objgen.getObj());
    if (ts->later_other_objects.size() == kMaxListedObjects) break;  // nothing more to say
  }
}

}  // namespace

void JudgeLaterRevisions(QPDF* pdf, DocumentInput* input, const std::vector<RevisionEnd>& ends,
                         const Walk& walk, std::vector<TimeStampReport>* timestamps) {
  bool any_later = false;
  for (const TimeStampReport& ts : *timestamps) any_later |= ts.later_revisions > 0;
  if (!any_later) return;
  const RevisionMap map = MapRevisions(pdf, ends, walk);
  EarlierRevisions earlier(input, ends);
  ValueTexts texts;
  size_t checks = kMaxVisitedObjects;  // for the whole document, not each time-stamp
  for (TimeStampReport& ts : *timestamps) JudgeOne(pdf, map, &earlier, &texts, &checks, &ts);
}

}  // namespace vrd::report
