#include "engine/table/field_types.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "engine/storage/exception.h"
#include "rzv_test_support.h"

namespace rzv {
namespace {

using ::rzv::testing::ExpectError;
using D = RzvDeclaredType;
using F = RzvDatasetFieldType;
using S = RzvStorageType;

// Each declared type's name, storage and dataset type are those of its first
// row, and every row agrees with its declared type's storage type.
TEST(FieldTypesTest, TypeNameTableIsConsistent) {
  auto rows = SqlFieldTypes();
  ASSERT_EQ(rows.size(), 62u);
  std::set<D> seen;
  for (const auto& row : rows) {
    EXPECT_EQ(row.storage_type, DeclaredTypeToStorageType(row.declared_type)) << row.name;
    if (seen.insert(row.declared_type).second) {
      EXPECT_EQ(DeclaredTypeName(row.declared_type), row.name);
      EXPECT_EQ(DeclaredTypeToDatasetType(row.declared_type), row.dataset_type) << row.name;
    }
  }
  EXPECT_EQ(seen.size(), 36u);
  EXPECT_EQ(DeclaredTypeName(D::kUnknown), "Unknown");
  EXPECT_EQ(DeclaredTypeToStorageType(static_cast<D>(37)), S::kUnknown);
  EXPECT_EQ(StorageTypeName(static_cast<S>(25)), "Unknown");
  EXPECT_EQ(StorageTypeName(S::kWideMemo), "WIDEMEMO");
}

TEST(FieldTypesTest, FirstMatchLookups) {
  const std::pair<F, D> dataset_cases[] = {
      {F::ftString, D::kString},         {F::ftFixedChar, D::kChar},
      {F::ftWideString, D::kWideChar},   {F::ftSmallint, D::kSmallint},
      {F::ftLargeint, D::kLargeint},     {F::ftWord, D::kWord},
      {F::ftAutoInc, D::kAutoinc},       {F::ftBCD, D::kFloat},
      {F::ftFloat, D::kFloat},           {F::ftTimeStamp, D::kTimeStamp},
      {F::ftOraClob, D::kBlob},          {F::ftTypedBinary, D::kBlob},
      {F::ftGraphic, D::kGraphic},       {F::ftMemo, D::kMemo},
      {F::ftFmtMemo, D::kFormattedMemo}, {F::ftGuid, D::kGuid},
  };
  for (auto [ft, declared] : dataset_cases) {
    EXPECT_EQ(DatasetTypeToDeclaredType(ft), declared) << static_cast<int>(ft);
  }
  ExpectError([] { DatasetTypeToDeclaredType(F::ftCursor); }, 30047, "Unknown DataType: '22'");
  ExpectError([] { DatasetTypeToDeclaredType(F::ftUnknown); }, 30047, "Unknown DataType: '0'");

  EXPECT_EQ(StorageTypeToDeclaredType(S::kInteger), D::kInteger);
  EXPECT_EQ(StorageTypeToDeclaredType(S::kBlob), D::kBlob);
  EXPECT_EQ(StorageTypeToDeclaredType(S::kDateTime), D::kDateTime);
  EXPECT_EQ(StorageTypeToDeclaredType(S::kUnknown), D::kUnknown);
  EXPECT_EQ(DeclaredTypeToDatasetType(D::kCardinal), F::ftLargeint);
  EXPECT_EQ(DeclaredTypeToDatasetType(D::kWideMemo), F::ftBlob);
  EXPECT_EQ(DeclaredTypeToStorageType(D::kGuid), S::kChar);

  EXPECT_EQ(DeclaredTypeByName("varchar2"), D::kString);
  EXPECT_EQ(DeclaredTypeByName("Bit"), D::kLogical);
  EXPECT_EQ(DeclaredTypeByName("WIDECLOB"), D::kWideMemo);
  EXPECT_EQ(DeclaredTypeByName("DOUBLE"), D::kFloat);
  EXPECT_EQ(DeclaredTypeByName("TEXT"), D::kUnknown);
}

TEST(FieldTypesTest, DataSizesAndGroups) {
  EXPECT_EQ(StorageDataSize(S::kString, 25), 26);
  EXPECT_EQ(StorageDataSize(S::kWideString, 10), 22);
  EXPECT_EQ(StorageDataSize(S::kVarBytes, 4), 5);
  EXPECT_EQ(StorageDataSize(S::kBlob, 0), 10);
  EXPECT_EQ(StorageDiskDataSize(S::kMemo, 0), 6);
  EXPECT_EQ(StorageDiskDataSize(S::kExtended, 0), 10);
  ExpectError([] { StorageDataSize(S::kUnknown, 0); }, 30047, "Unknown DataType: 'Unknown'");
  ExpectError([] { StorageDataSize(static_cast<S>(99), 0); }, 30047, "Unknown DataType: 'Unknown'");
  ExpectError([] { StorageDataSize(S::kWideChar, INT32_MAX / 2); }, 30512,
              "Invalid field size 1073741823 for data type 'WIDECHAR'");

  EXPECT_TRUE(IsStringLikeType(D::kGuid));
  EXPECT_FALSE(IsStringType(D::kGuid));
  EXPECT_TRUE(IsAutoincType(D::kAutoincCardinal));
  EXPECT_FALSE(IsAutoincType(D::kSingle));
  EXPECT_TRUE(IsBlobType(D::kWideMemo));
  EXPECT_FALSE(IsBlobType(D::kGuid));
  EXPECT_TRUE(IsNumericStorageType(S::kCurrency));
  EXPECT_FALSE(IsNumericStorageType(S::kDate));
  EXPECT_TRUE(IsDateTimeStorageType(S::kDateTime));
  EXPECT_TRUE(IsWideStorageType(S::kWideChar));
  EXPECT_FALSE(IsWideStorageType(S::kWideMemo));
}

}  // namespace
}  // namespace rzv
