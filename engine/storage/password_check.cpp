#include "engine/storage/password_check.h"

#include <cryptopp/osrng.h>

#include <cstring>

#include "engine/storage/crc32.h"
#include "engine/storage/crypto_algorithm.h"
#include "engine/storage/exception.h"
#include "engine/storage/page_cipher.h"

namespace rzv {

void RzvMakeCheckBlock(const RzvPassword& password, uint8_t block[kRzvCheckBlockSize],
                       uint32_t* crc) {
  if (!password.IsEncrypted()) {
    std::memset(block, 0, kRzvCheckBlockSize);
    *crc = 0;
    return;
  }
  if (!RzvIsValidCryptoAlgorithm(password.algorithm)) {
    throw RzvException::Format(10467, "Unknown crypto algorithm id = %d", password.algorithm);
  }
  // GenerateWord32 draws each value uniformly from the range (it rejects
  // rather than reduces modulo 255).
  CryptoPP::AutoSeededRandomPool rng;
  for (size_t i = 0; i < kRzvCheckBlockSize; ++i) {
    block[i] = static_cast<uint8_t>(rng.GenerateWord32(0, 254));
  }
  *crc = RzvCrc32(block, kRzvCheckBlockSize);
  if (!RzvPageCipher(password.algorithm, password.password).Encrypt(block, kRzvCheckBlockSize)) {
    throw RzvException(30433, "Cannot encrypt the password check block");
  }
}

bool RzvCheckPassword(const RzvPassword& password, uint8_t algorithm,
                      const uint8_t block[kRzvCheckBlockSize], uint32_t crc) {
  if (!password.IsEncrypted()) return false;
  uint8_t plain[kRzvCheckBlockSize];
  std::memcpy(plain, block, kRzvCheckBlockSize);
  if (!RzvPageCipher(algorithm, password.password).Decrypt(plain, kRzvCheckBlockSize)) {
    return false;
  }
  return RzvCrc32(plain, kRzvCheckBlockSize) == crc;
}

void RzvVerifyPassword(const RzvPassword& password, uint8_t algorithm,
                       const uint8_t block[kRzvCheckBlockSize], uint32_t crc) {
  if (!RzvCheckPassword(password, algorithm, block, crc)) {
    throw RzvException(30445, "Cannot open database because incorrect password");
  }
}

}  // namespace rzv
