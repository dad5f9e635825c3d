// The ECSP engine: identifier table, stage codes and their texts, the
// refusals (null pointers, negative length, short output), allocation
// failure, in-place digests, and the per-thread error text.
#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "digest_test_util.h"
#include "src/VORirori/ECSP.h"
#include "src/VORirori/EcspStages.h"
#include "tests/support/MemoryTestHook.h"

namespace vrd {
namespace {

using digest_test::Hex;

const unsigned char kAbc[] = {'a', 'b', 'c'};

std::string EvpHex(const EVP_MD* md, const void* data, size_t size) {
  unsigned char out[EVP_MAX_MD_SIZE];
  unsigned int len = 0;
  if (EVP_Digest(data, size, out, &len, md, nullptr) != 1) return "evp-failed";
  return Hex(out, len);
}

const char kHas160Abc[] = "975e810488cf2a3d49838478124afce4b1c78804";

struct AcceptedId {
  int id;
  int size;
};

TEST(EcspEngine, AllThirtyFiveIdentifiersComputeTheirAlgorithm) {
  const AcceptedId ids[] = {
      {1200, 16},   {121201, 16}, {121202, 16}, {1400, 20},   {13101, 20},  {13102, 20},
      {121400, 20}, {121401, 20}, {121402, 20}, {131401, 20}, {131402, 20}, {141401, 20},
      {141402, 20}, {141403, 20}, {171401, 20}, {171402, 20}, {171404, 20}, {1500, 32},
      {13202, 32},  {121501, 32}, {121502, 32}, {131501, 32}, {131502, 32}, {141501, 32},
      {141502, 32}, {171410, 32}, {171411, 32}, {171412, 32}, {1700, 64},   {121701, 64},
      {121702, 64}, {141702, 64}, {1800, 20},   {141801, 20}, {141802, 20},
  };
  ASSERT_EQ(sizeof(ids) / sizeof(ids[0]), 35u);
  for (const AcceptedId& a : ids) {
    unsigned char out[256];
    int len = 256;
    ASSERT_EQ(ECSP_DigestData(a.id, out, &len, kAbc, 3), 0) << a.id;
    EXPECT_EQ(len, a.size) << a.id;
    std::string expected;
    const bool has160 = a.id == 1800 || a.id == 141801 || a.id == 141802;
    if (has160) {
      expected = kHas160Abc;
    } else if (a.size == 16) {
      expected = EvpHex(EVP_md5(), kAbc, 3);
    } else if (a.size == 20) {
      expected = EvpHex(EVP_sha1(), kAbc, 3);
    } else if (a.size == 32) {
      expected = EvpHex(EVP_sha256(), kAbc, 3);
    } else {
      expected = EvpHex(EVP_sha512(), kAbc, 3);
    }
    EXPECT_EQ(Hex(out, len), expected) << a.id;
  }
}

TEST(EcspEngine, OtherIdentifiersAreRefusedInInit) {
  for (int id : {3400, 9, -1, 0, 1, 1201, 1300, 1600, 2030, 11828, 141503, 141701, 171403, -1500,
                 2147483647, -2147483647 - 1}) {
    unsigned char out[64];
    std::memset(out, 0xEE, sizeof(out));
    int len = 64;
    EXPECT_EQ(ECSP_DigestData(id, out, &len, kAbc, 3), 1105) << id;
    EXPECT_EQ(len, 64) << id;
    EXPECT_EQ(out[0], 0xEE) << id;
  }
  EXPECT_STREQ(ECSP_GetErrorText(1105), "Init stage; Invalid algorithm identifier.(1105)");
}

TEST(EcspEngine, AbcWithExactAndLargeCapacity) {
  const std::string kAbc256 = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";
  for (int capacity : {32, 256}) {
    unsigned char out[256];
    int len = capacity;
    EXPECT_EQ(ECSP_DigestData(1500, out, &len, kAbc, 3), 0);
    EXPECT_EQ(len, 32);
    EXPECT_EQ(Hex(out, 32), kAbc256);
  }
}

struct Refusal {
  const char* what;
  bool null_input;
  int input_length;
  bool null_output;
  bool null_output_length;
  int capacity;
  int code;
  const char* text;
};

TEST(EcspEngine, RefusalsNameTheirStageAndTouchNothing) {
  const Refusal cases[] = {
      {"short output", false, 3, false, false, 31, 3103,
       "Final stage; Output buffer is not enough.(3103)"},
      {"zero capacity", false, 3, false, false, 0, 3103,
       "Final stage; Output buffer is not enough.(3103)"},
      {"negative capacity", false, 3, false, false, -5, 3103,
       "Final stage; Output buffer is not enough.(3103)"},
      {"null input", true, 3, false, false, 64, 2108,
       "Update stage; Invalid input or output data pointer(2108)"},
      {"null input, empty", true, 0, false, false, 64, 2108,
       "Update stage; Invalid input or output data pointer(2108)"},
      {"negative length", false, -1, false, false, 64, 2101,
       "Update stage; Invalid input or output data.(2101)"},
      {"very negative length", false, -2147483647 - 1, false, false, 64, 2101,
       "Update stage; Invalid input or output data.(2101)"},
      {"null output", false, 3, true, false, 64, 3108,
       "Final stage; Invalid input or output data pointer(3108)"},
      {"null output length", false, 3, false, true, 64, 3108,
       "Final stage; Invalid input or output data pointer(3108)"},
  };
  for (const Refusal& c : cases) {
    unsigned char out[64];
    std::memset(out, 0xEE, sizeof(out));
    int len = c.capacity;
    const int code =
        ECSP_DigestData(1500, c.null_output ? nullptr : out, c.null_output_length ? nullptr : &len,
                        c.null_input ? nullptr : kAbc, c.input_length);
    EXPECT_EQ(code, c.code) << c.what;
    EXPECT_STREQ(ECSP_GetErrorText(code), c.text) << c.what;
    EXPECT_EQ(len, c.capacity) << c.what;
    for (unsigned char byte : out) ASSERT_EQ(byte, 0xEE) << c.what;
  }
}

TEST(EcspEngine, EmptyInputGivesEmptyMessageDigest) {
  unsigned char out[32];
  int len = 32;
  EXPECT_EQ(ECSP_DigestData(1500, out, &len, kAbc, 0), 0);
  EXPECT_EQ(Hex(out, len), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
}

TEST(EcspEngine, InPlaceSha512OfADigest) {
  unsigned char buffer[64];
  int len = 64;
  ASSERT_EQ(ECSP_DigestData(1700, buffer, &len, kAbc, 3), 0);
  const std::string first(reinterpret_cast<char*>(buffer), 64);
  ASSERT_EQ(ECSP_DigestData(1700, buffer, &len, buffer, len), 0);
  EXPECT_EQ(len, 64);
  EXPECT_EQ(Hex(buffer, 64), EvpHex(EVP_sha512(), first.data(), first.size()));
}

TEST(EcspEngine, WorkingRecordUnobtainableIsBare102) {
  unsigned char out[32];
  std::memset(out, 0xEE, sizeof(out));
  int len = 32;
  int code = 0;
  {
    testing::ScopedAllocationFailure fail(1);
    code = ECSP_DigestData(1500, out, &len, kAbc, 3);
  }
  EXPECT_EQ(code, 102);
  EXPECT_EQ(len, 32);
  EXPECT_EQ(out[0], 0xEE);
  EXPECT_STREQ(ECSP_GetErrorText(code), " Memory allocation failed.(102)");
}

TEST(EcspEngine, StagesStopAtTheFirstFailure) {
  ECSP_CTX ctx;
  ctx.status = 0;
  EXPECT_EQ(ECSP_DigestInit(&ctx, 77), 1);
  EXPECT_EQ(ctx.status, ECSP_INVALID_ALGORITHM);
  ASSERT_EQ(ECSP_DigestInit(&ctx, 1800), 0);
  EXPECT_EQ(ctx.digestSize, 20);
  EXPECT_EQ(ECSP_DigestUpdate(&ctx, nullptr, 1), 1);
  EXPECT_EQ(ctx.status, ECSP_INVALID_DATA_POINTER);
  EXPECT_EQ(ECSP_DigestUpdate(&ctx, kAbc, 3), 0);
  unsigned char out[20];
  int len = 19;
  EXPECT_EQ(ECSP_DigestFinal(&ctx, out, &len), 1);
  EXPECT_EQ(ctx.status, ECSP_NOT_ENOUGH_BUFFER);
  len = 20;
  EXPECT_EQ(ECSP_DigestFinal(&ctx, out, &len), 0);
  EXPECT_EQ(Hex(out, 20), kHas160Abc);
}

struct TextCase {
  int code;
  const char* text;
};

TEST(EcspErrorText, TextsAreExact) {
  const TextCase cases[] = {
      {0, " Successfully completed.(0)"},
      {1, " Incompletely terminated.(1)"},
      {102, " Memory allocation failed.(102)"},
      {1000, "Init stage; Successfully completed.(1000)"},
      {1001, "Init stage; Incompletely terminated.(1001)"},
      {1101, "Init stage; Invalid input or output data.(1101)"},
      {1102, "Init stage; Memory allocation failed.(1102)"},
      {1103, "Init stage; Output buffer is not enough.(1103)"},
      {1104, "Init stage; Invalid algorithm mode.(1104)"},
      {1105, "Init stage; Invalid algorithm identifier.(1105)"},
      {1106, "Init stage; Invalid key pointer.(1106)"},
      {1107, "Init stage; Invalid key value.(1107)"},
      {1108, "Init stage; Invalid input or output data pointer(1108)"},
      {1109, "Init stage; Initial vector required.(1109)"},
      {1110, "Init stage; Staged operation failed.(1110)"},
      {1111, "Init stage; Invalid file pointer.(1111)"},
      {1112, "Init stage; Invalid class.(1112)"},
      {1113, "Init stage; ASN.1 parsing error.(1113)"},
      {1114, "Init stage; Invalid encrypted data.(1114)"},
      {1115, "Init stage; Invalid signature format.(1115)"},
      {1116, "Init stage; Verification of signature or MAC failed.(1116)"},
      {2101, "Update stage; Invalid input or output data.(2101)"},
      {2108, "Update stage; Invalid input or output data pointer(2108)"},
      {2110, "Update stage; Staged operation failed.(2110)"},
      {3103, "Final stage; Output buffer is not enough.(3103)"},
      {3108, "Final stage; Invalid input or output data pointer(3108)"},
      {4105, " Invalid algorithm identifier.(4105)"},
      {9116, " Verification of signature or MAC failed.(9116)"},
      {11105, "Init stage; Invalid algorithm identifier.(11105)"},
      {13103, "Final stage; Output buffer is not enough.(13103)"},
      {1999, ""},
      {2117, ""},
      {100, ""},
      {-1, ""},
      {-105, ""},
  };
  for (const TextCase& c : cases) EXPECT_STREQ(ECSP_GetErrorText(c.code), c.text) << c.code;
}

TEST(EcspErrorText, EachThreadHasItsOwnText) {
  const TextCase codes[] = {
      {1105, "Init stage; Invalid algorithm identifier.(1105)"},
      {2108, "Update stage; Invalid input or output data pointer(2108)"},
      {3103, "Final stage; Output buffer is not enough.(3103)"},
      {102, " Memory allocation failed.(102)"},
  };
  std::atomic<int> mismatches{0};
  std::atomic<bool> go{false};
  std::atomic<int> done{0};
  std::vector<std::thread> threads;
  std::vector<const char*> buffers(4, nullptr);
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      while (!go.load()) std::this_thread::yield();
      const TextCase& mine = codes[t];
      for (int i = 0; i < 20000; ++i) {
        const char* text = ECSP_GetErrorText(mine.code);
        buffers[t] = text;
        // Read it again after yielding: another thread's call must not
        // have changed it.
        if (i % 64 == 0) std::this_thread::yield();
        if (std::strcmp(text, mine.text) != 0) mismatches.fetch_add(1);
      }
      // Stay alive until every thread has its buffer: a finished thread's
      // storage may be handed to a thread that starts later.
      done.fetch_add(1);
      while (done.load() < 4) std::this_thread::yield();
    });
  }
  go.store(true);
  for (std::thread& th : threads) th.join();
  EXPECT_EQ(mismatches.load(), 0);
  for (int i = 0; i < 4; ++i) {
    for (int j = i + 1; j < 4; ++j) EXPECT_NE(buffers[i], buffers[j]);
  }
}

TEST(EcspEngine, ConcurrentDigestsAreIndependent) {
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      std::string msg(1000 + 333 * t, static_cast<char>('a' + t));
      const std::string expected = EvpHex(EVP_sha256(), msg.data(), msg.size());
      for (int i = 0; i < 200; ++i) {
        unsigned char out[32];
        int len = 32;
        const int code =
            ECSP_DigestData(1500, out, &len, reinterpret_cast<const unsigned char*>(msg.data()),
                            static_cast<int>(msg.size()));
        if (code != 0 || Hex(out, 32) != expected) failures.fetch_add(1);
      }
    });
  }
  for (std::thread& th : threads) th.join();
  EXPECT_EQ(failures.load(), 0);
}

}  // namespace
}  // namespace vrd
