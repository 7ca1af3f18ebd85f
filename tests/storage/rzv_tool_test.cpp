#include <sys/wait.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "engine/storage/database_system_files.h"
#include "engine/storage/disk_page_manager.h"
#include "storage/db_test_files.h"

namespace rzv {
namespace {

using ::rzv::testing::ReadAll;
using ::rzv::testing::ScratchDir;
using ::rzv::testing::WriteAll;
using ::testing::AllOf;
using ::testing::HasSubstr;

struct ToolRun {
  int exit_code;
  std::string out;
  std::string err;
};

std::string Slurp(const std::string& path) {
  std::ifstream in(path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

class RzvToolTest : public ::testing::Test {
 protected:
  // Runs the tool with a shell-quoted argument string.
  ToolRun Run(const std::string& args) {
    const std::string out = dir_.File("out.txt"), err = dir_.File("err.txt");
    const std::string cmd = std::string(RZV_TOOL_PATH) + " " + args + " >" + out + " 2>" + err;
    int status = std::system(cmd.c_str());
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, Slurp(out), Slurp(err)};
  }

  ScratchDir dir_;
  std::string db_ = dir_.File("t.rzv");
};

TEST_F(RzvToolTest, CreateThenInfoShowsTheHeader) {
  ToolRun created = Run("create " + db_);
  ASSERT_EQ(created.exit_code, 0) << created.err;
  EXPECT_EQ(ReadAll(db_).size(), 380u + 6 * 4096);
  ToolRun info = Run("info " + db_);
  ASSERT_EQ(info.exit_code, 0) << info.err;
  EXPECT_THAT(info.out,
              AllOf(HasSubstr("Signature: RUZUZUVEDATABASE\n"), HasSubstr("Version: 5.13\n"),
                    HasSubstr("PageSize: 4096\n"), HasSubstr("ExtentPageCount: 8\n"),
                    HasSubstr("TotalPageCount: 6\n"), HasSubstr("LastUsedPageNo: 4\n"),
                    HasSubstr("ChangeCounter: 1\n"), HasSubstr("FileState: 2 (consistent)\n"),
                    HasSubstr("Encrypted: 0 (no)\n"), HasSubstr("Password: not needed\n"),
                    HasSubstr("NeedsRepair: no\n"), HasSubstr("MaxConnections: 500\n"),
                    HasSubstr("Tables: 0\n")));
}

TEST_F(RzvToolTest, InfoListsTheTables) {
  ASSERT_EQ(Run("create " + db_ + " --password pw --max-connections 7").exit_code, 0);
  {
    RzvDiskPageManager m(10);
    bool multi_user = false, needs_repair = false, read_only = false;
    m.OpenDatabaseFile(db_, {"pw", 0}, multi_user, false, needs_repair, read_only);
    RzvDatabaseSystemFiles files(m);
    files.Open();
    for (const char* name : {"GND", "adminlc"}) {
      RzvTableListEntry entry;
      entry.name = name;
      entry.table_id = m.GetNextObjectID();
      entry.metadata_page_no = 10 + entry.table_id;
      files.TableList().Add(kSystemSessionId, entry);
    }
    m.ApplyChanges(kSystemSessionId);
  }
  ToolRun info = Run("info " + db_ + " --password pw");
  EXPECT_EQ(info.exit_code, 0) << info.err;
  EXPECT_THAT(info.out, HasSubstr("MaxConnections: 7\nTables: 2\n"
                                  "Table: GND id=1 metadata=11 most-updated=-1 locks=-1\n"
                                  "Table: adminlc id=2 metadata=12 most-updated=-1 locks=-1\n"));
}

TEST_F(RzvToolTest, InfoTellsWhetherThePasswordFits) {
  ASSERT_EQ(Run("create " + db_ + " --password 'p w' --cipher 4 --page-size 8192").exit_code, 0);
  const auto bytes = ReadAll(db_);
  ToolRun right = Run("info " + db_ + " --password 'p w'");
  EXPECT_EQ(right.exit_code, 0);
  EXPECT_THAT(right.out,
              AllOf(HasSubstr("PageSize: 8192\n"), HasSubstr("Encrypted: 255 (yes)\n"),
                    HasSubstr("CryptoAlgorithm: 4 (Blowfish)\n"), HasSubstr("Password: fits\n")));
  for (const char* wrong : {" --password pw", ""}) {
    ToolRun r = Run("info " + db_ + wrong);
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_THAT(r.out, HasSubstr("Password: does not fit\n"));
    EXPECT_THAT(r.out, ::testing::Not(HasSubstr("MaxConnections")));
    ToolRun pages = Run("pages " + db_ + wrong);
    EXPECT_EQ(pages.exit_code, 1);
    EXPECT_THAT(pages.err,
                HasSubstr("Cannot open database because incorrect password - Native error: 30445"));
  }
  EXPECT_EQ(ReadAll(db_), bytes);
}

// Every page in use reads back: system pages and the sessions file plain,
// the rest decrypting to its DataCrc; and the pages in use are exactly the
// free-space maps, the directory, the sessions file and the table list.
TEST_F(RzvToolTest, NewDatabasesOfEveryCipherReadPageByPage) {
  for (int id = -1; id <= 7; ++id) {
    SCOPED_TRACE(id);
    const std::string pw = id < 0 ? "" : " --password 'pass " + std::to_string(id) + "'";
    const std::string cipher = id < 0 ? "" : " --cipher " + std::to_string(id);
    const std::string enc = id < 0 ? "plain" : "encrypted";
    // 5000 connections take two pages of 4056 bytes.
    ToolRun created = Run("create " + db_ + pw + cipher + " --max-connections 5000");
    ASSERT_EQ(created.exit_code, 0) << created.err;
    ToolRun pages = Run("pages " + db_ + pw);
    ASSERT_EQ(pages.exit_code, 0) << pages.err;

    std::vector<std::string> rows;
    std::istringstream lines(pages.out);
    std::string line;
    std::getline(lines, line);  // column titles
    while (std::getline(lines, line) && line.rfind("Pages:", 0) != 0) {
      std::vector<std::string> cells;
      std::istringstream fields(line);
      for (std::string cell; std::getline(fields, cell, '\t');) cells.push_back(cell);
      ASSERT_EQ(cells.size(), 7u) << line;
      if (cells[5] != "system") cells[4] = "#";  // PageVersion starts random
      std::string row = cells[0];
      for (size_t i = 1; i < cells.size(); ++i) row += "\t" + cells[i];
      rows.push_back(row);
    }
    const std::vector<std::string> expected = {
        "0\tPFS Page\t-1\t-1\t0\tsystem\tok",
        "1\tEAM Page\t-1\t-1\t0\tsystem\tok",
        "2\tFileSystemDirectory Page\t-1\t-1\t#\t" + enc + "\tok",
        "3\tActiveSessionList Page\t4\t-1\t#\tplain\tok",
        "4\tActiveSessionList Page\t-1\t-1\t#\tplain\tok",
        "5\tTableList Page\t-1\t-1\t#\t" + enc + "\tok",
    };
    EXPECT_EQ(rows, expected);
    EXPECT_EQ(line, "Pages: 6, in use: 6");
    EXPECT_THAT(Run("info " + db_ + pw).out, HasSubstr("MaxConnections: 5000\n"));
  }
}

TEST_F(RzvToolTest, ErrorsCarryTheEngineMessageAndUsageErrorsExitTwo) {
  WriteAll(dir_.File("junk.bin"), std::vector<uint8_t>(200, 'j'));
  struct Case {
    std::string args;
    int exit_code;
    std::string err;
  };
  const Case cases[] = {
      {"create " + db_ + " --page-size 1000", 1,
       "Invalid page size = 1000. The page size must be a power of two from 1024 to 32768 - "
       "Native error: 10465"},
      {"create " + db_ + " --password x --cipher 9", 1,
       "Unknown crypto algorithm id = 9 - Native error: 10467"},
      {"create " + db_ + " --max-connections 0", 1,
       "Invalid maximum number of connections = 0. It must be from 1 to 100000 - Native error: "
       "10479"},
      {"info " + dir_.File("none.rzv"), 1, "Native error: 30364"},
      {"info " + dir_.File("junk.bin"), 1,
       "Invalid file format. Found signature: 'jjjjjjjjjjjjjjjj', expected: 'RUZUZUVEDATABASE' - "
       "Native error: 10470"},
      {"", 2, "usage: rzv"},
      {"frobnicate " + db_, 2, "unknown command"},
      {"create", 2, "FILE is missing"},
      {"create " + db_ + " --cipher seven", 2, "--cipher needs a whole number"},
      {"info " + db_ + " --page-size 1024", 2, "unknown option --page-size"},
      {"info " + db_ + " --password", 2, "needs a value"},
  };
  // A refused create leaves an existing file of that name alone.
  WriteAll(db_, {'k', 'e', 'e', 'p'});
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args);
    ToolRun r = Run(c.args);
    EXPECT_EQ(r.exit_code, c.exit_code);
    EXPECT_THAT(r.err, HasSubstr(c.err));
    if (c.exit_code == 2) {
      EXPECT_THAT(r.err, HasSubstr("usage: rzv create FILE"));
    }
  }
  EXPECT_EQ(ReadAll(db_), std::vector<uint8_t>({'k', 'e', 'e', 'p'}));

  // A header the engine refuses is still shown before the error.
  ASSERT_EQ(Run("create " + db_).exit_code, 0);
  auto bytes = ReadAll(db_);
  bytes[26] = 0xE8;  // PageSize 1000
  bytes[27] = 0x03;
  WriteAll(db_, bytes);
  ToolRun r = Run("info " + db_);
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_THAT(r.out, HasSubstr("PageSize: 1000\n"));
  EXPECT_THAT(r.err, HasSubstr("Invalid page size = 1000"));
}

}  // namespace
}  // namespace rzv
