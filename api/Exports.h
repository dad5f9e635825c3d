// The library's exported interface, as the library's own code sees it: the
// public header include/vrd/tsverify.h declares the two functions, their
// result codes and the output-buffer size, and this header only ties them to
// the internal types (the output unit is the platform's VrdWideChar).
//
// Memory exhaustion has no code of its own: a document that cannot be held
// gives 2104, as when LoadFile runs out of memory, and any other resource
// failure that escapes the verification gives 2105.
#ifndef VRD_API_EXPORTS_H_
#define VRD_API_EXPORTS_H_

#include <type_traits>

#include "api/VerifyTimeStampToken.h"
#include "platform/Win32Compat.h"
#include "vrd/tsverify.h"

static_assert(std::is_same<VrdTsvChar, VrdWideChar>::value,
              "the public output unit must be the library's UTF-16 unit");
static_assert(VRD_TSV_TEXT_UNITS == vrd::kOutputUnits && vrd::kOutputUnits == 512,
              "the published output-buffer size must be the one the library fills");

#endif  // VRD_API_EXPORTS_H_
