#include "engine/storage/table_list.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "engine/storage/exception.h"
#include "rzv_test_support.h"
#include "storage/memory_page_manager.h"

namespace rzv {
namespace {

using ::rzv::testing::ExpectError;

RzvTableListEntry Table(std::string name, int32_t id) {
  return {std::move(name), id, 100 + id, 200 + id, 300 + id};
}

TEST(RzvTableListTest, EntriesRoundTripInCreationOrder) {
  MemoryPageManager pm;
  RzvTableList list(pm);
  int32_t start = list.Create(kSystemSessionId);
  list.Add(kSystemSessionId, Table("GND", 1));
  list.Add(kSystemSessionId, Table(std::string(255, 'x'), 2));
  for (int32_t id = 3; id < 12; ++id)
    list.Add(kSystemSessionId, Table("T" + std::to_string(id), id));
  pm.ApplyChanges(kSystemSessionId);

  EXPECT_EQ(pm.disk.at(start)[8], 6) << "TableList page";
  RzvInternalDBTransactedAccessFile file(pm, RzvPageType::kTableList);
  file.Open(start);
  std::vector<uint8_t> content = file.ReadFile(1);
  ASSERT_EQ(content.size(), 11u * 272);
  const uint8_t* entry = content.data();
  EXPECT_EQ(entry[0], 3);
  EXPECT_EQ(std::string(entry + 1, entry + 4), "GND");
  EXPECT_EQ(entry[4], 0);
  EXPECT_EQ(LoadLE<int32_t>(entry + 256), 1);
  EXPECT_EQ(LoadLE<int32_t>(entry + 260), 101);
  EXPECT_EQ(LoadLE<int32_t>(entry + 264), 201);
  EXPECT_EQ(LoadLE<int32_t>(entry + 268), 301);
  EXPECT_EQ(entry[272], 255);

  RzvTableList reopened(pm);
  reopened.Open(0, start);
  ASSERT_EQ(reopened.Entries().size(), 11u);
  EXPECT_EQ(reopened.Entries()[1].name, std::string(255, 'x'));
  EXPECT_EQ(reopened.Entries()[10].name, "T11");
  const RzvTableListEntry& gnd = reopened.Get("gnd");
  EXPECT_EQ(gnd.name, "GND");
  EXPECT_EQ(gnd.table_id, 1);
  EXPECT_EQ(gnd.metadata_page_no, 101);
  EXPECT_EQ(gnd.most_updated_page_no, 201);
  EXPECT_EQ(gnd.lock_file_page_no, 301);

  reopened.Remove(0, "t5");
  reopened.Rename(0, "T6", "Six");
  pm.ApplyChanges(0);
  list.Reload(1);
  EXPECT_EQ(list.Entries().size(), 10u);
  EXPECT_EQ(list.Find("T5"), nullptr);
  EXPECT_EQ(list.Get("SIX").table_id, 6);
  EXPECT_EQ(list.Entries()[4].name, "Six") << "a rename keeps the position";
}

TEST(RzvTableListTest, NamesCompareIgnoringAsciiCaseOnly) {
  EXPECT_TRUE(RzvTableList::SameName("AutoTask", "AUTOTASK"));
  EXPECT_TRUE(RzvTableList::SameName("adminlc", "ADMINLC"));
  EXPECT_FALSE(RzvTableList::SameName("Stat", "Stats"));
  EXPECT_FALSE(RzvTableList::SameName("\xE9t\xE9", "\xC9T\xC9")) << "only a-z change case";

  MemoryPageManager pm;
  RzvTableList list(pm);
  list.Create(0);
  list.Add(0, Table("Stat", 1));
  list.Add(0, Table("SR", 2));
  struct Case {
    const char* what;
    std::function<void()> call;
    int32_t code;
    const char* message;
  } cases[] = {
      {"add same name", [&] { list.Add(0, Table("STAT", 3)); }, 30395,
       "Cannot create table. Table 'STAT' already exists"},
      {"rename onto another", [&] { list.Rename(0, "sr", "stat"); }, 30395,
       "Cannot create table. Table 'stat' already exists"},
      {"name too long", [&] { list.Add(0, Table(std::string(256, 'n'), 3)); }, 30395, nullptr},
      {"get missing", [&] { list.Get("GND"); }, 30396, "Table 'GND' not exists."},
      {"rename missing", [&] { list.Rename(0, "GND", "X"); }, 30397, "Table 'GND' not exists."},
      {"remove missing", [&] { list.Remove(0, "GND"); }, 30405, "Table 'GND' not exists."},
      {"open twice", [&] { list.Open(0, list.StartPageNo()); }, 30393,
       "Table list file already opened."},
  };
  for (const Case& c : cases) ExpectError(c.call, c.code, c.message, c.what);
  EXPECT_EQ(list.Entries().size(), 2u) << "refused changes leave the list alone";
  list.Rename(0, "stat", "STAT");
  EXPECT_EQ(list.Get("Stat").name, "STAT");
}

}  // namespace
}  // namespace rzv
