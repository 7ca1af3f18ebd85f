#include "engine/storage/page_header.h"

#include <array>
#include <cstring>
#include <string>

#include "engine/storage/exception.h"

namespace rzv {

namespace {

constexpr std::array<std::string_view, kMaxPageType + 1> kPageTypeNames = {
    "Unknown Page",
    "Empty Page",
    "EAM Page",
    "PFS Page",
    "FileSystemDirectory Page",
    "ActiveSessionList Page",
    "TableList Page",
    "TableLocks Page",
    "TableMetaData Page",
    "TableMostUpdated Page",
    "TableRecord Page",
    "TableBlob Page",
    "TableIndex Page",
};

bool IsNamedType(int type) {
  return type >= 0 && type <= kMaxPageType;
}

}  // namespace

std::string_view RzvPageTypeName(int type) {
  if (!IsNamedType(type)) throw RzvException::Format(30382, "Unknown Page Type: (%d)", type);
  return kPageTypeNames[static_cast<size_t>(type)];
}

void RzvCheckPageType(int found, RzvPageType wanted, int32_t error_code) {
  if (found == static_cast<int>(wanted)) return;
  // A corrupted page can carry any number; name it rather than letting the
  // name lookup replace the type error.
  std::string found_name =
      IsNamedType(found) ? std::string(RzvPageTypeName(found)) : "(" + std::to_string(found) + ")";
  throw RzvException::Format(error_code, "Wrong page type. Found '%s', but wanted: '%s'",
                             found_name, RzvPageTypeName(static_cast<int>(wanted)));
}

void RzvInitPageBuffer(uint8_t* page, int32_t page_size) {
  std::memset(page, 0, static_cast<size_t>(page_size));
  std::memcpy(page + kPageSignatureOffset, kPageSignature.data(), kPageSignature.size());
  StoreLE<int32_t>(page + kNextPageNoOffset, kInvalidPageNo);
  StoreLE<int32_t>(page + kOwnerTableIdOffset, -1);
  StoreLE<int32_t>(page + kPageTableFieldOffset, -1);
}

bool RzvPageHeader::HasSignature() const {
  return std::memcmp(p_ + kPageSignatureOffset, kPageSignature.data(), kPageSignature.size()) == 0;
}

void RzvPageHeader::BumpPageVersion() {
  int32_t v = PageVersion();
  // A page that failed to read or a corrupt negative value restarts too.
  v = (v < 0 || v >= kPageVersionWrap - 1) ? 0 : v + 1;
  SetPageVersion(v);
}

}  // namespace rzv
