#include "engine/storage/page_cipher.h"

#include <cryptopp/blowfish.h>
#include <cryptopp/des.h>
#include <cryptopp/rijndael.h>
#include <cryptopp/square.h>
#include <cryptopp/twofish.h>
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "engine/storage/byte_order.h"
#include "engine/storage/crc32.h"
#include "engine/storage/crypto_algorithm.h"
#include "engine/storage/exception.h"
#include "rzv_test_support.h"

namespace rzv {
namespace {

using ::rzv::testing::ExpectError;
using Bytes = std::vector<uint8_t>;

Bytes Hex(std::string_view hex) {
  Bytes out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) {
    out.push_back(static_cast<uint8_t>(std::stoi(std::string(hex.substr(i, 2)), nullptr, 16)));
  }
  return out;
}

Bytes Pattern(size_t n, uint32_t seed = 1) {
  Bytes b(n);
  for (size_t i = 0; i < n; ++i) {
    seed = seed * 1103515245u + 12345u;
    b[i] = static_cast<uint8_t>(seed >> 16);
  }
  return b;
}

constexpr size_t kPageDataSize = 4056;  // data area of a 4096-byte page

TEST(CryptoAlgorithmTest, IdsNamesAndBlockSizes) {
  struct Case {
    uint8_t id;
    const char* name;
    size_t block;
    size_t key;
  };
  const Case cases[] = {
      {0, "Rijndael_128", 16, 16}, {1, "Rijndael_256", 16, 32}, {2, "DES_Single", 8, 8},
      {3, "DES_Triple", 24, 16},   {4, "Blowfish", 8, 32},      {5, "Twofish_128", 16, 16},
      {6, "Twofish_256", 16, 32},  {7, "Square", 16, 16},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_TRUE(RzvIsValidCryptoAlgorithm(c.id));
    EXPECT_STREQ(RzvCryptoAlgorithmName(c.id), c.name);
    EXPECT_EQ(RzvPageCipher(c.id, "pw").BlockSize(), c.block);
    EXPECT_EQ(RzvDerivePageKey(c.id, "pw").size(), c.key);
  }
  for (uint8_t id : {8, 9, 255}) {
    EXPECT_FALSE(RzvIsValidCryptoAlgorithm(id));
    EXPECT_STREQ(RzvCryptoAlgorithmName(id), "Unknown");
  }
}

// The key is a prefix of the published RIPEMD digest of exactly the
// password's bytes (test vectors of the RIPEMD authors).
TEST(PageKeyTest, KeysArePrefixesOfThePublishedRipemdDigests) {
  const std::string r128_abc = "c14a12199c66e4ba84636b0f69144c77";
  const std::string r128_empty = "cdf26213a150dc3ecb610f18f6b38b46";
  const std::string r256_abc = "afbd6e228b9d8cbbcef5ca2d03e6dba10ac0bc7dcbe4680e1e42d2e975459b65";
  struct Case {
    uint8_t id;
    const char* password;
    std::string key;
  };
  const Case cases[] = {
      {0, "abc", r128_abc}, {0, "", r128_empty},
      {1, "abc", r256_abc}, {2, "abc", r128_abc.substr(0, 16)},
      {3, "abc", r128_abc}, {4, "abc", r256_abc},
      {5, "abc", r128_abc}, {6, "abc", r256_abc},
      {7, "abc", r128_abc},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.id) + " '" + c.password + "'");
    EXPECT_EQ(RzvDerivePageKey(c.id, c.password), Hex(c.key));
  }
  EXPECT_TRUE(RzvDerivePageKey(8, "abc").empty());
}

// One published block per cipher. The chain encrypts the first block as
// E(P ^ FF..FF), so feeding P ^ FF..FF yields E(P).
TEST(PageCipherTest, FirstBlockMatchesPublishedCipherVectors) {
  struct Case {
    const char* what;
    uint8_t id;
    const char* key;
    const char* plain;
    const char* cipher;
  };
  const Case cases[] = {
      {"AES-128 (FIPS-197 C.1)", 0, "000102030405060708090a0b0c0d0e0f",
       "00112233445566778899aabbccddeeff", "69c4e0d86a7b0430d8cdb78070b4c55a"},
      {"AES-256 (FIPS-197 C.3)", 1,
       "000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f",
       "00112233445566778899aabbccddeeff", "8ea2b7ca516745bfeafc49904b496089"},
      {"DES", 2, "133457799bbcdff1", "0123456789abcdef", "85e813540f0ab405"},
      {"Blowfish", 4, "0000000000000000", "0000000000000000", "4ef997456198dd78"},
      {"Twofish-128", 5, "00000000000000000000000000000000", "00000000000000000000000000000000",
       "9f589f5cf6122c32b6bfec2f2ae8c35a"},
      {"Twofish-256", 6, "0000000000000000000000000000000000000000000000000000000000000000",
       "00000000000000000000000000000000", "57ff739d4dc92c1bd7fc01700cc8216f"},
      {"Square", 7, "000102030405060708090a0b0c0d0e0f", "000102030405060708090a0b0c0d0e0f",
       "7c3491d94994e70f0ec2e7a5ccb5a14f"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const Bytes key = Hex(c.key);
    const RzvPageCipher cipher = RzvPageCipher::FromRawKey(c.id, key.data(), key.size());
    Bytes buf = Hex(c.plain);
    for (uint8_t& b : buf) b ^= 0xFF;
    const Bytes fed = buf;
    ASSERT_TRUE(cipher.Encrypt(buf.data(), buf.size()));
    EXPECT_EQ(buf, Hex(c.cipher));
    ASSERT_TRUE(cipher.Decrypt(buf.data(), buf.size()));
    EXPECT_EQ(buf, fed);
  }
}

using BlockFn = std::function<void(const uint8_t* in, uint8_t* out)>;

struct ReferenceCipher {
  size_t block;
  BlockFn encrypt;
  BlockFn decrypt;
};

template <class Cipher>
ReferenceCipher LibraryReference(const Bytes& key) {
  auto e = std::make_shared<typename Cipher::Encryption>(key.data(), key.size());
  auto d = std::make_shared<typename Cipher::Decryption>(key.data(), key.size());
  return {Cipher::BLOCKSIZE, [e](const uint8_t* in, uint8_t* out) { e->ProcessBlock(in, out); },
          [d](const uint8_t* in, uint8_t* out) { d->ProcessBlock(in, out); }};
}

// DES_Triple written out step by step from single DES: three DES blocks per
// 24-byte block, bytes 4..7 exchanged with 8..11 between the passes.
ReferenceCipher TripleDesReference(const Bytes& key16) {
  Bytes k(24, 0);
  std::memcpy(k.data(), key16.data(), 16);
  using CryptoPP::DES;
  auto e1 = std::make_shared<DES::Encryption>(k.data(), 8);
  auto d1 = std::make_shared<DES::Decryption>(k.data(), 8);
  auto e2 = std::make_shared<DES::Encryption>(k.data() + 8, 8);
  auto d2 = std::make_shared<DES::Decryption>(k.data() + 8, 8);
  auto e3 = std::make_shared<DES::Encryption>(k.data() + 16, 8);
  auto d3 = std::make_shared<DES::Decryption>(k.data() + 16, 8);
  auto exchange = [](uint8_t* b) {
    for (int i = 0; i < 4; ++i) std::swap(b[4 + i], b[8 + i]);
  };
  auto encrypt = [=](const uint8_t* in, uint8_t* out) {
    std::memcpy(out, in, 24);
    for (int i = 0; i < 3; ++i) e1->ProcessBlock(out + 8 * i);
    exchange(out);
    for (int i = 0; i < 3; ++i) d2->ProcessBlock(out + 8 * i);
    exchange(out);
    for (int i = 0; i < 3; ++i) e3->ProcessBlock(out + 8 * i);
  };
  auto decrypt = [=](const uint8_t* in, uint8_t* out) {
    std::memcpy(out, in, 24);
    for (int i = 0; i < 3; ++i) d3->ProcessBlock(out + 8 * i);
    exchange(out);
    for (int i = 0; i < 3; ++i) e2->ProcessBlock(out + 8 * i);
    exchange(out);
    for (int i = 0; i < 3; ++i) d1->ProcessBlock(out + 8 * i);
  };
  return {24, encrypt, decrypt};
}

ReferenceCipher Reference(uint8_t id, const std::string& password) {
  const Bytes key = RzvDerivePageKey(id, password);
  switch (id) {
    case 0:
    case 1:
      return LibraryReference<CryptoPP::Rijndael>(key);
    case 2:
      return LibraryReference<CryptoPP::DES>(key);
    case 3:
      return TripleDesReference(key);
    case 4:
      return LibraryReference<CryptoPP::Blowfish>(key);
    case 5:
    case 6:
      return LibraryReference<CryptoPP::Twofish>(key);
    default:
      return LibraryReference<CryptoPP::Square>(key);
  }
}

// The chaining mode, one block at a time, as plainly as it can be written.
Bytes ReferenceChain(const ReferenceCipher& c, Bytes data, bool encrypt) {
  const size_t b = c.block;
  Bytes f(b, 0xFF);
  Bytes t(b);
  size_t i = 0;
  for (; i + b <= data.size(); i += b) {
    Bytes in(data.begin() + i, data.begin() + i + b);
    if (encrypt) {
      for (size_t k = 0; k < b; ++k) in[k] ^= f[k];
      c.encrypt(in.data(), t.data());
      for (size_t k = 0; k < b; ++k) f[k] ^= t[k];
      std::memcpy(&data[i], t.data(), b);
    } else {
      c.decrypt(in.data(), t.data());
      for (size_t k = 0; k < b; ++k) data[i + k] = t[k] ^ f[k];
      for (size_t k = 0; k < b; ++k) f[k] ^= in[k];
    }
  }
  if (i < data.size()) {
    c.encrypt(f.data(), t.data());
    for (size_t k = 0; i + k < data.size(); ++k) data[i + k] ^= t[k];
  }
  return data;
}

TEST(PageCipherTest, EveryAlgorithmMatchesTheReferenceChainAndRoundTrips) {
  const std::string password = "Day log \xE9t\xE9";  // windows-1252 bytes
  for (uint8_t id = 0; id < kRzvCryptoAlgorithmCount; ++id) {
    const ReferenceCipher ref = Reference(id, password);
    const RzvPageCipher cipher(id, password);
    const size_t b = ref.block;
    // 3 * kPageDataSize + 7 runs past the cipher's internal batch size.
    for (size_t len :
         {size_t{0}, size_t{1}, b - 1, b, b + 1, 2 * b + 3, kPageDataSize, 3 * kPageDataSize + 7}) {
      SCOPED_TRACE(std::string(RzvCryptoAlgorithmName(id)) + " len " + std::to_string(len));
      const Bytes plain = Pattern(len, id + 7);
      Bytes buf = plain;
      ASSERT_TRUE(cipher.Encrypt(buf.data(), buf.size()));
      ASSERT_EQ(buf, ReferenceChain(ref, plain, true));
      if (len >= b) {
        EXPECT_NE(buf, plain);
      }
      Bytes once = plain;
      ASSERT_TRUE(EncryptBuffer(id, once.data(), once.size(), password));
      EXPECT_EQ(once, buf);
      ASSERT_EQ(ReferenceChain(ref, buf, false), plain);
      ASSERT_TRUE(cipher.Decrypt(buf.data(), buf.size()));
      ASSERT_EQ(buf, plain);
      ASSERT_TRUE(DecryptBuffer(id, once.data(), once.size(), password));
      EXPECT_EQ(once, plain);
    }
  }
}

TEST(PageCipherTest, TripleDesMixesOnlyTheFirstTwoDesBlocks) {
  // Bytes 4..7 and 8..11 are exchanged between the passes, which ties DES
  // blocks 0 and 1 together; bytes 16..23 are never exchanged and so form a
  // DES block of their own.
  const RzvPageCipher cipher(kRzvDesTriple, "secret");
  const Bytes base(24, 0x11);
  Bytes enc_base = base;
  ASSERT_TRUE(cipher.Encrypt(enc_base.data(), enc_base.size()));
  struct Case {
    size_t byte;
    bool third_changes[3];
  };
  const Case cases[] = {{0, {true, true, false}},
                        {11, {true, true, false}},
                        {16, {false, false, true}},
                        {23, {false, false, true}}};
  for (const Case& c : cases) {
    Bytes b = base;
    b[c.byte] ^= 1;
    ASSERT_TRUE(cipher.Encrypt(b.data(), b.size()));
    for (size_t third = 0; third < 3; ++third) {
      const bool same = std::equal(b.begin() + 8 * third, b.begin() + 8 * third + 8,
                                   enc_base.begin() + 8 * third);
      EXPECT_EQ(!same, c.third_changes[third]) << "byte " << c.byte << " third " << third;
    }
  }
}

bool SameRange(const Bytes& a, const Bytes& b, size_t from, size_t to) {
  return std::equal(a.begin() + from, a.begin() + to, b.begin() + from);
}

TEST(PageCipherTest, ChainingSpreadsChangesForwardOnly) {
  const RzvPageCipher aes(kRzvRijndael128, "secret");
  const Bytes plain = Pattern(kPageDataSize);
  Bytes base = plain;
  ASSERT_TRUE(aes.Encrypt(base.data(), base.size()));
  Bytes again = plain;
  ASSERT_TRUE(aes.Encrypt(again.data(), again.size()));
  EXPECT_EQ(again, base) << "every buffer starts its chain from the same value";

  // 4056 = 253 * 16 + 8: the last 8 bytes are a tail, xored with a key
  // stream that depends only on the blocks before it.
  Bytes tail = plain;
  tail[kPageDataSize - 3] ^= 0x40;
  ASSERT_TRUE(aes.Encrypt(tail.data(), tail.size()));
  for (size_t i = 0; i < kPageDataSize; ++i) {
    ASSERT_EQ(tail[i] != base[i], i == kPageDataSize - 3) << i;
  }
  EXPECT_EQ(tail[kPageDataSize - 3], base[kPageDataSize - 3] ^ 0x40);

  // A change in block 0 reaches every later block and the tail.
  Bytes first = plain;
  first[5] ^= 1;
  ASSERT_TRUE(aes.Encrypt(first.data(), first.size()));
  for (size_t off = 0; off < kPageDataSize; off += 16) {
    const size_t end = std::min(off + 16, kPageDataSize);
    ASSERT_FALSE(SameRange(first, base, off, end)) << off;
  }

  // A change in a middle block leaves the blocks before it alone.
  Bytes middle = plain;
  middle[100 * 16] ^= 1;
  ASSERT_TRUE(aes.Encrypt(middle.data(), middle.size()));
  EXPECT_TRUE(SameRange(middle, base, 0, 100 * 16));
  for (size_t off = 100 * 16; off < kPageDataSize; off += 16) {
    ASSERT_FALSE(SameRange(middle, base, off, std::min(off + 16, kPageDataSize))) << off;
  }
}

TEST(PageCipherTest, TripleDesPageHasNoTail) {
  // 4056 = 169 * 24: the last byte sits in a full block, so changing it
  // re-encrypts its whole DES block (bytes 16..23 of the last 24-byte block)
  // instead of flipping just that byte as a tail would.
  const RzvPageCipher des3(kRzvDesTriple, "secret");
  ASSERT_EQ(kPageDataSize % des3.BlockSize(), 0u);
  const Bytes plain = Pattern(kPageDataSize);
  Bytes base = plain;
  Bytes last = plain;
  last.back() ^= 1;
  ASSERT_TRUE(des3.Encrypt(base.data(), base.size()));
  ASSERT_TRUE(des3.Encrypt(last.data(), last.size()));
  EXPECT_TRUE(SameRange(last, base, 0, kPageDataSize - 8));
  int changed = 0;
  for (size_t i = kPageDataSize - 8; i < kPageDataSize; ++i) changed += last[i] != base[i];
  EXPECT_GE(changed, 5);
}

TEST(PageCipherTest, UnknownAlgorithmLeavesBuffersUnchanged) {
  for (uint8_t id : {8, 200, 255}) {
    const Bytes plain = Pattern(100);
    Bytes buf = plain;
    const RzvPageCipher cipher(id, "secret");
    EXPECT_EQ(cipher.BlockSize(), 0u);
    EXPECT_TRUE(cipher.Encrypt(buf.data(), buf.size()));
    EXPECT_TRUE(EncryptBuffer(id, buf.data(), buf.size(), "secret"));
    EXPECT_TRUE(DecryptBuffer(id, buf.data(), buf.size(), "secret"));
    EXPECT_EQ(buf, plain) << int{id};
  }
}

TEST(PageCipherTest, DifferentPasswordsOrAlgorithmsGiveDifferentBytes) {
  const Bytes plain = Pattern(kPageDataSize);
  std::vector<Bytes> seen;
  for (uint8_t id = 0; id < kRzvCryptoAlgorithmCount; ++id) {
    for (const char* pw : {"secret", "Secret"}) {
      Bytes buf = plain;
      ASSERT_TRUE(EncryptBuffer(id, buf.data(), buf.size(), pw));
      for (const Bytes& other : seen) ASSERT_NE(buf, other) << int{id} << pw;
      seen.push_back(buf);
    }
  }
}

TEST(PageCipherTest, RawKeyErrors) {
  const Bytes key(16, 1);
  struct Case {
    uint8_t id;
    size_t key_length;
    int32_t code;
  };
  const Case cases[] = {
      {8, 16, 10467}, {0, 15, 30435}, {2, 16, 30435}, {3, 8, 30435}, {7, 32, 30435}};
  for (const Case& c : cases) {
    try {
      (void)RzvPageCipher::FromRawKey(c.id, key.data(), c.key_length);
      ADD_FAILURE() << int{c.id} << " " << c.key_length;
    } catch (const RzvException& e) {
      EXPECT_EQ(e.NativeError(), c.code) << e.what();
    }
  }
}

TEST(PageCipherTest, MovedFromCipherRefusesToWork) {
  RzvPageCipher a(kRzvRijndael128, "secret");
  RzvPageCipher b(std::move(a));
  Bytes buf = Pattern(64);
  const Bytes plain = buf;
  EXPECT_FALSE(a.Encrypt(buf.data(), buf.size()));  // NOLINT(bugprone-use-after-move)
  EXPECT_FALSE(a.Decrypt(buf.data(), buf.size()));  // NOLINT(bugprone-use-after-move)
  ASSERT_TRUE(b.Encrypt(buf.data(), buf.size()));
  EXPECT_NE(buf, plain);
}

TEST(PageCipherTest, SharedCipherGivesTheSameBytesOnEveryThread) {
  const Bytes plain = Pattern(kPageDataSize);
  for (uint8_t id = 0; id < kRzvCryptoAlgorithmCount; ++id) {
    const RzvPageCipher cipher(id, "secret");
    Bytes expected = plain;
    ASSERT_TRUE(cipher.Encrypt(expected.data(), expected.size()));
    std::vector<int> failures(4, 0);
    std::vector<std::thread> threads;
    for (size_t t = 0; t < failures.size(); ++t) {
      threads.emplace_back([&, t] {
        for (int i = 0; i < 40; ++i) {
          Bytes buf = plain;
          cipher.Encrypt(buf.data(), buf.size());
          failures[t] += buf != expected;
          cipher.Decrypt(buf.data(), buf.size());
          failures[t] += buf != plain;
        }
      });
    }
    for (auto& th : threads) th.join();
    EXPECT_EQ(failures, std::vector<int>(4, 0)) << RzvCryptoAlgorithmName(id);
  }
}

// A 4096-byte page with a recognisable header.
Bytes MakePage() {
  Bytes page = Pattern(4096, 99);
  std::memcpy(page.data(), "RZVP", 4);
  StoreLE<uint32_t>(&page[RzvPageCipher::kDataCrcOffset], 0);
  page[RzvPageCipher::kCryptoAlgorithmOffset] = 0;
  return page;
}

TEST(PageCipherPageTest, WriteStampsHeaderAndEncryptsOnlyTheDataArea) {
  const RzvPageCipher cipher(kRzvBlowfish, "secret");
  const Bytes plain = MakePage();
  Bytes page = plain;
  ASSERT_TRUE(cipher.EncryptPage(page.data(), page.size()));

  EXPECT_EQ(LoadLE<uint32_t>(&page[14]), RzvCrc32(plain.data() + 40, 4056));
  EXPECT_EQ(page[20], kRzvBlowfish);
  for (size_t i = 0; i < 40; ++i) {
    if (i < 14 || (i >= 18 && i != 20)) {
      EXPECT_EQ(page[i], plain[i]) << i;
    }
  }
  Bytes data(plain.begin() + 40, plain.end());
  ASSERT_TRUE(EncryptBuffer(kRzvBlowfish, data.data(), data.size(), "secret"));
  EXPECT_TRUE(std::equal(data.begin(), data.end(), page.begin() + 40));

  // After the write the page manager decrypts its cached copy again.
  ASSERT_TRUE(cipher.DecryptPage(page.data(), page.size()));
  EXPECT_TRUE(std::equal(plain.begin() + 40, plain.end(), page.begin() + 40));
}

TEST(PageCipherPageTest, ReadUsesTheIdStampedInThePage) {
  const Bytes plain = MakePage();
  Bytes page = plain;
  ASSERT_TRUE(RzvPageCipher(kRzvTwofish256, "secret").EncryptPage(page.data(), page.size()));

  const RzvPageCipher database(kRzvRijndael128, "secret");
  EXPECT_NO_THROW(database.DecryptPageOrThrow(page.data(), page.size(), 7));
  EXPECT_TRUE(std::equal(plain.begin() + 40, plain.end(), page.begin() + 40));

  // A cipher keyed without a password cannot key another id.
  ASSERT_TRUE(RzvPageCipher(kRzvTwofish256, "secret").EncryptPage(page.data(), page.size()));
  const Bytes key = RzvDerivePageKey(kRzvRijndael128, "secret");
  EXPECT_FALSE(RzvPageCipher::FromRawKey(kRzvRijndael128, key.data(), key.size())
                   .DecryptPage(page.data(), page.size()));
}

TEST(PageCipherPageTest, DamagedPagesFailTheCrcCheck) {
  const RzvPageCipher cipher(kRzvRijndael128, "secret");
  struct Case {
    const char* what;
    std::function<void(Bytes&)> damage;
    const char* password;
  };
  const Case cases[] = {
      {"data byte", [](Bytes& p) { p[2000] ^= 0x01; }, "secret"},
      {"tail byte", [](Bytes& p) { p[4095] ^= 0x80; }, "secret"},
      {"stored crc", [](Bytes& p) { p[14] ^= 0x01; }, "secret"},
      {"stamped id", [](Bytes& p) { p[20] = kRzvSquare; }, "secret"},
      {"wrong password", [](Bytes&) {}, "Secret"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Bytes page = MakePage();
    ASSERT_TRUE(cipher.EncryptPage(page.data(), page.size()));
    c.damage(page);
    ExpectError(
        [&] {
          RzvPageCipher(kRzvRijndael128, c.password)
              .DecryptPageOrThrow(page.data(), page.size(), 1234);
        },
        30446, "Decrypt page error. Check CRC failed. PageNo: 1234", "no error");
  }
  Bytes tiny(39, 0);
  EXPECT_FALSE(cipher.EncryptPage(tiny.data(), tiny.size()));
  EXPECT_FALSE(cipher.DecryptPage(tiny.data(), tiny.size()));
}

}  // namespace
}  // namespace rzv
