/*
 * qvtk.h - the crypto toolkit as the verifier sees it.
 *
 * Sixteen C operations: a per-call context, binary strings, Base64, CMS
 * signed-data processing, RFC 3161 token information and certificate
 * loading, naming and chain verification. This header is the whole contract
 * between the library and the toolkit; the library never looks inside a
 * context or a certificate. One more operation, QVTK_API_GetVersion, is for
 * tools (tsverify --version); the library does not call it.
 *
 * Ownership:
 *  - A context (QVTK_CTX) is created by QVTK_API_Init and released by
 *    QVTK_API_Finish, which also sets the caller's handle back to null.
 *  - A QVTK_BINSTR lives in caller storage. QVTK_BINSTR_Create makes it empty;
 *    every operation that fills it replaces (and frees) what it held; the
 *    caller releases the bytes with QVTK_BINSTR_Delete exactly once.
 *  - Texts are written into caller buffers whose capacity (bytes, NUL
 *    included) is passed; a text that does not fit is an error, never cut.
 *
 * Threads and OpenSSL: a context belongs to one thread at a time; different
 * contexts may be used on different threads at once. All contexts share the
 * toolkit's own OpenSSL library context (never the host's default one, and
 * no configuration file or environment variable is read), and each thread
 * keeps bounded caches of parsed certificates and X509 stores. What a context
 * accepts depends only on what was installed in it: nothing one context was
 * given is ever trusted or used in another.
 *
 * Every operation returns 0 on success and a QVTK_ERR_* code otherwise.
 * QVTK_CERT_Verify additionally returns QVTK_CERT_EXPIRED_SINCE_TSA (1518):
 * the chain was valid at the token's generation time, but a certificate in it
 * has expired since.
 */
#ifndef VRD_TOOLKIT_QVTK_H_
#define VRD_TOOLKIT_QVTK_H_

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(_WIN32)
#define QVTK_CALL __stdcall
/* Callers declare the operations without dllimport: the import library's
 * thunks resolve them against the DLL, and a static test double links
 * directly. */
#if defined(QVTK_BUILDING_TOOLKIT)
#define QVTK_EXPORT __declspec(dllexport)
#else
#define QVTK_EXPORT
#endif
#else
#define QVTK_CALL
#define QVTK_EXPORT __attribute__((visibility("default")))
#endif

/* Opaque, pointer-sized handle; null until QVTK_API_Init sets it. */
typedef void* QVTK_CTX;

/* Binary string: bytes owned by the toolkit, record owned by the caller. */
typedef struct QVTK_BINSTR {
  unsigned char* data; /* toolkit-allocated, or null when empty */
  int32_t length;      /* number of bytes at data */
} QVTK_BINSTR;

/* Return codes. 0 is success. */
enum {
  QVTK_OK = 0,
  QVTK_CERT_EXPIRED_SINCE_TSA = 1518, /* QVTK_CERT_Verify only: see above */

  QVTK_ERR_INVALID_ARGUMENT = 1001, /* null pointer, bad capacity, bad length */
  QVTK_ERR_NO_MEMORY = 1002,
  QVTK_ERR_INTERNAL = 1003,  /* the crypto library failed unexpectedly */
  QVTK_ERR_BASE64 = 1101,    /* not strict, padded standard Base64 */
  QVTK_ERR_CMS_PARSE = 1201, /* not DER CMS signed data */
  QVTK_ERR_CMS_NO_SIGNER_CERT = 1202,
  QVTK_ERR_CMS_SIGNATURE = 1203,   /* a SignerInfo signature does not verify */
  QVTK_ERR_CMS_DIGEST = 1204,      /* message-digest attribute != content digest */
  QVTK_ERR_CMS_ESS = 1205,         /* ESS signing-certificate missing or wrong */
  QVTK_ERR_TSP_NOT_TSTINFO = 1301, /* content is not an RFC 3161 TSTInfo */
  QVTK_ERR_TEXT_TOO_LONG = 1302,   /* an output text does not fit its buffer */
  QVTK_ERR_CERT_PARSE = 1401,      /* not a DER certificate / certificate list */
  QVTK_ERR_CERT_NOT_LOADED = 1402, /* no current certificate */
  QVTK_ERR_CERT_UNTRUSTED = 1501,  /* no chain to an installed root */
  QVTK_ERR_CERT_EXPIRED = 1502,    /* outside validity now and at gen time */
  QVTK_ERR_CERT_NOT_YET_VALID = 1503,
  QVTK_ERR_CERT_NO_TSA_EKU = 1504, /* lacks id-kp-timeStamping */
  QVTK_ERR_CERT_CHAIN_SIGNATURE = 1505,
  QVTK_ERR_CERT_CHAIN_OTHER = 1506 /* any other chain-building failure */
};

QVTK_EXPORT int QVTK_CALL QVTK_API_Init(QVTK_CTX* ctx, const char* config_dir);
QVTK_EXPORT int QVTK_CALL QVTK_API_Finish(QVTK_CTX* ctx);
QVTK_EXPORT int QVTK_CALL QVTK_API_GetErrInfo(QVTK_CTX ctx, int32_t capacity, char* buffer);
/* Tools only: the name and version of the crypto library the toolkit runs on,
 * as that library reports it at run time (for example "OpenSSL 3.0.15 3 Sep
 * 2024"). Needs no context; 1302 when the text does not fit capacity. */
QVTK_EXPORT int QVTK_CALL QVTK_API_GetVersion(int32_t capacity, char* buffer);

QVTK_EXPORT int QVTK_CALL QVTK_BINSTR_Create(QVTK_BINSTR* str);
QVTK_EXPORT int QVTK_CALL QVTK_BINSTR_SetData(const void* bytes, int32_t length, QVTK_BINSTR* str);
QVTK_EXPORT int QVTK_CALL QVTK_BINSTR_Delete(QVTK_BINSTR* str);

/* Input and output may be the same string. */
QVTK_EXPORT int QVTK_CALL QVTK_BASE64_Decode(QVTK_CTX ctx, const QVTK_BINSTR* input,
                                             QVTK_BINSTR* output);

/* Verifies every SignerInfo of a DER CMS SignedData (bytes after the DER
 * object are ignored): signature with the certificate the SignerInfo names
 * (1202 when the token does not carry it, 1203 on a bad signature), the
 * message-digest attribute (1204), and for a TSTInfo the ESS
 * signing-certificate v1/v2 attribute (1205). content receives the
 * encapsulated content, content_type (may be null) 1 when it is an RFC 3161
 * TSTInfo and 0 otherwise. flags is reserved (pass 0). No trust decision; on
 * success the context remembers the token's certificates and genTime for
 * QVTK_CERT_Verify. */
QVTK_EXPORT int QVTK_CALL QVTK_CMS_ProcessSignedData(QVTK_CTX ctx, int32_t flags,
                                                     const QVTK_BINSTR* signed_data,
                                                     QVTK_BINSTR* content, int32_t* content_type);

/* Texts in TSTInfo order: 1 policy OID (dotted), 2 imprint algorithm name
 * ("SHA1", "SHA224", "SHA256", "SHA384", "SHA512", "MD5", else the dotted
 * OID), 3 imprint (lower-case hex), 4 serial number (lower-case hex, whole
 * bytes), 5 genTime (RFC 3339 UTC, fraction kept), 6 TSA name (RFC 4514) or
 * empty. cert receives the certificate of the first SignerInfo (DER). Does
 * not verify signatures (QVTK_CMS_ProcessSignedData does); 1301 unless the
 * content is a DER TSTInfo, 1302 when a text does not fit capacity (texts
 * then undefined). On success the context remembers the token's certificates
 * and genTime for QVTK_CERT_Verify. */
QVTK_EXPORT int QVTK_CALL QVTK_TSP_GetTokenInfo(QVTK_CTX ctx, const QVTK_BINSTR* token,
                                                int32_t capacity, char* text1, char* text2,
                                                char* text3, char* text4, char* text5, char* text6,
                                                QVTK_BINSTR* cert);

/* Load makes cert (one DER certificate, nothing after it) the current
 * certificate; a failed Load leaves none (1402 from GetSubjectName).
 * GetSubjectName writes its subject as an RFC 4514 string: UTF-8, or the ANSI
 * code page on Windows. Unload drops the current certificate (0 even when
 * none). */
QVTK_EXPORT int QVTK_CALL QVTK_CERT_Load(QVTK_CTX ctx, const QVTK_BINSTR* cert);
QVTK_EXPORT int QVTK_CALL QVTK_CERT_GetSubjectName(QVTK_CTX ctx, int32_t capacity, char* buffer);
QVTK_EXPORT int QVTK_CALL QVTK_CERT_Unload(QVTK_CTX ctx);

/* Adds one DER certificate to the context's trusted roots. */
QVTK_EXPORT int QVTK_CALL QVTK_CERT_AddTrustedCert(QVTK_CTX ctx, const QVTK_BINSTR* cert);
/* A DER SEQUENCE of certificates available for chain building (untrusted
 * intermediates); replaces the previous set. */
QVTK_EXPORT int QVTK_CALL QVTK_CERT_SetCaPubs(QVTK_CTX ctx, const QVTK_BINSTR* ca_pubs);
/* Recorded only: this toolkit has one verification policy. */
QVTK_EXPORT int QVTK_CALL QVTK_CERT_SetVerifyEnv1(QVTK_CTX ctx, int32_t mode, int32_t option,
                                                  unsigned char flag, intptr_t reserved);
/* RFC 5280 path validation of cert (DER) from the trusted roots, through the
 * CA set and the certificates of the last token examined; cert must carry
 * id-kp-timeStamping (1504). 0: valid now. 1518: a certificate has expired
 * but the chain was valid at the last token's genTime. Otherwise 1501-1506.
 * No revocation checking, no network. mode, option, flag and the reserved
 * pointers are ignored. */
QVTK_EXPORT int QVTK_CALL QVTK_CERT_Verify(QVTK_CTX ctx, const QVTK_BINSTR* cert, int32_t mode,
                                           int32_t option, unsigned char flag, void* reserved1,
                                           void* reserved2);

#ifdef __cplusplus
}
#endif

#endif /* VRD_TOOLKIT_QVTK_H_ */
