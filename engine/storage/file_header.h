// The three fixed headers at the start of a database image: the 76-byte file
// header, the 280-byte encryption header and the 20-byte reserved header. Each
// is an in-memory struct with explicit little-endian (de)serialisation; the
// reserved bytes are kept as read so that rewriting a header preserves them.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace rzv {

inline constexpr std::string_view kRzvFileSignature = "RUZUZUVEDATABASE";
inline constexpr double kRzvFileVersion = 5.13;
// Files below this version are in the old format and need conversion.
inline constexpr double kRzvCurrentFormatVersion = 2.99;
inline constexpr uint8_t kRzvFileStateInCommit = 1;
inline constexpr uint8_t kRzvFileStateConsistent = 2;

// Byte layout (offsets within the header):
//   0 char[16] Signature       16 uint16 HeaderSize      18 float64 Version
//  26 uint16 PageSize          28 uint16 ExtentPageCount 30 int32 TotalPageCount
//  34 int32 LastUsedPageNo     38 int32 ChangeCounter    42 uint8 FileState
//  43 uint8 Encrypted (non-zero = encrypted)             44 byte[32] reserved
struct RzvFileHeader {
  static constexpr int32_t kSize = 76;

  std::array<char, 16> signature{};
  uint16_t header_size = kSize;
  double version = kRzvFileVersion;
  uint16_t page_size = 4096;
  uint16_t extent_page_count = 8;
  int32_t total_page_count = 0;
  int32_t last_used_page_no = -1;
  int32_t change_counter = 0;
  uint8_t file_state = kRzvFileStateConsistent;
  uint8_t encrypted = 0;
  std::array<uint8_t, 32> reserved{};

  // A header as a new database gets it.
  static RzvFileHeader New(uint16_t page_size, uint16_t extent_page_count, bool encrypted);

  std::string SignatureText() const { return std::string(signature.data(), signature.size()); }
  bool HasSignature() const { return SignatureText() == kRzvFileSignature; }
  bool IsEncrypted() const { return encrypted != 0; }
  // Interrupted during a commit, or written in the old format.
  bool NeedsRepair() const {
    return file_state != kRzvFileStateConsistent || version < kRzvCurrentFormatVersion;
  }

  void Serialize(uint8_t (&out)[kSize]) const;
  static RzvFileHeader Parse(const uint8_t (&in)[kSize]);
};

// Byte layout: 0 uint16 Size = 280, 2 uint8 CryptoAlgorithm, 3 reserved,
// 4 byte[256] CheckBlock (encrypted), 260 uint32 CheckCrc, 264 byte[16] reserved.
// All zero except Size on an unencrypted database.
struct RzvEncryptionHeader {
  static constexpr int32_t kSize = 280;
  static constexpr int32_t kCheckBlockSize = 256;

  uint16_t size = kSize;
  uint8_t crypto_algorithm = 0;
  uint8_t reserved1 = 0;
  std::array<uint8_t, kCheckBlockSize> check_block{};
  uint32_t check_crc = 0;
  std::array<uint8_t, 16> reserved2{};

  void Serialize(uint8_t (&out)[kSize]) const;
  static RzvEncryptionHeader Parse(const uint8_t (&in)[kSize]);
};

// Byte layout: 0 uint16 Size = 20, then 18 zero bytes. Two of those bytes
// (image offsets 359 and 360) serve as the tables and header lock bytes.
struct RzvReservedHeader {
  static constexpr int32_t kSize = 20;

  uint16_t size = kSize;
  std::array<uint8_t, 18> rest{};

  void Serialize(uint8_t (&out)[kSize]) const;
  static RzvReservedHeader Parse(const uint8_t (&in)[kSize]);
};

}  // namespace rzv
