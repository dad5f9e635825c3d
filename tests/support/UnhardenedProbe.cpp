// A shared library built without the hardening (see tests/hardening.cmake):
// the hardening check must reject it. Its function has what the stack
// protector and _FORTIFY_SOURCE would act on, a local array and a copy and a
// formatted write into it.
#include <cstdio>
#include <cstring>

extern "C" int VrdUnhardenedProbe(const char* text, unsigned length) {
  char buffer[64];
  std::memcpy(buffer, text, length < sizeof(buffer) ? length : sizeof(buffer));
  std::snprintf(buffer, sizeof(buffer), "%s:%u", text, length);
  return buffer[0];
}
