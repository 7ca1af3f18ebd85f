#include "engine/table/base_field_manager.h"

#include <gtest/gtest.h>

#include <vector>

#include "engine/storage/byte_order.h"
#include "engine/storage/exception.h"
#include "engine/table/record_buffer.h"
#include "rzv_test_support.h"

namespace rzv {
namespace {

using ::rzv::testing::ExpectError;
using D = RzvDeclaredType;

// Name STRING(5), then one autoincrement field of the given type.
RzvBaseFieldManager Manager(D type, int64_t max_value = INT64_MAX, bool cycled = false,
                            int64_t min_value = 0) {
  RzvFieldDefs defs;
  defs.Add(RzvFieldDef("Name", D::kString, 5)).SetObjectID(1);
  RzvFieldDef& id = defs.Add(RzvFieldDef("Id", type));
  id.SetObjectID(2);
  id.SetMaxValue(max_value);
  id.SetCycled(cycled);
  id.SetMinValue(min_value);
  RzvBaseFieldManager manager;
  manager.SetFieldDefs(defs);
  return manager;
}

// Inserts a record whose Id is value (NULL when absent) and returns the Id
// it ends up with.
int64_t Insert(RzvBaseFieldManager& m, RzvSessionSequenceValues& session,
               std::optional<int32_t> value) {
  const RzvFieldDefs& defs = m.FieldDefs();
  std::vector<uint8_t> rec(static_cast<size_t>(defs.WorkingRecordSize()));
  InitWorkingRecord(defs, rec.data(), false);
  if (value) WriteFieldValue(defs, 1, &*value, rec.data());
  m.ApplyAutoincValues(session, rec.data());
  int32_t id = 0;
  EXPECT_TRUE(ReadFieldValue(defs, 1, rec.data(), &id));
  EXPECT_FALSE(ReadFieldValue(defs, 0, rec.data(), nullptr));
  return id;
}

TEST(AutoincTest, GeneratedAndSuppliedValues) {
  RzvBaseFieldManager m = Manager(D::kAutoinc);
  RzvSessionSequenceValues session;
  EXPECT_EQ(Insert(m, session, std::nullopt), 1);
  EXPECT_EQ(Insert(m, session, std::nullopt), 2);
  EXPECT_EQ(Insert(m, session, std::nullopt), 3);
  EXPECT_EQ(Insert(m, session, 10), 10);
  EXPECT_EQ(m.LastAutoincValue(session, true, 1), 10);
  EXPECT_EQ(Insert(m, session, std::nullopt), 11);
  EXPECT_EQ(Insert(m, session, 5), 5);  // never lowers the counter
  EXPECT_EQ(m.LastAutoincValue(session, true, 1), 11);
  EXPECT_EQ(Insert(m, session, -1), -1);  // read as -1, not as 4294967295
  EXPECT_EQ(Insert(m, session, std::nullopt), 12);
  EXPECT_EQ(m.AutoincLastValues(), (std::vector<int64_t>{0, 12}));
}

TEST(AutoincTest, MaximumCycleAndStep) {
  RzvBaseFieldManager m = Manager(D::kAutoinc, 3);
  for (int64_t expected : {1, 2, 3}) EXPECT_EQ(m.NextAutoincValue(1), expected);
  ExpectError([&] { m.NextAutoincValue(1); }, 30504, "Autoinc max value exceeded for field 'Id'");
  ExpectError([&] { m.NextAutoincValue(1); }, 30504, "Autoinc max value exceeded for field 'Id'");

  RzvBaseFieldManager cycled = Manager(D::kAutoinc, 3, true, 1);
  for (int64_t expected : {1, 2, 3, 1, 2}) EXPECT_EQ(cycled.NextAutoincValue(1), expected);

  RzvFieldDefs defs;
  RzvFieldDef& big = defs.Add(RzvFieldDef("Big", D::kAutoincLargeint));
  big.SetIncrement(0);  // counts as 1
  big.SetInitialValue(INT64_MAX - 1);
  defs.Add(RzvFieldDef("Down", D::kAutoinc)).SetIncrement(-5);
  RzvBaseFieldManager m2;
  m2.SetFieldDefs(defs);
  EXPECT_EQ(m2.NextAutoincValue(0), INT64_MAX);
  ExpectError([&] { m2.NextAutoincValue(0); }, 30504, "Autoinc max value exceeded for field 'Big'");
  EXPECT_EQ(m2.NextAutoincValue(1), -5);
  ExpectError([&] { m2.NextAutoincValue(2); }, 30506, "Field #2 not found");
}

// A counter past what the field stores would hand out cut, repeated values.
TEST(AutoincTest, NarrowFieldsStopAtTheirTypeLimit) {
  struct Case {
    D type;
    int64_t last;
  };
  for (const Case& c : {Case{D::kAutoincShortint, 127}, Case{D::kAutoincByte, 255},
                        Case{D::kAutoincSmallint, 32767}, Case{D::kAutoincWord, 65535}}) {
    RzvBaseFieldManager m = Manager(c.type);
    RzvSessionSequenceValues session;
    EXPECT_EQ(Insert(m, session, static_cast<int32_t>(c.last - 1)), c.last - 1);
    EXPECT_EQ(Insert(m, session, std::nullopt), c.last);
    ExpectError([&] { Insert(m, session, std::nullopt); }, 30504,
                "Autoinc max value exceeded for field 'Id'");
  }
  RzvBaseFieldManager cycled = Manager(D::kAutoincShortint, 0, true, 1);
  RzvSessionSequenceValues session;
  EXPECT_EQ(Insert(cycled, session, 127), 127);
  EXPECT_EQ(Insert(cycled, session, std::nullopt), 1);
}

// An insert that fails on its second autoincrement field leaves the record
// and the session as they were; the first field's value is used up.
TEST(AutoincTest, AFailedApplyLeavesRecordAndSessionUntouched) {
  RzvFieldDefs defs;
  defs.Add(RzvFieldDef("A", D::kAutoinc)).SetObjectID(1);
  RzvFieldDef& b = defs.Add(RzvFieldDef("B", D::kAutoinc));
  b.SetObjectID(2);
  b.SetMaxValue(1);
  RzvBaseFieldManager m;
  m.SetFieldDefs(defs);
  EXPECT_EQ(m.NextAutoincValue(1), 1);

  std::vector<uint8_t> rec(static_cast<size_t>(defs.WorkingRecordSize()));
  InitWorkingRecord(m.FieldDefs(), rec.data(), false);
  const std::vector<uint8_t> before = rec;
  RzvSessionSequenceValues session;
  ExpectError([&] { m.ApplyAutoincValues(session, rec.data()); }, 30504,
              "Autoinc max value exceeded for field 'B'");
  EXPECT_EQ(rec, before);
  EXPECT_EQ(session.Count(), 0);
  EXPECT_EQ(m.NextAutoincValue(0), 2);
}

TEST(AutoincTest, LastValueBySessionAndMode) {
  RzvBaseFieldManager m = Manager(D::kAutoinc);
  RzvSessionSequenceValues mine, other;
  EXPECT_EQ(m.LastAutoincValue(mine, false, 1), 0);
  EXPECT_EQ(m.LastAutoincValue(mine, false, 0), 0);
  Insert(m, other, std::nullopt);
  Insert(m, other, std::nullopt);
  EXPECT_EQ(m.LastAutoincValue(mine, false, 1), 2);
  ExpectError([&] { m.LastAutoincValue(mine, true, 1); }, 30505,
              "No SequenceLastValue in session for sequence 'Id'. Call GetNextVal first");
  Insert(m, mine, std::nullopt);
  Insert(m, other, std::nullopt);
  EXPECT_EQ(m.LastAutoincValue(mine, true, 1), 3);
  EXPECT_EQ(m.LastAutoincValue(other, true, 1), 4);
  EXPECT_EQ(mine.Count(), 1);
  ExpectError([&] { m.LastAutoincValue(mine, false, 5); }, 30506, "Field #5 not found");
}

TEST(AutoincTest, CountersPersistAndResetWithTheFieldList) {
  RzvBaseFieldManager m = Manager(D::kAutoinc);
  m.NextAutoincValue(1);
  m.NextAutoincValue(1);
  std::vector<uint8_t> image;
  RzvMetadataWriter writer(&image);
  m.WriteAutoincValues(writer);
  EXPECT_EQ(image,
            (std::vector<uint8_t>{2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 0, 0, 0, 0, 0, 0, 0}));

  RzvBaseFieldManager fresh = Manager(D::kAutoinc);
  RzvMetadataReader short_reader(std::span<const uint8_t>(image.data(), image.size() - 1));
  EXPECT_THROW(fresh.ReadAutoincValues(short_reader), RzvException);
  EXPECT_EQ(fresh.NextAutoincValue(1), 1);
  RzvMetadataReader reader(image);
  fresh.ReadAutoincValues(reader);
  EXPECT_EQ(fresh.NextAutoincValue(1), 3);

  RzvFieldDefs defs = fresh.FieldDefs();
  defs.Item(1).SetInitialValue(100);
  fresh.SetFieldDefs(defs);
  EXPECT_EQ(fresh.NextAutoincValue(1), 101);
}

}  // namespace
}  // namespace rzv
