// The toolkit DLL's entry point on Windows: how the OpenSSL linked statically
// into it lives and dies with the DLL rather than with the process.
//
// Left alone, OpenSSL registers its clean-up with the C runtime's process-wide
// exit list the first time it is used. A caller that unloads the DLL with
// FreeLibrary and later exits would then run that clean-up in unmapped code.
// So OpenSSL is initialised here without that registration, cleaned up when
// the DLL is unloaded, and each thread's OpenSSL state is released when the
// thread ends (the work OpenSSL's own DLL entry point does for libcrypto.dll).
#include <openssl/crypto.h>
#include <windows.h>

#include "toolkit/openssl/Caches.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE /*instance*/, DWORD reason, LPVOID reserved) {
  switch (reason) {
    case DLL_PROCESS_ATTACH:
      return OPENSSL_init_crypto(OPENSSL_INIT_NO_ATEXIT, nullptr) == 1 ? TRUE : FALSE;
    case DLL_THREAD_DETACH:
      vrd::tk::ReleaseThreadCaches();
      OPENSSL_thread_stop();
      break;
    case DLL_PROCESS_DETACH:
      // On process exit (reserved != null) other threads are already gone
      // mid-flight; the process's memory goes with it anyway.
      if (reserved == nullptr) {
        vrd::tk::ReleaseAllCaches();
        OPENSSL_cleanup();
      }
      break;
    default:
      break;
  }
  return TRUE;
}
