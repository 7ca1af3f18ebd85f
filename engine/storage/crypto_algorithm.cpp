#include "engine/storage/crypto_algorithm.h"

#include <array>

namespace rzv {

namespace {

// key_length = min(digest length, cipher_max_key). DES_Triple is the one
// exception to "the cipher takes exactly key_length bytes": its 24-byte key
// is the 16 digest bytes followed by 8 zero bytes.
constexpr std::array<RzvCryptoAlgorithmInfo, kRzvCryptoAlgorithmCount> kAlgorithms = {{
    {kRzvRijndael128, "Rijndael_128", 16, RzvKeyHash::kRipemd128, 16, 32},
    {kRzvRijndael256, "Rijndael_256", 16, RzvKeyHash::kRipemd256, 32, 32},
    {kRzvDesSingle, "DES_Single", 8, RzvKeyHash::kRipemd128, 8, 8},
    {kRzvDesTriple, "DES_Triple", 24, RzvKeyHash::kRipemd128, 16, 24},
    {kRzvBlowfish, "Blowfish", 8, RzvKeyHash::kRipemd256, 32, 56},
    {kRzvTwofish128, "Twofish_128", 16, RzvKeyHash::kRipemd128, 16, 32},
    {kRzvTwofish256, "Twofish_256", 16, RzvKeyHash::kRipemd256, 32, 32},
    {kRzvSquare, "Square", 16, RzvKeyHash::kRipemd128, 16, 16},
}};

}  // namespace

const RzvCryptoAlgorithmInfo* RzvFindCryptoAlgorithm(uint8_t id) {
  return id < kAlgorithms.size() ? &kAlgorithms[id] : nullptr;
}

const char* RzvCryptoAlgorithmName(uint8_t id) {
  const RzvCryptoAlgorithmInfo* info = RzvFindCryptoAlgorithm(id);
  return info ? info->name : "Unknown";
}

bool RzvIsValidCryptoAlgorithm(uint8_t id) {
  return RzvFindCryptoAlgorithm(id) != nullptr;
}

}  // namespace rzv
