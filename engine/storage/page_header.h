// The 40-byte header at the start of every database page, its page types and
// their display names. RzvPageHeader is a non-owning view over a page buffer;
// all fields are little-endian.
//
// Layout (offsets in the page):
//   0  char[4]  signature "RZVP"
//   4  int32    PageVersion: write counter; 0x7FFFFFFF marks a failed read or
//               a freed page
//   8  uint16   PageType
//   10 int32    NextPageNo: next page of an internal-file chain, -1 = none
//   14 uint32   DataCrc: CRC-32 of the plain data area (encrypted pages only)
//   18 uint8    table layer
//   19 uint8    table layer
//   20 uint8    PageCryptoAlgorithm: cipher id the data area was encrypted with
//   21 uint8    table layer
//   22 int32    OwnerTableId, -1 = none
//   26 int32    table layer, -1 initially
//   30 uint16   table layer
//   32 byte[8]  table layer
//   40          data area (PageSize - 40 bytes)
#pragma once

#include <cstdint>
#include <string_view>

#include "engine/storage/byte_order.h"

namespace rzv {

constexpr int32_t kPageHeaderSize = 40;
constexpr int32_t kInvalidPageNo = -1;
// PageVersion of a page whose read failed, stamped on disk into freed pages.
constexpr int32_t kFailedPageVersion = 0x7FFFFFFF;
// Written pages wrap their PageVersion to 0 before reaching this value.
constexpr int32_t kPageVersionWrap = 0x7FFFFFFD;
// New pages start with a random PageVersion in 0..kMaxInitialPageVersion.
constexpr int32_t kMaxInitialPageVersion = 0x3FFFFFFE;

constexpr int kPageSignatureOffset = 0;
constexpr int kPageVersionOffset = 4;
constexpr int kPageTypeOffset = 8;
constexpr int kNextPageNoOffset = 10;
constexpr int kDataCrcOffset = 14;
constexpr int kPageCryptoAlgorithmOffset = 20;
constexpr int kOwnerTableIdOffset = 22;
constexpr int kPageTableFieldOffset = 26;  // int32 owned by the table layer, -1 initially

constexpr std::string_view kPageSignature = "RZVP";

enum class RzvPageType : uint16_t {
  kUnknown = 0,
  kEmpty = 1,
  kEam = 2,
  kPfs = 3,
  kFileSystemDirectory = 4,
  kActiveSessionList = 5,
  kTableList = 6,
  kTableLocks = 7,
  kTableMetaData = 8,
  kTableMostUpdated = 9,
  kTableRecord = 10,
  kTableBlob = 11,
  kTableIndex = 12,
};
constexpr int kMaxPageType = 12;
// "Any type" for page requests that do not check the type.
constexpr uint8_t kAnyPageType = 255;

// Display name of a page type, as used in messages; a type above 12 fails
// with 30382.
std::string_view RzvPageTypeName(int type);

// Throws "Wrong page type" with the given native code when found != wanted.
// Unnamed found types are reported by number instead of failing with 30382.
void RzvCheckPageType(int found, RzvPageType wanted, int32_t error_code);

// Zero-fills page_size bytes and sets the header defaults: signature,
// NextPageNo -1, OwnerTableId -1 and the table field at 26 = -1.
void RzvInitPageBuffer(uint8_t* page, int32_t page_size);

class RzvPageHeader {
 public:
  explicit RzvPageHeader(uint8_t* page) : p_(page) {}

  bool HasSignature() const;
  int32_t PageVersion() const { return LoadLE<int32_t>(p_ + kPageVersionOffset); }
  void SetPageVersion(int32_t v) { StoreLE<int32_t>(p_ + kPageVersionOffset, v); }
  uint16_t PageType() const { return LoadLE<uint16_t>(p_ + kPageTypeOffset); }
  void SetPageType(RzvPageType t) {
    StoreLE<uint16_t>(p_ + kPageTypeOffset, static_cast<uint16_t>(t));
  }
  int32_t NextPageNo() const { return LoadLE<int32_t>(p_ + kNextPageNoOffset); }
  void SetNextPageNo(int32_t v) { StoreLE<int32_t>(p_ + kNextPageNoOffset, v); }
  uint32_t DataCrc() const { return LoadLE<uint32_t>(p_ + kDataCrcOffset); }
  void SetDataCrc(uint32_t v) { StoreLE<uint32_t>(p_ + kDataCrcOffset, v); }
  uint8_t PageCryptoAlgorithm() const { return p_[kPageCryptoAlgorithmOffset]; }
  void SetPageCryptoAlgorithm(uint8_t v) { p_[kPageCryptoAlgorithmOffset] = v; }
  int32_t OwnerTableId() const { return LoadLE<int32_t>(p_ + kOwnerTableIdOffset); }
  void SetOwnerTableId(int32_t v) { StoreLE<int32_t>(p_ + kOwnerTableIdOffset, v); }

  // Increments PageVersion before a disk write, restarting at 0 so that a
  // written page never carries 0x7FFFFFFD..0x7FFFFFFF.
  void BumpPageVersion();

  uint8_t* Data() const { return p_ + kPageHeaderSize; }

 private:
  uint8_t* p_;
};

}  // namespace rzv
