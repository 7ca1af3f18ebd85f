// The eight page-encryption algorithms: a crypto algorithm id (uint8, stored
// in the EncryptionHeader and in every page header) names a block cipher and
// the hash that turns the password into its key.
#pragma once

#include <cstddef>
#include <cstdint>

namespace rzv {

inline constexpr uint8_t kRzvRijndael128 = 0;
inline constexpr uint8_t kRzvRijndael256 = 1;
inline constexpr uint8_t kRzvDesSingle = 2;
inline constexpr uint8_t kRzvDesTriple = 3;
inline constexpr uint8_t kRzvBlowfish = 4;
inline constexpr uint8_t kRzvTwofish128 = 5;
inline constexpr uint8_t kRzvTwofish256 = 6;
inline constexpr uint8_t kRzvSquare = 7;

inline constexpr uint8_t kRzvCryptoAlgorithmCount = 8;
inline constexpr uint8_t kRzvDefaultCryptoAlgorithm = kRzvRijndael128;

enum class RzvKeyHash : uint8_t { kRipemd128, kRipemd256 };

struct RzvCryptoAlgorithmInfo {
  uint8_t id;
  const char* name;       // as stored in settings and shown to users
  size_t block_size;      // bytes per chaining block
  RzvKeyHash key_hash;    // hash of the password bytes
  size_t key_length;      // leading digest bytes used as the key
  size_t cipher_max_key;  // longest key the cipher takes
};

// Table entry for id, or nullptr for ids above 7.
const RzvCryptoAlgorithmInfo* RzvFindCryptoAlgorithm(uint8_t id);

// "Rijndael_128" ... "Square"; "Unknown" for ids above 7.
const char* RzvCryptoAlgorithmName(uint8_t id);

bool RzvIsValidCryptoAlgorithm(uint8_t id);

}  // namespace rzv
