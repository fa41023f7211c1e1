// The system SHA-256 the checker and the DLL share, against published vectors,
// fed in uneven pieces.
#include <gtest/gtest.h>

#include "platform/system_sha256.h"
#include "synthetic_pe.h"

using namespace corvane::os;

namespace {

std::string digestOf(const std::string& data, size_t piece) {
  SystemSha256* hash = systemSha256Begin();
  EXPECT_NE(hash, nullptr);
  if (hash == nullptr) return "";
  for (size_t at = 0; at < data.size(); at += piece) {
    EXPECT_TRUE(systemSha256Update(hash, data.data() + at, std::min(piece, data.size() - at)));
  }
  std::vector<uint8_t> digest(32);
  EXPECT_TRUE(systemSha256Finish(hash, digest.data()));
  return hexOf(digest);
}

TEST(Sha256, PublishedVectors) {
  EXPECT_EQ(digestOf("", 1), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  EXPECT_EQ(digestOf("abc", 1), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  EXPECT_EQ(digestOf("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq", 7),
            "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
  for (size_t piece : {size_t(13), size_t(64), size_t(1) << 20}) {
    EXPECT_EQ(digestOf(std::string(1000000, 'a'), piece),
              "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0")
        << "piece " << piece;
  }
}

TEST(Sha256, FinishWithoutDigestReleases) {
  SystemSha256* hash = systemSha256Begin();
  ASSERT_NE(hash, nullptr);
  EXPECT_TRUE(systemSha256Update(hash, "abc", 3));
  EXPECT_FALSE(systemSha256Finish(hash, nullptr));
}

}  // namespace
