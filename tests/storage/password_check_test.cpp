#include "engine/storage/password_check.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>

#include "engine/storage/crc32.h"
#include "engine/storage/crypto_algorithm.h"
#include "engine/storage/exception.h"
#include "engine/storage/page_cipher.h"
#include "rzv_test_support.h"

namespace rzv {
namespace {

using ::rzv::testing::ExpectError;
using Block = std::array<uint8_t, kRzvCheckBlockSize>;

struct Check {
  Block block{};
  uint32_t crc = 0;
};

Check Make(const RzvPassword& password) {
  Check c;
  RzvMakeCheckBlock(password, c.block.data(), &c.crc);
  return c;
}

TEST(PasswordCheckTest, RightPasswordPassesAndWrongOnesFailForEveryAlgorithm) {
  for (uint8_t id = 0; id < kRzvCryptoAlgorithmCount; ++id) {
    SCOPED_TRACE(RzvCryptoAlgorithmName(id));
    const RzvPassword right{"correct horse", id};
    const Check c = Make(right);

    // Stored encrypted as one 256-byte buffer.
    Block plain = c.block;
    ASSERT_TRUE(DecryptBuffer(id, plain.data(), plain.size(), right.password));
    EXPECT_EQ(RzvCrc32(plain.data(), plain.size()), c.crc);
    EXPECT_NE(plain, c.block);

    EXPECT_TRUE(RzvCheckPassword(right, id, c.block.data(), c.crc));
    for (const char* wrong : {"correct horsE", "correct horse ", "correct hors", ""}) {
      EXPECT_FALSE(RzvCheckPassword({wrong, id}, id, c.block.data(), c.crc)) << wrong;
    }
    // The stored id wins over the caller's.
    const RzvPassword other_id{"correct horse", static_cast<uint8_t>((id + 1) % 8)};
    EXPECT_TRUE(RzvCheckPassword(other_id, id, c.block.data(), c.crc));
    EXPECT_FALSE(RzvCheckPassword(right, other_id.algorithm, c.block.data(), c.crc));
  }
}

TEST(PasswordCheckTest, PlainBytesAreFreshAndInZeroTo254) {
  const RzvPassword password{"pw", kRzvRijndael128};
  std::array<int, 256> counts{};
  Block previous{};
  for (int round = 0; round < 40; ++round) {
    Check c = Make(password);
    ASSERT_TRUE(DecryptBuffer(0, c.block.data(), c.block.size(), password.password));
    EXPECT_NE(c.block, previous);
    previous = c.block;
    for (uint8_t b : c.block) ++counts[b];
  }
  // 10240 draws: every value of 0..254 turns up (about 40 times each), 255 never.
  for (int v = 0; v < 255; ++v) EXPECT_GT(counts[v], 0) << v;
  EXPECT_EQ(counts[255], 0);
}

TEST(PasswordCheckTest, VerifyRaisesTheWrongPasswordError) {
  const Check c = Make({"pw", kRzvBlowfish});
  EXPECT_NO_THROW(RzvVerifyPassword({"pw", 0}, kRzvBlowfish, c.block.data(), c.crc));
  try {
    RzvVerifyPassword({"pW", 0}, kRzvBlowfish, c.block.data(), c.crc);
    ADD_FAILURE() << "no error";
  } catch (const RzvException& e) {
    EXPECT_EQ(e.NativeError(), 30445);
    EXPECT_STREQ(e.what(), "Cannot open database because incorrect password - Native error: 30445");
  }
}

TEST(PasswordCheckTest, UnencryptedAndUnknownAlgorithm) {
  // No password: the all-zero block of an unencrypted database.
  Check c;
  c.block.fill(0xAB);
  c.crc = 1;
  RzvMakeCheckBlock({"", kRzvSquare}, c.block.data(), &c.crc);
  EXPECT_EQ(c.block, Block{});
  EXPECT_EQ(c.crc, 0u);

  // An id above 7 would leave the block (and every page) in clear under a
  // file that claims to be encrypted, so it is refused.
  ExpectError(
      [&] {
        RzvMakeCheckBlock({"pw", 8}, c.block.data(), &c.crc);
      },
      10467, "Unknown crypto algorithm id = 8", "no error");
}

}  // namespace
}  // namespace rzv
