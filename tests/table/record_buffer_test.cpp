#include "engine/table/record_buffer.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "engine/storage/byte_order.h"
#include "engine/storage/exception.h"
#include "engine/table/record_id.h"
#include "rzv_test_support.h"

namespace rzv {
namespace {

using ::rzv::testing::ExpectError;
using ::rzv::testing::LeBytes;
using D = RzvDeclaredType;

RzvFieldDefs MakeDefs(std::initializer_list<std::pair<D, int32_t>> types) {
  RzvFieldDefs defs;
  int n = 0;
  for (auto [type, size] : types) defs.Add(RzvFieldDef("F" + std::to_string(n++), type, size));
  return defs;
}

TEST(RecordLayoutTest, NineFieldsNeedTwoBitmapBytesAndFieldEightIsBitZeroOfTheSecond) {
  RzvFieldDefs defs;
  for (int i = 0; i < 9; ++i) defs.Add(RzvFieldDef("F" + std::to_string(i), D::kInteger));
  EXPECT_EQ(defs.NullBitmapSize(), 2);
  EXPECT_EQ(defs[0].MemoryOffset(), 2);
  EXPECT_EQ(defs.WorkingRecordSize(), 2 + 9 * 4);

  std::vector<uint8_t> rec(static_cast<size_t>(defs.WorkingRecordSize()));
  InitWorkingRecord(defs, rec.data(), false);
  EXPECT_EQ(rec[0], 0xFF);
  EXPECT_EQ(rec[1], 0x01);  // only field 8; the padding bits stay clear
  for (int i = 0; i < 9; ++i) EXPECT_FALSE(ReadFieldValue(defs, i, rec.data(), nullptr));

  int32_t v = 42;
  WriteFieldValue(defs, 8, &v, rec.data());
  EXPECT_EQ(rec[1], 0x00);
  EXPECT_EQ(rec[0], 0xFF);
  int32_t out = 0;
  EXPECT_TRUE(ReadFieldValue(defs, 8, rec.data(), &out));
  EXPECT_EQ(out, 42);
}

TEST(RecordLayoutTest, DataSizesInBothLayouts) {
  struct Case {
    D type;
    int32_t size;
    int32_t memory;
    int32_t disk;
  };
  const Case cases[] = {
      {D::kString, 25, 26, 26},  {D::kWideString, 10, 22, 22}, {D::kChar, 0, 1, 1},
      {D::kBlob, 0, 10, 6},      {D::kMemo, 0, 10, 6},         {D::kWideMemo, 0, 10, 6},
      {D::kExtended, 0, 10, 10}, {D::kDateTime, 0, 8, 8},      {D::kGuid, 38, 39, 39},
      {D::kLogical, 0, 2, 2},    {D::kBytes, 16, 17, 17},      {D::kAutoinc, 0, 4, 4},
      {D::kTimeStamp, 0, 8, 8},  {D::kCurrency, 0, 8, 8},
  };
  for (const auto& c : cases) {
    RzvFieldDef def("F", c.type, c.size);
    EXPECT_EQ(def.MemoryDataSize(), c.memory) << DeclaredTypeName(c.type);
    EXPECT_EQ(def.DiskDataSize(), c.disk) << DeclaredTypeName(c.type);
  }
  RzvFieldDefs defs = MakeDefs({{D::kString, 25}, {D::kBlob, 0}, {D::kInteger, 0}});
  EXPECT_EQ(defs.WorkingRecordSize(), 1 + 26 + 10 + 4);
  EXPECT_EQ(defs.StoredRecordSize(), 1 + 26 + 6 + 4);
  EXPECT_EQ(defs[2].MemoryOffset(), 37);
  EXPECT_EQ(defs[2].DiskOffset(), 33);
}

// One field of every declared type, every data byte set: the stored form
// keeps everything but the BLOB handles, which come back as 0.
TEST(RecordLayoutTest, EveryDeclaredTypeRoundTripsThroughTheStoredRecord) {
  RzvFieldDefs defs;
  for (int code = 1; code <= 36; ++code) {
    auto type = static_cast<D>(code);
    defs.Add(RzvFieldDef("F" + std::to_string(code), type, 7));
  }
  std::vector<uint8_t> working(static_cast<size_t>(defs.WorkingRecordSize()));
  for (size_t i = 0; i < working.size(); ++i) working[i] = static_cast<uint8_t>(i * 7 + 1);
  std::vector<uint8_t> stored(static_cast<size_t>(defs.StoredRecordSize()), 0xEE);
  WorkingToStoredRecord(defs, working.data(), stored.data());

  std::vector<uint8_t> expected = working;
  int blobs = 0;
  for (int i = 0; i < defs.Count(); ++i) {
    const RzvFieldDef& def = defs[i];
    EXPECT_EQ(0, std::memcmp(stored.data() + def.DiskOffset(), working.data() + def.MemoryOffset(),
                             static_cast<size_t>(def.DiskDataSize())))
        << def.Name();
    if (IsBlobStorageType(def.StorageType())) {
      ++blobs;
      std::memset(expected.data() + def.MemoryOffset() + kBlobReferenceSize, 0, 4);
    }
  }
  EXPECT_EQ(blobs, 5);
  EXPECT_EQ(defs.StoredRecordSize(), defs.WorkingRecordSize() - 4 * blobs);
  EXPECT_EQ(0, std::memcmp(stored.data(), working.data(), 5));  // the bitmap

  std::vector<uint8_t> back(working.size(), 0xEE);
  StoredToWorkingRecord(defs, stored.data(), back.data());
  EXPECT_EQ(back, expected);
}

TEST(FieldValueTest, DatasetFormatWideningAndNarrowing) {
  struct Case {
    D type;
    std::vector<uint8_t> dataset;  // what the dataset layer hands over
    std::vector<uint8_t> stored;   // the field's bytes in the record
  };
  uint8_t ext_minus_2_5[10] = {0, 0, 0, 0, 0, 0, 0, 0xA0, 0x00, 0xC0};
  const Case cases[] = {
      {D::kShortint, LeBytes<int16_t>(-5), LeBytes<int8_t>(-5)},
      {D::kCardinal, LeBytes<int64_t>(4000000000), LeBytes<uint32_t>(4000000000u)},
      {D::kByte, LeBytes<uint16_t>(200), LeBytes<uint8_t>(200)},
      {D::kSingle, LeBytes<double>(1.5), LeBytes<float>(1.5f)},
      {D::kExtended, LeBytes<double>(-2.5), {ext_minus_2_5, ext_minus_2_5 + 10}},
      {D::kAutoincShortint, LeBytes<int32_t>(-3), LeBytes<int8_t>(-3)},
      {D::kAutoincSmallint, LeBytes<int32_t>(-300), LeBytes<int16_t>(-300)},
      {D::kAutoincByte, LeBytes<int32_t>(255), LeBytes<uint8_t>(255)},
      {D::kAutoincWord, LeBytes<int32_t>(65535), LeBytes<uint16_t>(65535)},
      {D::kAutoincCardinal, LeBytes<uint32_t>(4000000000u), LeBytes<uint32_t>(4000000000u)},
      {D::kLargeint, LeBytes<int64_t>(-7), LeBytes<int64_t>(-7)},
      {D::kDateTime, LeBytes<int64_t>(0x0000A4CB000A9435), LeBytes<int64_t>(0x0000A4CB000A9435)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(DeclaredTypeName(c.type)));
    RzvFieldDefs defs = MakeDefs({{D::kInteger, 0}, {c.type, 0}});
    EXPECT_EQ(DatasetDataSize(defs[1]), static_cast<int32_t>(c.dataset.size()));
    std::vector<uint8_t> rec(static_cast<size_t>(defs.WorkingRecordSize()));
    InitWorkingRecord(defs, rec.data(), false);
    WriteFieldValue(defs, 1, c.dataset.data(), rec.data());
    EXPECT_EQ(std::vector<uint8_t>(rec.begin() + defs[1].MemoryOffset(), rec.end()), c.stored);
    std::vector<uint8_t> out(c.dataset.size() + 1, 0xEE);
    EXPECT_TRUE(ReadFieldValue(defs, 1, rec.data(), out.data()));
    EXPECT_EQ(std::vector<uint8_t>(out.begin(), out.end() - 1), c.dataset);
    EXPECT_EQ(out.back(), 0xEE);
  }
}

TEST(FieldValueTest, EmptyStringIsNullAndStringsAreKeptNormalized) {
  RzvFieldDefs defs =
      MakeDefs({{D::kString, 5}, {D::kChar, 5}, {D::kWideString, 5}, {D::kGuid, 38}});
  std::vector<uint8_t> rec(static_cast<size_t>(defs.WorkingRecordSize()));
  InitWorkingRecord(defs, rec.data(), false);
  const char16_t wide_empty[] = u"";
  const char16_t wide_x[] = u"x";
  for (int i = 0; i < 4; ++i) {
    const void* value = i == 2 ? static_cast<const void*>(wide_x) : "x";
    const void* empty = i == 2 ? static_cast<const void*>(wide_empty) : "";
    WriteFieldValue(defs, i, value, rec.data());
    EXPECT_TRUE(ReadFieldValue(defs, i, rec.data(), nullptr)) << i;
    WriteFieldValue(defs, i, empty, rec.data());
    EXPECT_FALSE(ReadFieldValue(defs, i, rec.data(), nullptr)) << i;
    WriteFieldValue(defs, i, value, rec.data());
    WriteFieldValue(defs, i, nullptr, rec.data());
    EXPECT_FALSE(ReadFieldValue(defs, i, rec.data(), nullptr)) << i;
  }

  // A shorter value leaves no trace of a longer one behind its terminator.
  WriteFieldValue(defs, 0, "abcde", rec.data());
  WriteFieldValue(defs, 0, "ab", rec.data());
  const uint8_t* slot = rec.data() + defs[0].MemoryOffset();
  EXPECT_EQ(std::vector<uint8_t>(slot, slot + 6), (std::vector<uint8_t>{'a', 'b', 0, 0, 0, 0}));
  char out[6];
  EXPECT_TRUE(ReadFieldValue(defs, 0, rec.data(), out, 3));
  EXPECT_STREQ(out, "ab");
}

TEST(FieldValueTest, NormalizeRecordClearsBytesBehindTerminatorsAndNullStrings) {
  RzvFieldDefs defs =
      MakeDefs({{D::kString, 4}, {D::kWideChar, 2}, {D::kString, 3}, {D::kInteger, 0}});
  std::vector<uint8_t> rec(static_cast<size_t>(defs.WorkingRecordSize()), 0x55);
  rec[0] = 0b0100;  // field 2 NULL, the others hold values
  uint8_t* s0 = rec.data() + defs[0].MemoryOffset();
  s0[0] = 'a';
  s0[1] = 0;
  uint8_t* s1 = rec.data() + defs[1].MemoryOffset();
  s1[0] = 'b';
  s1[1] = 0;
  s1[2] = 0;
  s1[3] = 0;
  NormalizeRecord(defs, rec.data());
  EXPECT_EQ(std::vector<uint8_t>(s0, s0 + 5), (std::vector<uint8_t>{'a', 0, 0, 0, 0}));
  EXPECT_EQ(std::vector<uint8_t>(s1, s1 + 6), (std::vector<uint8_t>{'b', 0, 0, 0, 0, 0}));
  const uint8_t* s2 = rec.data() + defs[2].MemoryOffset();
  EXPECT_EQ(std::vector<uint8_t>(s2, s2 + 4), std::vector<uint8_t>(4, 0));
  EXPECT_EQ(LoadLE<uint32_t>(rec.data() + defs[3].MemoryOffset()), 0x55555555u);
}

TEST(FieldValueTest, BadRequestsRaiseAndLeaveTheRecordAlone) {
  RzvFieldDefs defs = MakeDefs({{D::kString, 3}, {D::kWideString, 2}, {D::kInteger, 0}});
  std::vector<uint8_t> rec(static_cast<size_t>(defs.WorkingRecordSize()));
  InitWorkingRecord(defs, rec.data(), false);
  WriteFieldValue(defs, 0, "abc", rec.data());
  WriteFieldValue(defs, 1, u"xy", rec.data());
  const std::vector<uint8_t> before = rec;
  int32_t v = 1;
  char buf[8];

  ExpectError([&] { WriteFieldValue(defs, 3, &v, rec.data()); }, 30501,
              "Invalid field number - FieldNo = 3, FieldCount = 3");
  ExpectError([&] { WriteFieldValue(defs, -1, &v, rec.data()); }, 30501,
              "Invalid field number - FieldNo = -1, FieldCount = 3");
  ExpectError([&] { ReadFieldValue(defs, 3, rec.data(), buf); }, 30501,
              "Invalid field number - FieldNo = 3, FieldCount = 3");
  ExpectError([&] { WriteFieldValue(defs, 0, "abcd", rec.data()); }, 20056, "Buffer size exceeded");
  ExpectError([&] { WriteFieldValue(defs, 1, u"xyz", rec.data()); }, 20056, "Buffer size exceeded");
  ExpectError([&] { ReadFieldValue(defs, 0, rec.data(), buf, 3); }, 30503,
              "Error getting field data - FieldNo = 0, MemoryOffset = 1, MemoryDataSize = 4");
  ExpectError([&] { ReadFieldValue(defs, 2, nullptr, buf); }, 10523, "Nil pointer occured");
  EXPECT_EQ(rec, before);
}

TEST(FieldValueTest, BlobFieldsReportPresenceWithoutCopying) {
  RzvFieldDefs defs = MakeDefs({{D::kMemo, 0}});
  std::vector<uint8_t> rec(static_cast<size_t>(defs.WorkingRecordSize()));
  InitWorkingRecord(defs, rec.data(), false);
  uint8_t slot[10] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
  uint8_t out[10] = {};
  EXPECT_FALSE(ReadFieldValue(defs, 0, rec.data(), out));
  WriteFieldValue(defs, 0, slot, rec.data());
  EXPECT_TRUE(ReadFieldValue(defs, 0, rec.data(), out));
  EXPECT_EQ(out[0], 0);
  EXPECT_EQ(0, std::memcmp(rec.data() + 1, slot, 10));
}

TEST(RecordIDTest, SixBytesOrderedByPageThenSlot) {
  uint8_t bytes[6];
  RzvRecordID{0x01020304, 0xFFFE}.Store(bytes);
  EXPECT_EQ(std::vector<uint8_t>(bytes, bytes + 6),
            (std::vector<uint8_t>{0x04, 0x03, 0x02, 0x01, 0xFE, 0xFF}));
  EXPECT_EQ(RzvRecordID::Load(bytes), (RzvRecordID{0x01020304, 0xFFFE}));
  EXPECT_EQ(CompareRecordIDs({1, 65535}, {2, 0}), -1);
  EXPECT_EQ(CompareRecordIDs({2, 7}, {2, 3}), 1);
  EXPECT_EQ(CompareRecordIDs({-1, 0}, {0, 0}), -1);
  EXPECT_EQ(CompareRecordIDs({5, 5}, {5, 5}), 0);

  RzvBlobReference{-1, -1}.Store(bytes);
  EXPECT_EQ(std::vector<uint8_t>(bytes, bytes + 6), std::vector<uint8_t>(6, 0xFF));
  EXPECT_EQ(RzvBlobReference::Load(bytes), (RzvBlobReference{-1, -1}));
}

}  // namespace
}  // namespace rzv
