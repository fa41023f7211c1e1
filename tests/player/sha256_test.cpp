// The checker's own SHA-256 against published vectors and against OpenSSL over
// lengths around the block and padding boundaries, fed in uneven pieces.
#include <gtest/gtest.h>

#include "sha256.h"
#include "synthetic_pe.h"

namespace {

std::vector<uint8_t> digestOf(const std::vector<uint8_t>& data, size_t piece) {
  Sha256 hash;
  sha256Begin(hash);
  for (size_t at = 0; at < data.size(); at += piece) {
    sha256Update(hash, data.data() + at, std::min(piece, data.size() - at));
  }
  std::vector<uint8_t> digest(32);
  sha256Finish(hash, digest.data());
  return digest;
}

std::vector<uint8_t> bytesOf(const std::string& text) { return {text.begin(), text.end()}; }

TEST(Sha256, PublishedVectors) {
  EXPECT_EQ(hexOf(digestOf({}, 1)), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  EXPECT_EQ(hexOf(digestOf(bytesOf("abc"), 1)), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  EXPECT_EQ(hexOf(digestOf(bytesOf("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"), 7)),
            "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
}

TEST(Sha256, MatchesOpenSslAcrossBlockBoundariesAndPieceSizes) {
  std::vector<uint8_t> data(3 * 64 + 1 + (1u << 20));
  uint32_t seed = 12345;
  for (uint8_t& byte : data) {
    seed = seed * 1103515245u + 12345u;
    byte = uint8_t(seed >> 16);
  }
  for (size_t length : {size_t(55), size_t(56), size_t(63), size_t(64), size_t(65), size_t(119), size_t(120),
                        size_t(128), data.size()}) {
    const std::vector<uint8_t> part(data.begin(), data.begin() + length);
    const std::vector<uint8_t> reference = sha256Of(part);
    for (size_t piece : {size_t(1), size_t(13), size_t(64), size_t(100), size_t(1) << 20}) {
      EXPECT_EQ(digestOf(part, piece), reference) << "length " << length << " piece " << piece;
    }
  }
}

}  // namespace
