// The host's OpenSSL set-up never reaches the toolkit: hostile OPENSSL_CONF
// files (only the null provider, FIPS-only default properties, strict
// security levels and signature policies, a broken or missing file) and a
// host that loads the null provider into its default library context, or
// its configuration before calling us, all give the answers of a plain
// process: the shipped sample verifies with its root (0), and a chain signed
// with SHA-1 under a SHA-1-signed root stays valid (0). Each case runs
// tests/support/ToolkitProbe.cpp as a child process with the environment
// set before it starts.
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

namespace {

const std::string kSamples = std::string(VRD_SOURCE_DIR) + "/samples/";

std::string TempPath(const std::string& name) {
  return ::testing::TempDir() + "vrd_host_" + std::to_string(::getpid()) + "_" + name;
}

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary)
      .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string Der(X509* cert) {
  unsigned char* der = nullptr;
  const int n = i2d_X509(cert, &der);
  std::string out = n > 0 ? std::string(reinterpret_cast<const char*>(der), static_cast<size_t>(n))
                          : std::string();
  OPENSSL_free(der);
  return out;
}

X509* NewCert(const char* cn, int serial, X509* issuer, EVP_PKEY* key, EVP_PKEY* issuer_key,
              bool ca) {
  X509* cert = X509_new();
  X509_set_version(cert, X509_VERSION_3);
  ASN1_INTEGER_set(X509_get_serialNumber(cert), serial);
  X509_gmtime_adj(X509_getm_notBefore(cert), -3600);
  X509_gmtime_adj(X509_getm_notAfter(cert), 3600L * 24 * 365 * 5);
  X509_NAME_add_entry_by_txt(X509_get_subject_name(cert), "CN", MBSTRING_ASC,
                             reinterpret_cast<const unsigned char*>(cn), -1, -1, 0);
  X509_set_issuer_name(cert, X509_get_subject_name(issuer != nullptr ? issuer : cert));
  X509_set_pubkey(cert, key);
  X509V3_CTX v3;
  X509V3_set_ctx_nodb(&v3);
  X509V3_set_ctx(&v3, issuer != nullptr ? issuer : cert, cert, nullptr, nullptr, 0);
  const char* const extensions[][2] = {
      {"basicConstraints", ca ? "critical,CA:TRUE" : "critical,CA:FALSE"},
      {"keyUsage", ca ? "critical,keyCertSign,cRLSign" : "critical,digitalSignature"},
      {"extendedKeyUsage", ca ? nullptr : "critical,timeStamping"},
  };
  for (const auto& extension : extensions) {
    if (extension[1] == nullptr) continue;
    X509_EXTENSION* ext = X509V3_EXT_conf(nullptr, &v3, extension[0], extension[1]);
    EXPECT_NE(ext, nullptr) << extension[0];
    X509_add_ext(cert, ext, -1);
    X509_EXTENSION_free(ext);
  }
  EXPECT_GT(X509_sign(cert, issuer_key, EVP_sha1()), 0);
  return cert;
}

struct ChainFiles {
  std::string root;
  std::string leaf;
};

// A root and a time-stamping certificate, both signed with SHA-1.
const ChainFiles& Sha1Chain() {
  static const ChainFiles files = [] {
    ChainFiles f{TempPath("sha1-root.der"), TempPath("sha1-tsa.der")};
    EVP_PKEY* root_key = EVP_RSA_gen(2048);
    EVP_PKEY* leaf_key = EVP_RSA_gen(2048);
    X509* root = NewCert("SHA-1 Root", 1, nullptr, root_key, root_key, true);
    X509* leaf = NewCert("SHA-1 TSA", 2, root, leaf_key, root_key, false);
    WriteFile(f.root, Der(root));
    WriteFile(f.leaf, Der(leaf));
    X509_free(leaf);
    X509_free(root);
    EVP_PKEY_free(leaf_key);
    EVP_PKEY_free(root_key);
    return f;
  }();
  return files;
}

std::string RunProbe(const std::string& mode, const std::string& config_path) {
  const ChainFiles& chain = Sha1Chain();
  std::string command;
  if (!config_path.empty()) command = "OPENSSL_CONF='" + config_path + "' ";
  command += std::string("'") + VRD_TOOLKIT_PROBE + "' " + mode + " '" + kSamples +
             "sample.pdf' '" + kSamples + "sample-root.pem' '" + chain.root + "' '" + chain.leaf +
             "' 2>&1";
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return "<popen failed>";
  std::string output;
  char buffer[256];
  while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) output += buffer;
  const int status = pclose(pipe);
  if (status != 0) output += "<exit " + std::to_string(status) + ">";
  return output;
}

const char kNullOnly[] =
    "openssl_conf = openssl_init\n"
    "[openssl_init]\n"
    "providers = provider_sect\n"
    "[provider_sect]\n"
    "null = null_sect\n"
    "[null_sect]\n"
    "activate = 1\n";

const char kFipsProperties[] =
    "openssl_conf = openssl_init\n"
    "[openssl_init]\n"
    "alg_section = evp_sect\n"
    "[evp_sect]\n"
    "default_properties = fips=yes\n";

// Strict security level and signature policy, as system-wide crypto
// policies write them (SHA-1 signatures forbidden).
const char kStrictPolicy[] =
    "openssl_conf = openssl_init\n"
    "[openssl_init]\n"
    "ssl_conf = ssl_sect\n"
    "providers = provider_sect\n"
    "[ssl_sect]\n"
    "system_default = system_default_sect\n"
    "[system_default_sect]\n"
    "CipherString = DEFAULT@SECLEVEL=5\n"
    "SignatureAlgorithms = RSA-PSS+SHA512:ECDSA+SHA512\n"
    "MinProtocol = TLSv1.3\n"
    "[provider_sect]\n"
    "default = default_sect\n"
    "[default_sect]\n"
    "activate = 1\n";

const char kBroken[] = "openssl_conf = missing_section\n[[[ this is not a configuration\n";

TEST(ToolkitHostTest, HostConfigurationAndProvidersChangeNoResult) {
  const std::string expected = "sample=0 chain=0\n";
  ASSERT_EQ(RunProbe("plain", ""), expected);

  struct Config {
    const char* name;
    const char* text;  // null: a path that does not exist
  };
  const Config configs[] = {
      {"null-only", kNullOnly},
      {"fips-properties", kFipsProperties},
      {"strict-policy", kStrictPolicy},
      {"broken", kBroken},
      {"missing", nullptr},
  };
  for (const Config& config : configs) {
    const std::string path = TempPath(std::string(config.name) + ".cnf");
    if (config.text != nullptr) WriteFile(path, config.text);
    for (const char* mode : {"plain", "host-config"}) {
      SCOPED_TRACE(std::string(config.name) + " / " + mode);
      EXPECT_EQ(RunProbe(mode, path), expected);
    }
    std::remove(path.c_str());
  }
}

TEST(ToolkitHostTest, NullProviderInTheHostsDefaultContext) {
  // Our answers stay, and the host's default context still has only the
  // null provider: nothing of ours was loaded into it.
  EXPECT_EQ(RunProbe("host-null", ""), "sample=0 chain=0\nhost-fetch=no\n");
}

}  // namespace
