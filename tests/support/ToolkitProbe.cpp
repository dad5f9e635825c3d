// toolkit_probe: a host process for tests/toolkit_host_test.cpp. It sets up
// OpenSSL the way a host application might (mode), then verifies a stamped
// document with its root through the verification routine and one chain
// through the toolkit, and prints "sample=<code> chain=<code>".
//
//   toolkit_probe MODE DOCUMENT ROOT_PEM CHAIN_ROOT_DER CHAIN_LEAF_DER
//
// MODE: "plain" (no OpenSSL set-up of its own), "host-null" (the null
// provider loaded into the default library context first, so that nothing
// can be fetched from it), "host-config" (the configuration named by
// OPENSSL_CONF loaded into the default context first).
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/provider.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>

#include "api/VerifyTimeStampToken.h"
#include "toolkit/qvtk.h"
#include "util/ByteString.h"

namespace {

std::string ReadFile(const char* path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The DER of the first certificate of a PEM text (EVP_DecodeBlock needs no
// provider).
std::string PemToDer(const std::string& pem) {
  const std::string begin = "-----BEGIN CERTIFICATE-----";
  const size_t start = pem.find(begin);
  const size_t end = pem.find("-----END CERTIFICATE-----");
  if (start == std::string::npos || end == std::string::npos) return std::string();
  std::string base64;
  for (size_t i = start + begin.size(); i < end; ++i) {
    if (pem[i] != '\n' && pem[i] != '\r') base64.push_back(pem[i]);
  }
  std::string der(base64.size(), '\0');
  const int n = EVP_DecodeBlock(reinterpret_cast<unsigned char*>(&der[0]),
                                reinterpret_cast<const unsigned char*>(base64.data()),
                                static_cast<int>(base64.size()));
  if (n < 0) return std::string();
  size_t padding = 0;
  while (padding < 2 && base64.size() > padding && base64[base64.size() - 1 - padding] == '=') {
    ++padding;
  }
  der.resize(static_cast<size_t>(n) - padding);
  return der;
}

int VerifySample(const char* document_path, const char* root_pem_path) {
  const std::string bytes = ReadFile(document_path);
  const std::string root_der = PemToDer(ReadFile(root_pem_path));
  vrd::ByteString document;
  vrd::ByteString root;
  if (bytes.empty() || root_der.empty() ||
      document.SetData(bytes.data(), static_cast<int>(bytes.size())) != vrd::ByteString::kOk ||
      root.SetData(root_der.data(), static_cast<int>(root_der.size())) != vrd::ByteString::kOk) {
    return -1;
  }
  vrd::ExtraTrustedRoots roots;
  roots.certificates = &root;
  roots.count = 1;
  VrdWideChar out[4][vrd::kOutputUnits];
  return vrd::VerifyTimeStampToken(document, {out[0], out[1], out[2], out[3]}, roots);
}

int VerifyChain(const char* root_path, const char* leaf_path) {
  const std::string root = ReadFile(root_path);
  const std::string leaf = ReadFile(leaf_path);
  QVTK_CTX ctx = nullptr;
  if (QVTK_API_Init(&ctx, ".") != 0) return -1;
  QVTK_BINSTR root_bin;
  QVTK_BINSTR leaf_bin;
  QVTK_BINSTR_Create(&root_bin);
  QVTK_BINSTR_Create(&leaf_bin);
  int code = -1;
  if (QVTK_BINSTR_SetData(root.data(), static_cast<int32_t>(root.size()), &root_bin) == 0 &&
      QVTK_BINSTR_SetData(leaf.data(), static_cast<int32_t>(leaf.size()), &leaf_bin) == 0) {
    code = QVTK_CERT_AddTrustedCert(ctx, &root_bin);
    if (code == 0) code = QVTK_CERT_Verify(ctx, &leaf_bin, 1, 0, 0, nullptr, nullptr);
  }
  QVTK_BINSTR_Delete(&root_bin);
  QVTK_BINSTR_Delete(&leaf_bin);
  QVTK_API_Finish(&ctx);
  return code;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 6) {
    std::fprintf(stderr, "usage: toolkit_probe MODE DOCUMENT ROOT_PEM CHAIN_ROOT LEAF\n");
    return 2;
  }
  OSSL_PROVIDER* host_provider = nullptr;
  if (std::strcmp(argv[1], "host-null") == 0) {
    host_provider = OSSL_PROVIDER_load(nullptr, "null");
    if (host_provider == nullptr) return 3;
  } else if (std::strcmp(argv[1], "host-config") == 0) {
    // Whatever the configuration says, including failures to load it.
    (void)OPENSSL_init_crypto(OPENSSL_INIT_LOAD_CONFIG, nullptr);
  } else if (std::strcmp(argv[1], "plain") != 0) {
    return 2;
  }
  const int sample = VerifySample(argv[2], argv[3]);
  const int chain = VerifyChain(argv[4], argv[5]);
  std::printf("sample=%d chain=%d\n", sample, chain);
  // The host's own state is still its own: the null provider is still the
  // only one of the default context.
  if (host_provider != nullptr) {
    EVP_MD* md = EVP_MD_fetch(nullptr, "SHA256", nullptr);
    std::printf("host-fetch=%s\n", md != nullptr ? "yes" : "no");
    EVP_MD_free(md);
    OSSL_PROVIDER_unload(host_provider);
  }
  return 0;
}
