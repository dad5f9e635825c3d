// The hashing and ciphers qpdf uses to open encrypted documents (MD5, SHA-2,
// RC4, AES; the AES-256 security handler hashes a password with 64 or more
// rounds of SHA-2 and AES each time a document is opened), done by OpenSSL
// in the report's own library context (crypto/Runtime.h) instead of qpdf's
// portable code: several times faster, with the same bytes. RC4, which
// OpenSSL keeps in its legacy provider, is done here.
//
// InstallQpdfCrypto makes it qpdf's default crypto provider, named
// kQpdfCryptoProvider, once per process (qpdf's provider registry is
// process-wide, like its filter registry; with the static qpdf the module
// links, the registry is the module's own). It takes a static qpdf
// (VRD_QPDF_STATIC): qpdf 11 gives other providers no way in through its
// shared library, so with the system's libqpdf this does nothing and qpdf
// keeps its own provider. The report calls it before it opens a document.
// Safe to call from several threads. qpdf's interface has no status
// returns: a failure inside OpenSSL throws std::runtime_error into qpdf,
// which the report catches at its edge as it does qpdf's own errors.
#ifndef VRD_REPORT_QPDFCRYPTO_H_
#define VRD_REPORT_QPDFCRYPTO_H_

namespace vrd::report {

inline constexpr char kQpdfCryptoProvider[] = "vrd-openssl";

void InstallQpdfCrypto();

}  // namespace vrd::report

#endif  // VRD_REPORT_QPDFCRYPTO_H_
