// The digest over a list of pieces equals the digest of the joined bytes, for
// every way of cutting the input, through the engine and the facade alike.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "src/VORirori/ECSP.h"
#include "src/VORirori/QVHash.h"
#include "util/ByteSpan.h"

namespace vrd {
namespace {

std::vector<ByteSpan> Cut(const std::string& bytes, std::mt19937& random) {
  std::vector<ByteSpan> pieces;
  size_t at = 0;
  while (at < bytes.size()) {
    // Lengths around the 64- and 128-byte blocks, and empty pieces.
    const size_t length = std::min<size_t>(random() % 300, bytes.size() - at);
    pieces.push_back({reinterpret_cast<const unsigned char*>(bytes.data()) + at, length});
    at += length;
  }
  return pieces;
}

TEST(DigestPiecesTest, AnyCutGivesTheDigestOfTheJoinedBytes) {
  std::mt19937 random(11);
  for (const int algorithm : {kFacadeSha256, kFacadeSha512, 1002, 1011, 1020}) {
    for (const size_t size :
         {size_t{0}, size_t{1}, size_t{63}, size_t{64}, size_t{129}, size_t{1000}, size_t{70000}}) {
      std::string bytes(size, '\0');
      for (char& byte : bytes) byte = static_cast<char>(random());
      QVHash hash;
      ByteString joined;
      ASSERT_EQ(hash.DigestData(algorithm, bytes.data(), static_cast<int>(bytes.size()), joined, 1),
                0);
      for (int round = 0; round < 5; ++round) {
        const std::vector<ByteSpan> pieces = Cut(bytes, random);
        ByteString digest;
        ASSERT_EQ(hash.DigestPieces(algorithm, pieces.data(), pieces.size(), digest), 0);
        EXPECT_EQ(digest, joined) << algorithm << " " << size << " " << pieces.size();
      }
    }
  }
}

TEST(DigestPiecesTest, FailuresAreReportedLikeTheWholeDigest) {
  const unsigned char abc[] = {'a', 'b', 'c'};
  unsigned char out[64];
  int length = sizeof(out);
  const ByteSpan null_piece[] = {{abc, 3}, {nullptr, 2}};
  EXPECT_EQ(ECSP_DigestPieces(kEcspSha256, out, &length, null_piece, 2), 2108);
  EXPECT_EQ(ECSP_DigestPieces(kEcspSha256, out, &length, nullptr, 1), 2108);
  EXPECT_EQ(ECSP_DigestPieces(77, out, &length, null_piece, 1), 1105);
  length = 31;
  EXPECT_EQ(ECSP_DigestPieces(kEcspSha256, out, &length, null_piece, 1), 3103);
  length = sizeof(out);
  EXPECT_EQ(ECSP_DigestPieces(kEcspSha256, out, &length, nullptr, 0), 0);
  EXPECT_EQ(length, 32);

  QVHash hash;
  ByteString digest("kept");
  EXPECT_EQ(hash.DigestPieces(kFacadeSha256, null_piece, 2, digest), 4);
  EXPECT_EQ(digest, ByteString("kept"));
  EXPECT_NE(std::string(hash.logText().GetData()).find("(2108)"), std::string::npos)
      << hash.logText().GetData();
  EXPECT_EQ(hash.DigestPieces(99999, null_piece, 1, digest), 1);
}

}  // namespace
}  // namespace vrd
