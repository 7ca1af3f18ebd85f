#include "engine/table/field_types.h"

#include <array>
#include <string>

#include "engine/storage/exception.h"

namespace rzv {

namespace {

using D = RzvDeclaredType;
using S = RzvStorageType;
using F = RzvDatasetFieldType;

// Order is significant: lookups take the first matching row.
constexpr std::array<TSQLFieldType, 62> kSqlFieldTypes{{
    {"CHAR", D::kChar, S::kChar, F::ftFixedChar},
    {"FIXEDCHAR", D::kChar, S::kChar, F::ftFixedChar},
    {"STRING", D::kString, S::kString, F::ftString},
    {"VARCHAR", D::kString, S::kString, F::ftString},
    {"VARCHAR2", D::kString, S::kString, F::ftString},
    {"WIDECHAR", D::kWideChar, S::kWideChar, F::ftWideString},
    {"FIXEDWIDECHAR", D::kWideChar, S::kWideChar, F::ftWideString},
    {"WIDESTRING", D::kWideString, S::kWideString, F::ftWideString},
    {"WIDEVARCHAR", D::kWideString, S::kWideString, F::ftWideString},
    {"SMALLINT", D::kSmallint, S::kSmallint, F::ftSmallint},
    {"SIGNEDINT16", D::kSmallint, S::kSmallint, F::ftSmallint},
    {"SHORTINT", D::kShortint, S::kShortint, F::ftSmallint},
    {"SIGNEDINT8", D::kShortint, S::kShortint, F::ftSmallint},
    {"INTEGER", D::kInteger, S::kInteger, F::ftInteger},
    {"SIGNEDINT32", D::kInteger, S::kInteger, F::ftInteger},
    {"LARGEINT", D::kLargeint, S::kLargeint, F::ftLargeint},
    {"INT64", D::kLargeint, S::kLargeint, F::ftLargeint},
    {"SIGNEDINT64", D::kLargeint, S::kLargeint, F::ftLargeint},
    {"WORD", D::kWord, S::kWord, F::ftWord},
    {"UNSIGNEDINT16", D::kWord, S::kWord, F::ftWord},
    {"BYTE", D::kByte, S::kByte, F::ftWord},
    {"UNSIGNEDINT8", D::kByte, S::kByte, F::ftWord},
    {"CARDINAL", D::kCardinal, S::kCardinal, F::ftLargeint},
    {"UNSIGNEDINT32", D::kCardinal, S::kCardinal, F::ftLargeint},
    {"AUTOINC", D::kAutoinc, S::kInteger, F::ftAutoInc},
    {"AUTOINCSHORTINT", D::kAutoincShortint, S::kShortint, F::ftAutoInc},
    {"AUTOINCSMALLINT", D::kAutoincSmallint, S::kSmallint, F::ftAutoInc},
    {"AUTOINCINTEGER", D::kAutoincInteger, S::kInteger, F::ftAutoInc},
    {"AUTOINCLARGEINT", D::kAutoincLargeint, S::kLargeint, F::ftLargeint},
    {"AUTOINCBYTE", D::kAutoincByte, S::kByte, F::ftAutoInc},
    {"AUTOINCWORD", D::kAutoincWord, S::kWord, F::ftAutoInc},
    {"AUTOINCCARDINAL", D::kAutoincCardinal, S::kCardinal, F::ftAutoInc},
    {"FLOAT", D::kFloat, S::kFloat, F::ftFloat},
    {"FLOAT", D::kFloat, S::kFloat, F::ftBCD},
    {"SINGLE", D::kSingle, S::kSingle, F::ftFloat},
    {"DOUBLE", D::kFloat, S::kFloat, F::ftFloat},
    {"EXTENDED", D::kExtended, S::kExtended, F::ftFloat},
    {"LOGICAL", D::kLogical, S::kLogical, F::ftBoolean},
    {"BOOLEAN", D::kLogical, S::kLogical, F::ftBoolean},
    {"BOOL", D::kLogical, S::kLogical, F::ftBoolean},
    {"BIT", D::kLogical, S::kLogical, F::ftBoolean},
    {"CURRENCY", D::kCurrency, S::kCurrency, F::ftCurrency},
    {"MONEY", D::kCurrency, S::kCurrency, F::ftCurrency},
    {"DATE", D::kDate, S::kDate, F::ftDate},
    {"TIME", D::kTime, S::kTime, F::ftTime},
    {"DATETIME", D::kDateTime, S::kDateTime, F::ftDateTime},
    {"TIMESTAMP", D::kTimeStamp, S::kDateTime, F::ftTimeStamp},
    {"BYTES", D::kBytes, S::kBytes, F::ftBytes},
    {"VARBYTES", D::kVarBytes, S::kVarBytes, F::ftVarBytes},
    {"BLOB", D::kBlob, S::kBlob, F::ftBlob},
    {"BLOB", D::kBlob, S::kBlob, F::ftParadoxOle},
    {"BLOB", D::kBlob, S::kBlob, F::ftTypedBinary},
    {"BLOB", D::kBlob, S::kBlob, F::ftDBaseOle},
    {"BLOB", D::kBlob, S::kBlob, F::ftOraBlob},
    {"BLOB", D::kBlob, S::kBlob, F::ftOraClob},
    {"GRAPHIC", D::kGraphic, S::kBlob, F::ftGraphic},
    {"MEMO", D::kMemo, S::kMemo, F::ftMemo},
    {"CLOB", D::kMemo, S::kMemo, F::ftMemo},
    {"FORMATTEDMEMO", D::kFormattedMemo, S::kMemo, F::ftFmtMemo},
    {"WIDEMEMO", D::kWideMemo, S::kWideMemo, F::ftBlob},
    {"WIDECLOB", D::kWideMemo, S::kWideMemo, F::ftMemo},
    {"GUID", D::kGuid, S::kChar, F::ftGuid},
}};

// Indexed by storage code.
constexpr std::array<std::string_view, 25> kStorageTypeNames{
    "Unknown",  "CHAR",     "WIDECHAR", "STRING",   "WIDESTRING", "SHORTINT", "SMALLINT",
    "INTEGER",  "LARGEINT", "BYTE",     "WORD",     "CARDINAL",   "SINGLE",   "FLOAT",
    "EXTENDED", "DATE",     "TIME",     "DATETIME", "BLOB",       "MEMO",     "WIDEMEMO",
    "LOGICAL",  "CURRENCY", "BYTES",    "VARBYTES"};

const TSQLFieldType* FindDeclared(RzvDeclaredType type) {
  for (const auto& row : kSqlFieldTypes) {
    if (row.declared_type == type) return &row;
  }
  return nullptr;
}

int Code(RzvDeclaredType t) {
  return static_cast<int>(t);
}
int Code(RzvStorageType t) {
  return static_cast<int>(t);
}

}  // namespace

std::span<const TSQLFieldType> SqlFieldTypes() {
  return kSqlFieldTypes;
}

RzvStorageType DeclaredTypeToStorageType(RzvDeclaredType type) {
  const TSQLFieldType* row = FindDeclared(type);
  return row ? row->storage_type : S::kUnknown;
}

RzvDeclaredType StorageTypeToDeclaredType(RzvStorageType type) {
  for (const auto& row : kSqlFieldTypes) {
    if (row.storage_type == type) return row.declared_type;
  }
  return D::kUnknown;
}

RzvDatasetFieldType DeclaredTypeToDatasetType(RzvDeclaredType type) {
  const TSQLFieldType* row = FindDeclared(type);
  return row ? row->dataset_type : F::ftUnknown;
}

RzvDeclaredType DatasetTypeToDeclaredType(RzvDatasetFieldType type) {
  for (const auto& row : kSqlFieldTypes) {
    if (row.dataset_type == type) return row.declared_type;
  }
  throw RzvException::Format(30047, "Unknown DataType: '%s'",
                             std::to_string(static_cast<int>(type)));
}

RzvDeclaredType DeclaredTypeByName(std::string_view name) {
  auto upper = [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; };
  for (const auto& row : kSqlFieldTypes) {
    if (row.name.size() != name.size()) continue;
    size_t i = 0;
    while (i < name.size() && upper(name[i]) == row.name[i]) ++i;
    if (i == name.size()) return row.declared_type;
  }
  return D::kUnknown;
}

std::string_view DeclaredTypeName(RzvDeclaredType type) {
  const TSQLFieldType* row = FindDeclared(type);
  return row ? row->name : std::string_view("Unknown");
}

std::string_view StorageTypeName(RzvStorageType type) {
  size_t code = static_cast<size_t>(type);
  return code < kStorageTypeNames.size() ? kStorageTypeNames[code] : kStorageTypeNames[0];
}

int32_t StorageDataSize(RzvStorageType type, int32_t size) {
  int64_t chars = int64_t{size} + 1;
  int64_t result = 0;
  switch (type) {
    case S::kChar:
    case S::kString:
    case S::kBytes:
    case S::kVarBytes:
      result = chars;
      break;
    case S::kWideChar:
    case S::kWideString:
      result = chars * 2;
      break;
    case S::kShortint:
    case S::kByte:
      return 1;
    case S::kSmallint:
    case S::kWord:
    case S::kLogical:
      return 2;
    case S::kInteger:
    case S::kCardinal:
    case S::kSingle:
    case S::kDate:
    case S::kTime:
      return 4;
    case S::kLargeint:
    case S::kFloat:
    case S::kDateTime:
    case S::kCurrency:
      return 8;
    case S::kExtended:
      return 10;
    case S::kBlob:
    case S::kMemo:
    case S::kWideMemo:
      return kWorkingBlobSlotSize;
    default:
      throw RzvException::Format(30047, "Unknown DataType: '%s'", StorageTypeName(type));
  }
  // A negative length would give a slot of zero or fewer bytes, and a huge one
  // a size past int32: both would corrupt every offset behind the field.
  if (size < 0 || result > INT32_MAX) {
    throw RzvException::Format(30512, "Invalid field size %d for data type '%s'", size,
                               StorageTypeName(type));
  }
  return static_cast<int32_t>(result);
}

int32_t StorageDiskDataSize(RzvStorageType type, int32_t size) {
  return IsBlobStorageType(type) ? kBlobReferenceSize : StorageDataSize(type, size);
}

bool IsStringType(RzvDeclaredType type) {
  return Code(type) >= 1 && Code(type) <= 4;
}
bool IsStringLikeType(RzvDeclaredType type) {
  return IsStringType(type) || type == D::kGuid;
}
bool IsWideType(RzvDeclaredType type) {
  return type == D::kWideChar || type == D::kWideString;
}
bool IsAutoincType(RzvDeclaredType type) {
  return Code(type) >= 12 && Code(type) <= 19;
}
bool IsBlobType(RzvDeclaredType type) {
  return Code(type) >= 31 && Code(type) <= 35;
}
bool IsByteArrayType(RzvDeclaredType type) {
  return type == D::kBytes || type == D::kVarBytes;
}
bool IsStringStorageType(RzvStorageType type) {
  return Code(type) >= 1 && Code(type) <= 4;
}
bool IsWideStorageType(RzvStorageType type) {
  return type == S::kWideChar || type == S::kWideString;
}
bool IsBlobStorageType(RzvStorageType type) {
  return Code(type) >= 18 && Code(type) <= 20;
}
bool IsNumericStorageType(RzvStorageType type) {
  return (Code(type) >= 5 && Code(type) <= 14) || type == S::kCurrency;
}
bool IsDateTimeStorageType(RzvStorageType type) {
  return Code(type) >= 15 && Code(type) <= 17;
}

}  // namespace rzv
