// The five hash cores: the standards' vectors (million-'a' included), the
// padding boundaries, random update splits against OpenSSL, the bit count
// and its carries (checked against OpenSSL's own contexts with the count
// preset), and the SHA extension path against the portable path.
#define OPENSSL_SUPPRESS_DEPRECATED  // Low-level contexts, to preset bit counts.
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/md5.h>
#include <openssl/sha.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "digest_test_util.h"
#include "src/VORirori/HashCommon.h"
#include "src/VORirori/HashCores.h"

namespace vrd {
namespace {

using digest_test::Hex;
using digest_test::ScopedHashPath;

enum class Algo { kMd5, kSha1, kSha256, kSha512, kHas160 };

const char* Name(Algo a) {
  switch (a) {
    case Algo::kMd5:
      return "MD5";
    case Algo::kSha1:
      return "SHA-1";
    case Algo::kSha256:
      return "SHA-256";
    case Algo::kSha512:
      return "SHA-512";
    case Algo::kHas160:
      return "HAS-160";
  }
  return "?";
}

template <typename Ctx>
std::string RunCore(void (*init)(Ctx*), void (*update)(Ctx*, const uint8_t*, uint32_t),
                    void (*final)(Ctx*, uint8_t*), size_t size, const std::string& msg,
                    const std::vector<size_t>& splits) {
  Ctx ctx;
  init(&ctx);
  const uint8_t* p = reinterpret_cast<const uint8_t*>(msg.data());
  size_t pos = 0;
  for (size_t part : splits) {
    if (pos + part > msg.size()) part = msg.size() - pos;
    update(&ctx, p + pos, static_cast<uint32_t>(part));
    pos += part;
  }
  update(&ctx, p + pos, static_cast<uint32_t>(msg.size() - pos));
  uint8_t out[64];
  final(&ctx, out);
  return Hex(out, size);
}

// Digest of msg fed in updates of the given sizes (then the rest).
std::string Digest(Algo a, const std::string& msg, const std::vector<size_t>& splits = {}) {
  switch (a) {
    case Algo::kMd5:
      return RunCore(Md5Init, Md5Update, Md5Final, 16, msg, splits);
    case Algo::kSha1:
      return RunCore(Sha1Init, Sha1Update, Sha1Final, 20, msg, splits);
    case Algo::kSha256:
      return RunCore(Sha256Init, Sha256Update, Sha256Final, 32, msg, splits);
    case Algo::kSha512:
      return RunCore(Sha512Init, Sha512Update, Sha512Final, 64, msg, splits);
    case Algo::kHas160:
      return RunCore(Has160Init, Has160Update, Has160Final, 20, msg, splits);
  }
  return "";
}

std::string OpenSslDigest(Algo a, const std::string& msg) {
  const EVP_MD* md = nullptr;
  switch (a) {
    case Algo::kMd5:
      md = EVP_md5();
      break;
    case Algo::kSha1:
      md = EVP_sha1();
      break;
    case Algo::kSha256:
      md = EVP_sha256();
      break;
    case Algo::kSha512:
      md = EVP_sha512();
      break;
    case Algo::kHas160:
      return "";
  }
  unsigned char out[EVP_MAX_MD_SIZE];
  unsigned int len = 0;
  if (EVP_Digest(msg.data(), msg.size(), out, &len, md, nullptr) != 1) return "evp-failed";
  return Hex(out, len);
}

std::string Repeat(const std::string& unit, size_t times) {
  std::string out;
  out.reserve(unit.size() * times);
  for (size_t i = 0; i < times; ++i) out += unit;
  return out;
}

struct Vector {
  Algo algo;
  std::string message;
  const char* hex;
};

const std::string k448 = "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq";
const std::string k896 =
    "abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlmnopq"
    "rsmnopqrstnopqrstu";
const std::string kAlnum = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
const std::string kDigits80 = Repeat("1234567890", 8);
const std::string kMillionA(1000000, 'a');

std::vector<Vector> StandardVectors() {
  return {
      // RFC 1321 appendix A.5.
      {Algo::kMd5, "", "d41d8cd98f00b204e9800998ecf8427e"},
      {Algo::kMd5, "a", "0cc175b9c0f1b6a831c399e269772661"},
      {Algo::kMd5, "abc", "900150983cd24fb0d6963f7d28e17f72"},
      {Algo::kMd5, "message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
      {Algo::kMd5, "abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
      {Algo::kMd5, kAlnum, "d174ab98d277d9f5a5611c2c9f419d9f"},
      {Algo::kMd5, kDigits80, "57edf4a22be3c955ac49da2e2107b67a"},
      // FIPS 180 examples.
      {Algo::kSha1, "", "da39a3ee5e6b4b0d3255bfef95601890afd80709"},
      {Algo::kSha1, "abc", "a9993e364706816aba3e25717850c26c9cd0d89d"},
      {Algo::kSha1, k448, "84983e441c3bd26ebaae4aa1f95129e5e54670f1"},
      {Algo::kSha1, k896, "a49b2446a02c645bf419f995b67091253a04a259"},
      {Algo::kSha1, kMillionA, "34aa973cd4c4daa4f61eeb2bdbad27316534016f"},
      {Algo::kSha256, "", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {Algo::kSha256, "abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {Algo::kSha256, k448, "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      {Algo::kSha256, k896, "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1"},
      {Algo::kSha256, kMillionA,
       "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
      {Algo::kSha512, "",
       "cf83e1357eefb8bdf1542850d66d8007d620e4050b5715dc83f4a921d36ce9ce47d0d13c5d85f2b0ff8318d2877"
       "e"
       "ec2f63b931bd47417a81a538327af927da3e"},
      {Algo::kSha512, "abc",
       "ddaf35a193617abacc417349ae20413112e6fa4e89a97ea20a9eeee64b55d39a2192992a274fc1a836ba3c23a3f"
       "e"
       "ebbd454d4423643ce80e2a9ac94fa54ca49f"},
      {Algo::kSha512, k448,
       "204a8fc6dda82f0a0ced7beb8e08a41657c16ef468b228a8279be331a703c33596fd15c13b1b07f9aa1d3bea577"
       "8"
       "9ca031ad85c7a71dd70354ec631238ca3445"},
      {Algo::kSha512, k896,
       "8e959b75dae313da8cf4f72814fc143f8f7779c6eb9f7fa17299aeadb6889018501d289e4900f7e4331b99dec4b"
       "5"
       "433ac7d329eeb6dd26545e96e55b874be909"},
      {Algo::kSha512, kMillionA,
       "e718483d0ce769644e2e42c7bc15b4638e1f98b13b2044285632a803afa973ebde0ff244877ea60a4cb0432ce57"
       "7"
       "c31beb009c5c2c49aa2e4eadb217ad8cc09b"},
      // TTAS.KO-12.0011/R2 test suite.
      {Algo::kHas160, "", "307964ef34151d37c8047adec7ab50f4ff89762d"},
      {Algo::kHas160, "a", "4872bcbc4cd0f0a9dc7c2f7045e5b43b6c830db8"},
      {Algo::kHas160, "abc", "975e810488cf2a3d49838478124afce4b1c78804"},
      {Algo::kHas160, "message digest", "2338dbc8638d31225f73086246ba529f96710bc6"},
      {Algo::kHas160, "abcdefghijklmnopqrstuvwxyz", "596185c9ab6703d0d0dbb98702bc0f5729cd1d3c"},
      {Algo::kHas160, kAlnum, "cb5d7efbca2f02e0fb7167cabb123af5795764e5"},
      {Algo::kHas160, kDigits80, "07f05c8c0773c55ca3a5a695ce6aca4c438911b5"},
      {Algo::kHas160, kMillionA, "d6ad6f0608b878da9b87999c2525cc84f4c9f18d"},
      // Padding boundaries: n bytes of 'a'.
      {Algo::kMd5, std::string(55, 'a'), "ef1772b6dff9a122358552954ad0df65"},
      {Algo::kMd5, std::string(56, 'a'), "3b0c8ac703f828b04c6c197006d17218"},
      {Algo::kMd5, std::string(63, 'a'), "b06521f39153d618550606be297466d5"},
      {Algo::kMd5, std::string(64, 'a'), "014842d480b571495a4a0363793f7367"},
      {Algo::kMd5, std::string(65, 'a'), "c743a45e0d2e6a95cb859adae0248435"},
      {Algo::kSha1, std::string(55, 'a'), "c1c8bbdc22796e28c0e15163d20899b65621d65a"},
      {Algo::kSha1, std::string(56, 'a'), "c2db330f6083854c99d4b5bfb6e8f29f201be699"},
      {Algo::kSha1, std::string(63, 'a'), "03f09f5b158a7a8cdad920bddc29b81c18a551f5"},
      {Algo::kSha1, std::string(64, 'a'), "0098ba824b5c16427bd7a1122a5a442a25ec644d"},
      {Algo::kSha1, std::string(65, 'a'), "11655326c708d70319be2610e8a57d9a5b959d3b"},
      {Algo::kSha256, std::string(55, 'a'),
       "9f4390f8d30c2dd92ec9f095b65e2b9ae9b0a925a5258e241c9f1e910f734318"},
      {Algo::kSha256, std::string(56, 'a'),
       "b35439a4ac6f0948b6d6f9e3c6af0f5f590ce20f1bde7090ef7970686ec6738a"},
      {Algo::kSha256, std::string(63, 'a'),
       "7d3e74a05d7db15bce4ad9ec0658ea98e3f06eeecf16b4c6fff2da457ddc2f34"},
      {Algo::kSha256, std::string(64, 'a'),
       "ffe054fe7ae0cb6dc65c3af9b61d5209f439851db43d0ba5997337df154668eb"},
      {Algo::kSha256, std::string(65, 'a'),
       "635361c48bb9eab14198e76ea8ab7f1a41685d6ad62aa9146d301d4f17eb0ae0"},
      {Algo::kSha512, std::string(111, 'a'),
       "fa9121c7b32b9e01733d034cfc78cbf67f926c7ed83e82200ef86818196921760b4beff48404df811b953828274"
       "4"
       "61673c68d04e297b0eb7b2b4d60fc6b566a2"},
      {Algo::kSha512, std::string(112, 'a'),
       "c01d080efd492776a1c43bd23dd99d0a2e626d481e16782e75d54c2503b5dc32bd05f0f1ba33e568b88fd2d9709"
       "2"
       "9b719ecbb152f58f130a407c8830604b70ca"},
      {Algo::kSha512, std::string(127, 'a'),
       "828613968b501dc00a97e08c73b118aa8876c26b8aac93df128502ab360f91bab50a51e088769a5c1eff4782ace"
       "1"
       "47dce3642554199876374291f5d921629502"},
      {Algo::kSha512, std::string(128, 'a'),
       "b73d1929aa615934e61a871596b3f3b33359f42b8175602e89f7e06e5f658a243667807ed300314b95cacdd579f"
       "3"
       "e33abdfbe351909519a846d465c59582f321"},
      {Algo::kSha512, std::string(129, 'a'),
       "4f681e0bd53cda4b5a2041cc8a06f2eabde44fb16c951fbd5b87702f07aeab611565b19c47fde30587177ebb852"
       "e"
       "3971bbd8d3fd30da18d71037dfbd98420429"},
  };
}

// Every test runs once on the portable compress functions and once on the
// path chosen from CPUID (the SHA extensions where the CPU has them).
class HashCoreTest : public ::testing::TestWithParam<bool> {
 protected:
  HashCoreTest() : path_(GetParam()) {}
  ScopedHashPath path_;
};

INSTANTIATE_TEST_SUITE_P(Paths, HashCoreTest, ::testing::Values(true, false),
                         [](const ::testing::TestParamInfo<bool>& param_info) {
                           return param_info.param ? std::string("Portable")
                                                   : std::string("Native");
                         });

TEST_P(HashCoreTest, StandardVectorsAndPaddingBoundaries) {
  for (const Vector& v : StandardVectors()) {
    EXPECT_EQ(Digest(v.algo, v.message), v.hex)
        << Name(v.algo) << " of " << v.message.size() << " bytes";
  }
}

TEST_P(HashCoreTest, FixedSplitsGiveTheSingleUpdateDigest) {
  std::string msg;
  for (int i = 0; i < 3000; ++i) msg += static_cast<char>((i * 131 + 7) & 0xFF);
  const std::vector<std::vector<size_t>> splits = {
      {1, 7, 93, 900}, {0, 0, 64, 0, 1}, {63, 1, 127, 1, 128}, {55, 56, 111, 112}, {2999}};
  for (Algo a : {Algo::kMd5, Algo::kSha1, Algo::kSha256, Algo::kSha512, Algo::kHas160}) {
    const std::string whole = Digest(a, msg);
    for (const auto& split : splits) EXPECT_EQ(Digest(a, msg, split), whole) << Name(a);
  }
}

TEST_P(HashCoreTest, RandomSplitsMatchOpenSsl) {
  std::mt19937 rng(20261207);
  for (int round = 0; round < 150; ++round) {
    const size_t length = rng() % (round < 100 ? 700 : 20000);
    std::string msg(length, '\0');
    for (char& c : msg) c = static_cast<char>(rng() & 0xFF);
    std::vector<size_t> splits;
    for (size_t used = 0; used < length;) {
      size_t part = rng() % 300;
      if (rng() % 4 == 0) part = 0;
      splits.push_back(part);
      used += part;
    }
    for (Algo a : {Algo::kMd5, Algo::kSha1, Algo::kSha256, Algo::kSha512}) {
      EXPECT_EQ(Digest(a, msg, splits), OpenSslDigest(a, msg))
          << Name(a) << " length " << length << " round " << round;
    }
    // No second implementation of HAS-160 here: the split must not matter.
    EXPECT_EQ(Digest(Algo::kHas160, msg, splits), Digest(Algo::kHas160, msg)) << round;
  }
}

// Long updates are compressed a 16 KiB stride at a time (the next stride
// prefetched): lengths on each side of the stride boundaries, entered whole,
// after a partly filled block, and in pieces that end inside a stride.
TEST_P(HashCoreTest, LongUpdatesAcrossPrefetchStridesMatchOpenSsl) {
  constexpr size_t kStride = 16384;
  std::string msg(5 * kStride + 300, '\0');
  for (size_t i = 0; i < msg.size(); ++i) msg[i] = static_cast<char>((i * 2654435761u) >> 13);
  struct Case {
    size_t length;
    std::vector<size_t> splits;
  };
  const Case cases[] = {
      {2 * kStride - 1, {}},
      {2 * kStride, {}},
      {2 * kStride + 1, {}},
      {3 * kStride + 63, {}},
      {5 * kStride + 300, {}},
      {5 * kStride + 300, {1}},
      {5 * kStride + 300, {127, 2 * kStride}},
      {4 * kStride, {kStride + 5, 2 * kStride + 9}},
  };
  for (const Case& c : cases) {
    const std::string input = msg.substr(0, c.length);
    for (Algo a : {Algo::kMd5, Algo::kSha1, Algo::kSha256, Algo::kSha512}) {
      EXPECT_EQ(Digest(a, input, c.splits), OpenSslDigest(a, input))
          << Name(a) << " length " << c.length << " splits " << c.splits.size();
    }
    EXPECT_EQ(Digest(Algo::kHas160, input, c.splits), Digest(Algo::kHas160, input, {c.length}))
        << "HAS-160 length " << c.length;
  }
}

TEST_P(HashCoreTest, EveryLengthUpToThreeBlocksMatchesOpenSsl) {
  std::string msg;
  for (size_t n = 0; n <= 3 * 128 + 1; ++n) {
    for (Algo a : {Algo::kMd5, Algo::kSha1, Algo::kSha256, Algo::kSha512}) {
      ASSERT_EQ(Digest(a, msg), OpenSslDigest(a, msg)) << Name(a) << " n " << n;
    }
    msg += static_cast<char>(n * 37 + 11);
  }
}

TEST(HashCores, ZeroLengthUpdateChangesNothing) {
  Sha256Context a;
  Sha256Init(&a);
  Sha256Update(&a, reinterpret_cast<const uint8_t*>("abcdef"), 6);
  Sha256Context b = a;
  Sha256Update(&b, reinterpret_cast<const uint8_t*>("x"), 0);
  EXPECT_EQ(std::memcmp(&a, &b, sizeof(a)), 0);

  Sha512Context c;
  Sha512Init(&c);
  Sha512Context d = c;
  Sha512Update(&d, nullptr, 0);
  EXPECT_EQ(std::memcmp(&c, &d, sizeof(c)), 0);

  Md5Context e;
  Md5Init(&e);
  Md5Context f = e;
  Md5Update(&f, nullptr, 0);
  EXPECT_EQ(std::memcmp(&e, &f, sizeof(e)), 0);
}

TEST(HashCores, InitSetsCountAndLeavesBuffer) {
  Has160Context ctx;
  std::memset(&ctx, 0xA5, sizeof(ctx));
  Has160Init(&ctx);
  EXPECT_EQ(ctx.countLow, 0u);
  EXPECT_EQ(ctx.countHigh, 0u);
  EXPECT_EQ(ctx.state[0], 0x67452301u);
  EXPECT_EQ(ctx.state[4], 0xC3D2E1F0u);
  for (uint8_t byte : ctx.buffer) EXPECT_EQ(byte, 0xA5);
}

TEST(HashCores, BitCountTracksBytesAndWaitingBytes) {
  Sha1Context ctx;
  Sha1Init(&ctx);
  const std::string msg(1000, 'q');
  size_t total = 0;
  for (uint32_t part : {1u, 63u, 64u, 5u, 200u, 0u, 667u}) {
    Sha1Update(&ctx, reinterpret_cast<const uint8_t*>(msg.data()), part);
    total += part;
    EXPECT_EQ(ctx.countLow, total * 8);
    EXPECT_EQ(ctx.countHigh, 0u);
  }
}

// Presets the low word so that one 4 KiB update wraps it.
TEST(HashCores, SixtyFourBitCountCarriesIntoHighWord) {
  std::string block(4096, 'z');
  const auto* p = reinterpret_cast<const uint8_t*>(block.data());
  Md5Context md5;
  Md5Init(&md5);
  md5.countLow = 0xFFFFF000u;  // whole blocks: nothing waiting
  md5.countHigh = 41;
  Md5Update(&md5, p, 4096);
  EXPECT_EQ(md5.countLow, 0x00008000u - 0x1000u);
  EXPECT_EQ(md5.countHigh, 42u);

  Has160Context has;
  Has160Init(&has);
  has.countLow = 0xFFFFFE00u;
  has.countHigh = 0xFFFFFFFFu;
  Has160Update(&has, p, 64);
  EXPECT_EQ(has.countLow, 0u);
  EXPECT_EQ(has.countHigh, 0u);  // 64-bit count wraps as a whole
}

struct Sha512CarryCase {
  uint32_t before[4];
  uint32_t bytes;
  uint32_t after[4];
};

TEST(HashCores, Sha512CountIsOne128BitNumber) {
  const Sha512CarryCase cases[] = {
      {{0, 0, 0, 0}, 300, {2400, 0, 0, 0}},
      {{0xFFFFFC00u, 5, 7, 9}, 256, {0x400, 6, 7, 9}},
      {{0xFFFFFC00u, 0xFFFFFFFEu, 7, 9}, 128, {0, 0xFFFFFFFFu, 7, 9}},
      {{0xFFFFFC00u, 0xFFFFFFFFu, 7, 9}, 256, {0x400, 0, 8, 9}},
      {{0xFFFFFC00u, 0xFFFFFFFFu, 0xFFFFFFFFu, 3}, 1024, {0x1C00, 0, 0, 4}},
      {{0xFFFFFC00u, 0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu}, 128, {0, 0, 0, 0}},
  };
  const std::string data(1024, 'm');
  for (const Sha512CarryCase& c : cases) {
    Sha512Context ctx;
    Sha512Init(&ctx);
    std::memcpy(ctx.count, c.before, sizeof(ctx.count));
    Sha512Update(&ctx, reinterpret_cast<const uint8_t*>(data.data()), c.bytes);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(ctx.count[i], c.after[i]) << "word " << i;
  }
}

// With the count preset the same way in OpenSSL's contexts, the padded
// length fields (and hence the digests) must agree, high words included.
TEST_P(HashCoreTest, PresetCountsEncodeLikeOpenSsl) {
  const std::string data(333, 'k');
  const auto* p = reinterpret_cast<const uint8_t*>(data.data());
  const uint32_t lows[] = {0xFFFFFC00u, 0x00000400u, 0x80000000u};
  const uint32_t highs[] = {0u, 1u, 0xFFFFFFFFu, 0x12345678u};
  for (uint32_t low : lows) {
    for (uint32_t high : highs) {
      uint8_t ours[64], theirs[64];
      Md5Context m;
      Md5Init(&m);
      m.countLow = low;
      m.countHigh = high;
      Md5Update(&m, p, 333);
      Md5Final(&m, ours);
      MD5_CTX om;
      MD5_Init(&om);
      om.Nl = low;
      om.Nh = high;
      MD5_Update(&om, p, 333);
      MD5_Final(theirs, &om);
      EXPECT_EQ(Hex(ours, 16), Hex(theirs, 16)) << std::hex << high << ":" << low;

      Sha1Context s1;
      Sha1Init(&s1);
      s1.countLow = low;
      s1.countHigh = high;
      Sha1Update(&s1, p, 333);
      Sha1Final(&s1, ours);
      SHA_CTX o1;
      SHA1_Init(&o1);
      o1.Nl = low;
      o1.Nh = high;
      SHA1_Update(&o1, p, 333);
      SHA1_Final(theirs, &o1);
      EXPECT_EQ(Hex(ours, 20), Hex(theirs, 20)) << std::hex << high << ":" << low;

      Sha256Context s2;
      Sha256Init(&s2);
      s2.countLow = low;
      s2.countHigh = high;
      Sha256Update(&s2, p, 333);
      Sha256Final(&s2, ours);
      SHA256_CTX o2;
      SHA256_Init(&o2);
      o2.Nl = low;
      o2.Nh = high;
      SHA256_Update(&o2, p, 333);
      SHA256_Final(theirs, &o2);
      EXPECT_EQ(Hex(ours, 32), Hex(theirs, 32)) << std::hex << high << ":" << low;

      const uint32_t count[4] = {low, high, high ^ 0x5555u, ~high};
      Sha512Context s5;
      Sha512Init(&s5);
      std::memcpy(s5.count, count, sizeof(count));
      Sha512Update(&s5, p, 333);
      Sha512Final(&s5, ours);
      SHA512_CTX o5;
      SHA512_Init(&o5);
      o5.Nl = (static_cast<uint64_t>(count[1]) << 32) | count[0];
      o5.Nh = (static_cast<uint64_t>(count[3]) << 32) | count[2];
      SHA512_Update(&o5, p, 333);
      SHA512_Final(theirs, &o5);
      EXPECT_EQ(Hex(ours, 64), Hex(theirs, 64)) << std::hex << high << ":" << low;
    }
  }
}

TEST(HashCores, NativePathMatchesPortablePathOnRandomData) {
  std::mt19937 rng(4242);
  for (int round = 0; round < 60; ++round) {
    std::string msg(rng() % 5000, '\0');
    for (char& c : msg) c = static_cast<char>(rng());
    for (Algo a : {Algo::kSha1, Algo::kSha256, Algo::kSha512}) {
      std::string portable, native;
      {
        ScopedHashPath path(true);
        portable = Digest(a, msg, {rng() % 200, rng() % 70});
      }
      native = Digest(a, msg, {rng() % 200, rng() % 70});
      EXPECT_EQ(portable, native) << Name(a) << " round " << round;
    }
  }
}

// Every compress variant this CPU can run, straight on the same random
// blocks and chaining values, several blocks per call: odd and even counts
// cover the two-block forms with and without a last single block.
TEST(HashCores, CompressVariantsAgree) {
  RecordProperty("sha_extensions", hash_internal::CpuHasShaExtensions() ? 1 : 0);
  RecordProperty("bmi2", hash_internal::CpuHasBmi2() ? 1 : 0);
  RecordProperty("avx2_bmi2", hash_internal::CpuHasAvx2Bmi2() ? 1 : 0);
  RecordProperty("avx512vl", hash_internal::CpuHasAvx512Vl() ? 1 : 0);
  struct Sha512Variant {
    const char* name;
    bool runs_here;
    hash_internal::Compress64Fn compress;
  };
  const Sha512Variant sha512_variants[] = {
      {"sse2", true, hash_internal::Sha512CompressSse2},
      {"sse2+bmi2", hash_internal::CpuHasBmi2(), hash_internal::Sha512CompressSse2Bmi2},
      {"avx512vl", hash_internal::CpuHasAvx512Vl(), hash_internal::Sha512CompressAvx512},
      {"avx2 pairs", hash_internal::CpuHasAvx2Bmi2(), hash_internal::Sha512CompressAvx2Pairs},
      {"avx512vl pairs", hash_internal::CpuHasAvx512Vl(), hash_internal::Sha512CompressAvx512Pairs},
  };
  std::mt19937_64 rng(99);
  std::vector<uint8_t> blocks(128 * 9);
  for (int round = 0; round < 40; ++round) {
    for (uint8_t& b : blocks) b = static_cast<uint8_t>(rng());
    // Every count from 1 to 9 in the first rounds, then random ones.
    const size_t count = round < 9 ? static_cast<size_t>(round) + 1 : 1 + rng() % 9;
    uint64_t s512[8];
    for (uint64_t& w : s512) w = rng();
    uint64_t portable512[8];
    std::memcpy(portable512, s512, sizeof(s512));
    hash_internal::Sha512CompressPortable(portable512, blocks.data(), count);
    for (const Sha512Variant& variant : sha512_variants) {
      if (!variant.runs_here) continue;
      uint64_t state[8];
      std::memcpy(state, s512, sizeof(s512));
      variant.compress(state, blocks.data(), count);
      EXPECT_EQ(std::memcmp(portable512, state, sizeof(s512)), 0)
          << variant.name << ", " << count << " blocks, round " << round;
    }
    if (hash_internal::CpuHasShaExtensions()) {
      uint32_t s32[8], a[8], b[8];
      for (uint32_t& w : s32) w = static_cast<uint32_t>(rng());
      std::memcpy(a, s32, sizeof(s32));
      std::memcpy(b, s32, sizeof(s32));
      hash_internal::Sha256CompressPortable(a, blocks.data(), count * 2);
      hash_internal::Sha256CompressShaNi(b, blocks.data(), count * 2);
      EXPECT_EQ(std::memcmp(a, b, sizeof(s32)), 0) << round;
      std::memcpy(a, s32, sizeof(s32));
      std::memcpy(b, s32, sizeof(s32));
      hash_internal::Sha1CompressPortable(a, blocks.data(), count * 2);
      hash_internal::Sha1CompressShaNi(b, blocks.data(), count * 2);
      EXPECT_EQ(std::memcmp(a, b, 5 * sizeof(uint32_t)), 0) << round;
    }
  }
}

TEST(HashCores, UpdateDataMayLieInTheOutputBuffer) {
  // The message sits where final then writes the digest.
  uint8_t buffer[64];
  for (int i = 0; i < 64; ++i) buffer[i] = static_cast<uint8_t>(i);
  const std::string copy(reinterpret_cast<char*>(buffer), 64);
  Sha512Context ctx;
  Sha512Init(&ctx);
  Sha512Update(&ctx, buffer, 64);
  Sha512Final(&ctx, buffer);
  EXPECT_EQ(Hex(buffer, 64), OpenSslDigest(Algo::kSha512, copy));
}

}  // namespace
}  // namespace vrd
