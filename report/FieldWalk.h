// The field walk of the report: the signature dictionaries of a document
// opened by qpdf, each with its field's fully qualified name, and the
// objects that belong to its signatures (fields, widgets, their
// appearances). Bounded on hostile input: the field tree is walked to
// kMaxFieldDepth levels and kMaxVisitedObjects objects at most.
//
// Ownership: a Walk borrows the QPDF object, the input and the
// cross-reference table, which must outlive it.
#ifndef VRD_REPORT_FIELDWALK_H_
#define VRD_REPORT_FIELDWALK_H_

#include <cstddef>
#include <map>
#include <optional>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFObjectHandle.hh>
#include <qpdf/QPDFXRefEntry.hh>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "report/DocumentInput.h"
#include "report/ReportTypes.h"

namespace vrd::report {

// A signature dictionary the walk found: its field's name and the value,
// and when the value could be read from the raw bytes at its cross-reference
// offset (report/RawSignatures.h), its entry as read there, so that qpdf
// need not tokenize a /Contents of megabytes only to have it copied out.
struct FoundSignature {
  std::string field_name;
  QPDFObjectHandle value;
  std::optional<SignatureEntry> raw;
};

struct Walk {
  QPDF* pdf = nullptr;
  DocumentInput* input = nullptr;                             // the document's raw bytes
  const std::map<QPDFObjGen, QPDFXRefEntry>* xref = nullptr;  // pdf's, read once
  size_t visited = 0;
  std::set<QPDFObjGen> seen;
  std::vector<FoundSignature> signatures;
  std::set<QPDFObjGen> noted;              // the values of signatures
  std::set<QPDFObjGen> signature_objects;  // sig dicts, fields, widgets and their /AP
};

// Fills walk->signatures from the form's fields; when none is reachable,
// from every object that looks like a signature dictionary (damaged forms,
// or values not linked from a field).
void WalkDocument(Walk* walk);

// True when dict is a dictionary whose key holds the given name ("/Sig").
bool NameIs(QPDFObjectHandle dict, const char* key, const char* name);

// Adds obj and what it reaches, without following /Parent or /P back to the
// page tree, to out: at most *budget objects (which it counts down) and
// kMaxFieldDepth levels.
void Reach(QPDFObjectHandle obj, int depth, size_t* budget, std::set<QPDFObjGen>* out);

// The entry of a signature dictionary: its /Type, /SubFilter, the first
// kMaxByteRangeItems items of its /ByteRange and its /Contents string; as
// read from the raw bytes when it could be (taken from signature).
constexpr int kMaxByteRangeItems = 64;
SignatureEntry ReadSignatureEntry(FoundSignature&& signature);

// What the catalog's /DSS holds, decoded from its streams: /Certs, /CRLs
// and /OCSPs, and the /Cert, /CRL and /OCSP of each /VRI entry (a stream
// listed more than once is decoded once). A damaged /DSS gives what could be
// read before the damage. Indirect streams in skip are not decoded (the
// caller has their bytes already); streams holds the indirect streams
// listed, and those of skip.
struct DssItems {
  std::vector<std::string> certificates;
  std::vector<std::string> crls;
  std::vector<std::string> ocsps;
  std::set<QPDFObjGen> streams;
};
DssItems ReadDss(QPDF* pdf, const std::set<QPDFObjGen>& skip = {});

}  // namespace vrd::report

#endif  // VRD_REPORT_FIELDWALK_H_
