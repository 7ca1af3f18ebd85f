#include "engine/storage/system_directory.h"

#include <gtest/gtest.h>

#include "engine/storage/exception.h"
#include "rzv_test_support.h"
#include "storage/memory_page_manager.h"

namespace rzv {
namespace {

using ::rzv::testing::ExpectError;

TEST(RzvSystemDirectoryTest, EntriesRoundTripAtPageTwo) {
  MemoryPageManager pm;
  pm.Store(0, RzvPageType::kPfs, 1);
  pm.Store(1, RzvPageType::kEam, 1);
  RzvSystemDirectory dir(pm);
  dir.Create(kSystemSessionId);
  dir.SetStartPageNo(RzvSystemDirectory::kSessionsFileKind, 3);
  dir.SetStartPageNo(RzvSystemDirectory::kTableListKind, 5);
  dir.SetStartPageNo(RzvSystemDirectory::kSessionsFileKind, 4);
  dir.Write(kSystemSessionId);
  pm.ApplyChanges(kSystemSessionId);

  const uint8_t* content = pm.disk.at(2).data() + kPageHeaderSize + 10;
  EXPECT_EQ(pm.disk.at(2)[8], 4) << "FileSystemDirectory page";
  EXPECT_EQ(content[0], 2);
  EXPECT_EQ(LoadLE<int32_t>(content + 1), 4);
  EXPECT_EQ(content[5], 1);
  EXPECT_EQ(LoadLE<int32_t>(content + 6), 5);

  RzvSystemDirectory reopened(pm);
  reopened.Open(0);
  EXPECT_EQ(reopened.Entries().size(), 2u);
  EXPECT_EQ(reopened.StartPageNo(RzvSystemDirectory::kTableListKind), 5);
  EXPECT_EQ(reopened.StartPageNo(RzvSystemDirectory::kSessionsFileKind), 4);
  EXPECT_EQ(reopened.StartPageNo(7), -1);
}

TEST(RzvSystemDirectoryTest, DirectoryElsewhereThanPageTwoIsRefused) {
  MemoryPageManager pm;
  RzvSystemDirectory dir(pm);
  ExpectError([&] { dir.Create(kSystemSessionId); }, 30392,
              "Error Creating SystemDirectory. SystemDirectoryPageNo=2. Real PageNo=0.");
}

}  // namespace
}  // namespace rzv
