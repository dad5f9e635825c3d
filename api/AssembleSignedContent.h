// Signed content assembly and token extraction: from the raw bytes of a PDF,
// the bytes the time-stamp token vouches for (the /ByteRange pieces, plus the
// seal-impression stream data less its holes when an ImprintInfo block
// follows) and the DER token bytes cut out of /Contents.
//
// The document is the caller's working copy: in an encrypted document with a
// seal-impression block the fixed template is written over the stream data
// in it before anything is gathered. Nothing else is changed.
#ifndef VRD_API_ASSEMBLESIGNEDCONTENT_H_
#define VRD_API_ASSEMBLESIGNEDCONTENT_H_

#include <cstdint>
#include <vector>

#include "api/ResultCodes.h"
#include "util/ByteString.h"

namespace vrd {

// Returns ResultOk with signed_content and token_bytes filled (token bytes =
// decoded hex text followed by four zero bytes), or NoTimeStampToken (2108)
// or TokenUnreadable (2106) with both outputs untouched.
[[nodiscard]] int AssembleSignedContent(ByteString& document, ByteString& signed_content,
                                        ByteString& token_bytes) noexcept;

// The token's hexadecimal text for the given ranges array, or TokenUnreadable.
// An empty text with ResultOk means no /Contents was found at all.
[[nodiscard]] int ExtractTokenText(const ByteString& document, const std::vector<int32_t>& ranges,
                                   ByteString& token_text) noexcept;

}  // namespace vrd

#endif  // VRD_API_ASSEMBLESIGNEDCONTENT_H_
