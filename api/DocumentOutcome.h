// The named outcomes of the document stage (api/AssembleSignedContent.h):
// which structural failure, or which way of cutting the token out of
// /Contents failed, so that a result code can be traced to its cause. The
// exported functions report only the result code; tsverify also shows the
// name and its meaning. ResultCodeOf is the one place where an outcome
// becomes a result code.
#ifndef VRD_API_DOCUMENTOUTCOME_H_
#define VRD_API_DOCUMENTOUTCOME_H_

namespace vrd {

enum class DocumentOutcome : int {
  kAssembled,  // signed content and token bytes produced
  // Structure (result 2108).
  ERR_NOT_XREF,            // no classic cross-reference section at the end
  ERR_NOT_BYTERANGESTR,    // no /ByteRange value in the last revision's objects
  ERR_NOT_BYTERANGEEND,    // no "]" after the /ByteRange value
  ERR_NOT_IMPRINTINFOPOS,  // "ImprintInfo" without "[" in the two bytes after it
  ERR_NOT_IMPRINTINFO,     // the seal-impression object or its stream not found
  ERR_NOMEM_STRUCTURE,     // storage for the range list could not be obtained
  // Token cut (result 2106).
  ERR_NOT_CONTENTSSTR,       // a range ends at "/Contents" but no "<" follows
  ERR_NOT_CONTENTSEND,       // no ">" after the start of the hexadecimal text
  ERR_NOT_FALLBACKCONTENTS,  // no "/Contents" within 1000 bytes of "/ByteRange"
  ERR_NOT_FALLBACKDER,       // no "3082" within 30 bytes of that "/Contents"
  ERR_CONTENT_TOO_LONG,      // the named pieces add up to 2 GiB or more
  ERR_NOMEM_TOKEN,           // storage for the token could not be obtained
  // Working copy (result 2104, as when the document cannot be loaded).
  ERR_NO_WORKING_COPY,  // no storage for the copy the template is written into
};

// ResultOk, NoTimeStampToken, TokenUnreadable or FileUnreadable.
[[nodiscard]] int ResultCodeOf(DocumentOutcome outcome) noexcept;
// "ERR_NOT_XREF", ...; "OK" for kAssembled.
const char* DocumentOutcomeName(DocumentOutcome outcome) noexcept;
// A short English explanation, e.g. "no classic cross-reference section at
// the end of the file".
const char* DocumentOutcomeMeaning(DocumentOutcome outcome) noexcept;

}  // namespace vrd

#endif  // VRD_API_DOCUMENTOUTCOME_H_
