// RzvPageCipher: one password and crypto algorithm id turned into a keyed
// block cipher, and the engine's chaining mode over whole buffers (page data
// areas and the 256-byte password check block).
//
// Chaining, with block size B, block encryption E, decryption D and the
// feedback register F starting at one block of 0xFF bytes for every buffer:
//   full block P:   C = E(P ^ F);  F ^= C
//   tail of r < B:  X = E(F);      out = P ^ X[0..r)
// Decryption mirrors it (P = D(C) ^ F; F ^= C) and also uses E for the tail.
// Output has the input's length; there is no padding. Because F depends only
// on the ciphertext, every full block of a buffer decrypts independently.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace rzv {

class RzvPageCipher {
 public:
  // Page header fields this class reads and writes; the data area is bytes
  // kDataOffset .. PageSize-1 of a page.
  static constexpr size_t kDataOffset = 40;
  static constexpr size_t kDataCrcOffset = 14;          // uint32 LE
  static constexpr size_t kCryptoAlgorithmOffset = 20;  // uint8

  // Derives the key from exactly the password's bytes with the algorithm's
  // hash and builds the key schedule once. An id above 7 makes a cipher that
  // leaves every buffer unchanged.
  RzvPageCipher(uint8_t algorithm, std::string_view password);

  // A cipher keyed directly, without hashing a password (known-answer tests,
  // tools). The key may have any length the algorithm's cipher accepts; id 3
  // takes 16 bytes (K3 zero) or 24. A cipher made this way knows no password,
  // so DecryptPage fails for pages stamped with another id. Throws
  // RzvException 10467 for an id above 7, 30435 for a bad key length.
  static RzvPageCipher FromRawKey(uint8_t algorithm, const void* key, size_t key_length);

  // A moved-from cipher fails every Encrypt and Decrypt of a valid id.
  RzvPageCipher(RzvPageCipher&&) noexcept;
  RzvPageCipher& operator=(RzvPageCipher&&) noexcept;
  ~RzvPageCipher();

  uint8_t Algorithm() const { return algorithm_; }
  // Chaining block size in bytes; 0 for an id above 7.
  size_t BlockSize() const;

  // Encrypt / decrypt len bytes in place, each call chaining from the start
  // value, so a cipher may be shared by threads. False means the cipher
  // failed and the buffer is undefined.
  bool Encrypt(void* buf, size_t len) const;
  bool Decrypt(void* buf, size_t len) const;

  // Prepares a page for the disk: DataCrc := CRC-32 of the plain data area,
  // PageCryptoAlgorithm := Algorithm(), then encrypts the data area. After the
  // write, DecryptPage restores the plain page. False for a page_size below
  // kDataOffset or a cipher failure.
  bool EncryptPage(void* page, size_t page_size) const;
  // Decrypts a page's data area in place with the id stamped in the page (not
  // necessarily Algorithm(); another id is keyed from this cipher's password
  // for the call) and returns whether its CRC-32 matches DataCrc.
  bool DecryptPage(void* page, size_t page_size) const;
  // DecryptPage, raising 30446 "Decrypt page error. Check CRC failed. PageNo: %d"
  // on a mismatch.
  void DecryptPageOrThrow(void* page, size_t page_size, int32_t page_no) const;

  class Impl;

 private:
  RzvPageCipher(uint8_t algorithm, std::unique_ptr<Impl> impl, std::string password,
                bool has_password);

  uint8_t algorithm_;
  std::unique_ptr<Impl> impl_;  // null for ids above 7
  std::string password_;        // keys pages stamped with another id
  bool has_password_;
};

// The key of an algorithm for a password: the first min(digest, cipher
// maximum) bytes of RIPEMD-128 or RIPEMD-256 over the password's bytes (16
// bytes for id 3, whose cipher appends 8 zero bytes). Empty for ids above 7.
std::vector<uint8_t> RzvDerivePageKey(uint8_t algorithm, std::string_view password);

// One-shot forms: a fresh cipher per call. Prefer a kept RzvPageCipher when
// the same password encrypts many buffers.
bool EncryptBuffer(uint8_t algorithm, void* buffer, size_t length, const std::string& password);
bool DecryptBuffer(uint8_t algorithm, void* buffer, size_t length, const std::string& password);

}  // namespace rzv
