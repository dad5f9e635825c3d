#include "api/DocumentOutcome.h"

#include "api/ResultCodes.h"

namespace vrd {
namespace {

struct OutcomeRow {
  DocumentOutcome outcome;
  int result_code;
  const char* name;
  const char* meaning;
};

constexpr OutcomeRow kOutcomes[] = {
    {DocumentOutcome::kAssembled, ResultOk, "OK", "signed content and token found"},
    {DocumentOutcome::ERR_NOT_XREF, NoTimeStampToken, "ERR_NOT_XREF",
     "no classic cross-reference section at the end of the file"},
    {DocumentOutcome::ERR_NOT_BYTERANGESTR, NoTimeStampToken, "ERR_NOT_BYTERANGESTR",
     "no /ByteRange value in the objects of the last revision"},
    {DocumentOutcome::ERR_NOT_BYTERANGEEND, NoTimeStampToken, "ERR_NOT_BYTERANGEEND",
     "no ']' after the /ByteRange value"},
    {DocumentOutcome::ERR_NOT_IMPRINTINFOPOS, NoTimeStampToken, "ERR_NOT_IMPRINTINFOPOS",
     "no '[' right after the ImprintInfo key"},
    {DocumentOutcome::ERR_NOT_IMPRINTINFO, NoTimeStampToken, "ERR_NOT_IMPRINTINFO",
     "the seal-impression object or its stream was not found"},
    {DocumentOutcome::ERR_NOMEM_STRUCTURE, NoTimeStampToken, "ERR_NOMEM_STRUCTURE",
     "no storage for the byte-range list"},
    {DocumentOutcome::ERR_NOT_CONTENTSSTR, TokenUnreadable, "ERR_NOT_CONTENTSSTR",
     "a byte range ends at /Contents but no '<' follows"},
    {DocumentOutcome::ERR_NOT_CONTENTSEND, TokenUnreadable, "ERR_NOT_CONTENTSEND",
     "no '>' after the start of the /Contents hexadecimal string"},
    {DocumentOutcome::ERR_NOT_FALLBACKCONTENTS, TokenUnreadable, "ERR_NOT_FALLBACKCONTENTS",
     "no /Contents within 1000 bytes of /ByteRange"},
    {DocumentOutcome::ERR_NOT_FALLBACKDER, TokenUnreadable, "ERR_NOT_FALLBACKDER",
     "no DER sequence (3082) within 30 bytes of /Contents"},
    {DocumentOutcome::ERR_CONTENT_TOO_LONG, TokenUnreadable, "ERR_CONTENT_TOO_LONG",
     "the byte ranges add up to 2 GiB or more"},
    {DocumentOutcome::ERR_NOMEM_TOKEN, TokenUnreadable, "ERR_NOMEM_TOKEN",
     "no storage for the token"},
    {DocumentOutcome::ERR_NO_WORKING_COPY, FileUnreadable, "ERR_NO_WORKING_COPY",
     "no storage for the working copy of the document"},
};

const OutcomeRow& RowOf(DocumentOutcome outcome) {
  for (const OutcomeRow& row : kOutcomes) {
    if (row.outcome == outcome) return row;
  }
  // Never reached for a declared outcome; an unknown value must not pass.
  static constexpr OutcomeRow kUnknown = {DocumentOutcome::ERR_NOT_XREF, NoTimeStampToken,
                                          "UNKNOWN", "unknown document outcome"};
  return kUnknown;
}

}  // namespace

int ResultCodeOf(DocumentOutcome outcome) noexcept { return RowOf(outcome).result_code; }

const char* DocumentOutcomeName(DocumentOutcome outcome) noexcept { return RowOf(outcome).name; }

const char* DocumentOutcomeMeaning(DocumentOutcome outcome) noexcept {
  return RowOf(outcome).meaning;
}

}  // namespace vrd
