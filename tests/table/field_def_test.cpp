#include "engine/table/field_def.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/storage/exception.h"
#include "engine/table/default_expression.h"
#include "engine/table/record_buffer.h"
#include "rzv_test_support.h"

namespace rzv {
namespace {

using ::rzv::testing::ExpectError;
using D = RzvDeclaredType;

RzvVariant Text(std::string_view s) {
  RzvVariant v;
  v.SetAsString(s);
  return v;
}

// Id INTEGER default 5, Note MEMO compressed, Name STRING(10) default "abc".
RzvFieldDefs SampleDefs() {
  RzvFieldDefs defs;
  RzvFieldDef& id = defs.Add(RzvFieldDef("Id", D::kInteger));
  id.SetObjectID(7);
  RzvVariant five;
  five.SetAsInteger(5);
  id.SetDefaultValue(five);
  RzvFieldDef& note = defs.Add(RzvFieldDef("Note", D::kMemo));
  note.SetObjectID(8);
  note.SetBlobCompressionAlgorithm(1);
  note.SetBlobCompressionMode(6);
  note.SetBlobBlockSize(4096);
  note.SetCycled(true);
  note.SetMaxValue(0x0102030405060708);
  RzvFieldDef& name = defs.Add(RzvFieldDef("Name", D::kString, 10));
  name.SetObjectID(9);
  name.SetDefaultValue(Text("abc"));
  return defs;
}

std::vector<uint8_t> Image(const RzvFieldDefs& defs) {
  std::vector<uint8_t> out;
  RzvMetadataWriter writer(&out);
  defs.Write(writer);
  return out;
}

TEST(FieldDefStreamTest, WritesTheDocumentedBytesAndReadsThemBack) {
  const std::vector<uint8_t> counters_default = {1, 0, 0, 0, 0, 0, 0, 0,   // Increment
                                                 0, 0, 0, 0, 0, 0, 0, 0,   // InitialValue
                                                 0, 0, 0, 0, 0, 0, 0, 0};  // MinValue
  std::vector<uint8_t> expected = {3, 0, 0, 0, 2, 'I', 'd', 7, 0, 0, 0, 7, 7, 0, 0, 0, 0};
  expected.insert(expected.end(), counters_default.begin(), counters_default.end());
  expected.insert(expected.end(), {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F, 0});
  expected.insert(expected.end(), {7, 0, 4, 0, 0, 0, 5, 0, 0, 0});
  expected.insert(expected.end(), {4, 'N', 'o', 't', 'e', 8, 0, 0, 0, 33, 19, 0, 0, 0, 0});
  expected.insert(expected.end(), {1, 6, 0x00, 0x10, 0, 0});
  expected.insert(expected.end(), counters_default.begin(), counters_default.end());
  expected.insert(expected.end(), {8, 7, 6, 5, 4, 3, 2, 1, 1});
  expected.insert(expected.end(), {19, 0xFF});
  expected.insert(expected.end(), {4, 'N', 'a', 'm', 'e', 9, 0, 0, 0, 2, 3, 10, 0, 0, 0});
  expected.insert(expected.end(), counters_default.begin(), counters_default.end());
  expected.insert(expected.end(), {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F, 0});
  expected.insert(expected.end(), {3, 0, 4, 0, 0, 0, 'a', 'b', 'c', 0});

  const std::vector<uint8_t> image = Image(SampleDefs());
  EXPECT_EQ(image, expected);

  RzvFieldDefs read;
  RzvMetadataReader reader(image);
  read.Read(reader);
  EXPECT_EQ(reader.Remaining(), 0u);
  EXPECT_EQ(Image(read), image);
  ASSERT_EQ(read.Count(), 3);
  EXPECT_EQ(read[1].BlobBlockSize(), 4096);
  EXPECT_EQ(read[1].MemoryDataSize(), 10);
  EXPECT_EQ(read[1].DiskDataSize(), 6);
  EXPECT_EQ(read[2].MemoryOffset(), 1 + 4 + 10);
  EXPECT_EQ(read[2].DefaultValue().AsString(), "abc");
  EXPECT_EQ(read.FindByName("NAME"), 2);
  EXPECT_EQ(read.FindByObjectID(8), 1);
  EXPECT_EQ(read.FindByName("missing"), -1);
}

TEST(FieldDefStreamTest, DamagedImagesRaiseAndLeaveTheListUnchanged) {
  const std::vector<uint8_t> image = Image(SampleDefs());
  RzvFieldDefs target;
  target.Add(RzvFieldDef("Keep", D::kDate));
  const std::vector<uint8_t> before = Image(target);
  for (size_t cut = 0; cut < image.size(); ++cut) {
    RzvMetadataReader reader(std::span<const uint8_t>(image.data(), cut));
    try {
      target.Read(reader);
      ADD_FAILURE() << "read a definition list cut at " << cut;
    } catch (const RzvException& e) {
      EXPECT_TRUE(e.Message().starts_with("Cannot read from stream. Position = ") ||
                  e.NativeError() == 30517)
          << cut << ": " << e.what();
    }
    ASSERT_EQ(Image(target), before) << cut;
  }

  std::vector<uint8_t> bad_type = image;
  bad_type[4 + 1 + 2 + 4] = 99;  // the first field's declared type
  RzvMetadataReader reader(bad_type);
  ExpectError([&] { target.Read(reader); }, 30500, "Unsupported data type 'Unknown'");
  EXPECT_EQ(Image(target), before);
}

TEST(FieldDefTest, InvalidDefinitionsAreRefused) {
  RzvFieldDef def("F", D::kString, 5);
  ExpectError([&] { def.SetType(D::kUnknown, 0); }, 30500, "Unsupported data type 'Unknown'");
  ExpectError([&] { def.SetType(static_cast<D>(37), 0); }, 30500,
              "Unsupported data type 'Unknown'");
  ExpectError([&] { def.SetType(D::kString, -2); }, 30512,
              "Invalid field size -2 for data type 'STRING'");
  ExpectError([&] { def.SetName(std::string(256, 'n')); }, 30515,
              "Object name '" + std::string(256, 'n') + "' is longer than 255 characters");
  EXPECT_EQ(def.DataType(), D::kString);
  EXPECT_EQ(def.MemoryDataSize(), 6);
  EXPECT_EQ(def.Name(), "F");

  RzvFieldDef blob("Picture", D::kGraphic);
  blob.Validate();
  blob.SetBlobBlockSize(0);
  ExpectError([&] { blob.Validate(); }, 30507, "BLOB block size should be > 0 for field Picture");

  RzvFieldDefs source;
  source.Add(RzvFieldDef("Name", D::kString, 5));
  source.Add(RzvFieldDef("NAME", D::kInteger));
  RzvFieldDefs target = SampleDefs();
  ExpectError([&] { target.Assign(source); }, 30508, "Duplicate field name NAME");
  ExpectError([&] { source.Validate(); }, 30508, "Duplicate field name NAME");
  EXPECT_EQ(target.Count(), 3);
}

TEST(FieldDefListTest, StructuralChangesKeepOffsetsInStep) {
  RzvFieldDefs defs = SampleDefs();
  defs.Insert(0, RzvFieldDef("Flag", D::kLogical));
  EXPECT_EQ(defs[1].MemoryOffset(), 1 + 2);
  defs.Move(0, 3);
  EXPECT_EQ(defs[3].Name(), "Flag");
  EXPECT_EQ(defs[0].MemoryOffset(), 1);
  EXPECT_EQ(defs.WorkingRecordSize(), 1 + 4 + 10 + 11 + 2);
  EXPECT_EQ(defs.StoredRecordSize(), 1 + 4 + 6 + 11 + 2);
  defs.Delete(1);
  EXPECT_EQ(defs[1].Name(), "Name");
  EXPECT_EQ(defs[1].MemoryOffset(), 5);
  ExpectError([&] { defs.Delete(3); }, 30501, "Invalid field number - FieldNo = 3, FieldCount = 3");

  RzvFieldDefs copy;
  copy.Assign(defs);
  EXPECT_EQ(Image(copy), Image(defs));
  copy.Clear();
  EXPECT_EQ(copy.WorkingRecordSize(), 0);
}

class DefaultExpressionTest : public ::testing::Test {
 protected:
  void TearDown() override { SetDefaultExpressionEvaluator(nullptr); }
};

// With an evaluator installed, a default that evaluates to something other
// than its own text is evaluated for every new record; plain literals and
// texts the evaluator does not take stay literals.
TEST_F(DefaultExpressionTest, ExpressionsAreEvaluatedPerRecordAndLiteralsCopied) {
  int calls = 0;
  SetDefaultExpressionEvaluator([&calls](std::string_view text) -> std::optional<RzvVariant> {
    RzvVariant v;
    if (text == "Today()") {
      v.SetAsDate(738000 + calls++);
      return v;
    }
    if (text == "5") {
      v.SetAsInteger(5);
      return v;
    }
    return std::nullopt;
  });
  RzvFieldDefs defs;
  defs.Add(RzvFieldDef("Day", D::kDate)).SetDefaultValue(Text("Today()"));
  defs.Add(RzvFieldDef("Label", D::kString, 8)).SetDefaultValue(Text("5"));
  defs.Add(RzvFieldDef("Other", D::kString, 8)).SetDefaultValue(Text("plain"));
  defs.Add(RzvFieldDef("None", D::kInteger));
  EXPECT_TRUE(defs[0].HasDefaultExpression());
  EXPECT_FALSE(defs[1].HasDefaultExpression());
  EXPECT_FALSE(defs[2].HasDefaultExpression());
  int calls_after_setup = calls;

  std::vector<uint8_t> rec(static_cast<size_t>(defs.WorkingRecordSize()));
  for (int32_t expected_day : {738000 + calls_after_setup, 738001 + calls_after_setup}) {
    InitWorkingRecord(defs, rec.data(), true);
    int32_t day = 0;
    EXPECT_TRUE(ReadFieldValue(defs, 0, rec.data(), &day));
    EXPECT_EQ(day, expected_day);
  }
  char text[9];
  EXPECT_TRUE(ReadFieldValue(defs, 1, rec.data(), text));
  EXPECT_STREQ(text, "5");
  EXPECT_TRUE(ReadFieldValue(defs, 2, rec.data(), text));
  EXPECT_STREQ(text, "plain");
  EXPECT_FALSE(ReadFieldValue(defs, 3, rec.data(), nullptr));

  RzvFieldDef copy;
  copy.Assign(defs[0]);
  EXPECT_TRUE(copy.HasDefaultExpression());
  SetDefaultExpressionEvaluator(nullptr);
  copy.Assign(defs[0]);
  EXPECT_FALSE(copy.HasDefaultExpression());
}

// Copying a field list classifies each default afresh, as copying one
// definition does: an evaluator installed since the source was built counts.
TEST_F(DefaultExpressionTest, CopyingAListReclassifiesTheDefaults) {
  RzvFieldDefs defs;
  defs.Add(RzvFieldDef("Day", D::kDate)).SetDefaultValue(Text("Today()"));
  EXPECT_FALSE(defs[0].HasDefaultExpression());
  SetDefaultExpressionEvaluator([](std::string_view text) -> std::optional<RzvVariant> {
    if (text != "Today()") return std::nullopt;
    RzvVariant v;
    v.SetAsDate(738000);
    return v;
  });
  RzvFieldDefs copy;
  copy.Assign(defs);
  EXPECT_TRUE(copy[0].HasDefaultExpression());
}

TEST(FieldDefTest, ChangingTheTypeConvertsTheDefault) {
  RzvFieldDef number("N", D::kInteger);
  RzvVariant five;
  five.SetAsInteger(5);
  number.SetDefaultValue(five);
  number.SetType(D::kFloat, 0);
  EXPECT_EQ(number.DefaultValue().Type(), RzvStorageType::kFloat);
  EXPECT_EQ(number.DefaultValue().AsFloat(), 5.0);

  // Text that is no date stays text: it may be an expression.
  RzvFieldDef day("D", D::kString, 10);
  day.SetDefaultValue(Text("Today()"));
  day.SetType(D::kDate, 0);
  EXPECT_EQ(day.DefaultValue().AsString(), "Today()");

  RzvFieldDef date("When", D::kDate);
  RzvVariant jan1;
  jan1.SetAsDate(738000);
  date.SetDefaultValue(jan1);
  EXPECT_THROW(date.SetType(D::kBlob, 0), RzvException);
  EXPECT_EQ(date.DataType(), D::kDate);
  EXPECT_EQ(date.DefaultValue().AsDate(), 738000);
}

TEST_F(DefaultExpressionTest, WithoutEvaluatorTextDefaultsAreLiteralsAndTooLongOnesRaise) {
  RzvFieldDefs defs;
  defs.Add(RzvFieldDef("Day", D::kString, 7)).SetDefaultValue(Text("Today()"));
  defs.Add(RzvFieldDef("Short", D::kString, 2)).SetDefaultValue(Text("abc"));
  EXPECT_FALSE(defs[0].HasDefaultExpression());
  std::vector<uint8_t> rec(static_cast<size_t>(defs.WorkingRecordSize()));
  ExpectError([&] { InitWorkingRecord(defs, rec.data(), true); }, 20056, "Buffer size exceeded");
  char text[8];
  EXPECT_TRUE(ReadFieldValue(defs, 0, rec.data(), text));
  EXPECT_STREQ(text, "Today()");
}

}  // namespace
}  // namespace rzv
