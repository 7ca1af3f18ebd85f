// The password check block of the EncryptionHeader: 256 random bytes, each
// in 0..254, whose CRC-32 is stored in clear and which are stored encrypted
// as one 256-byte buffer. A password is right when the decrypted block gives
// that CRC again.
#pragma once

#include <cstddef>
#include <cstdint>

#include "engine/storage/password.h"

namespace rzv {

inline constexpr size_t kRzvCheckBlockSize = 256;

// Fills block with fresh random bytes encrypted under password.algorithm and
// sets *crc to the CRC-32 of the plain bytes. An empty password gives the
// unencrypted database's all-zero block and CRC 0. Throws RzvException 10467
// for an algorithm id above 7: that id would store the block, and every
// page, in clear while the file claims to be encrypted.
void RzvMakeCheckBlock(const RzvPassword& password, uint8_t block[kRzvCheckBlockSize],
                       uint32_t* crc);

// Whether password opens a database whose EncryptionHeader holds algorithm,
// block and crc. The stored algorithm wins over password.algorithm. An empty
// password never opens an encrypted database. block is not modified.
bool RzvCheckPassword(const RzvPassword& password, uint8_t algorithm,
                      const uint8_t block[kRzvCheckBlockSize], uint32_t crc);

// RzvCheckPassword, raising 30445 "Cannot open database because incorrect
// password" when it fails.
void RzvVerifyPassword(const RzvPassword& password, uint8_t algorithm,
                       const uint8_t block[kRzvCheckBlockSize], uint32_t crc);

}  // namespace rzv
