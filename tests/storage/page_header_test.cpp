#include "engine/storage/page_header.h"

#include <gtest/gtest.h>

#include <vector>

#include "engine/storage/exception.h"
#include "rzv_test_support.h"

namespace rzv {
namespace {

using ::rzv::testing::ExpectError;

TEST(RzvPageHeaderTest, NewPageBufferHasHeaderDefaults) {
  std::vector<uint8_t> page(512, 0xAB);
  RzvInitPageBuffer(page.data(), 512);
  RzvPageHeader h(page.data());
  EXPECT_TRUE(h.HasSignature());
  EXPECT_EQ(std::string(page.begin(), page.begin() + 4), "RZVP");
  EXPECT_EQ(h.PageVersion(), 0);
  EXPECT_EQ(h.PageType(), 0);
  EXPECT_EQ(h.NextPageNo(), -1);
  EXPECT_EQ(h.DataCrc(), 0u);
  EXPECT_EQ(h.PageCryptoAlgorithm(), 0);
  EXPECT_EQ(h.OwnerTableId(), -1);
  const std::vector<uint8_t> minus_one = {0xFF, 0xFF, 0xFF, 0xFF};
  EXPECT_EQ(std::vector<uint8_t>(page.begin() + 26, page.begin() + 30), minus_one);
  for (int i : {18, 19, 21, 30, 31, 32, 39}) EXPECT_EQ(page[i], 0) << i;
  for (size_t i = kPageHeaderSize; i < page.size(); ++i) ASSERT_EQ(page[i], 0) << i;

  h.SetPageType(RzvPageType::kTableIndex);
  h.SetNextPageNo(0x01020304);
  EXPECT_EQ(page[8], 12);
  EXPECT_EQ(page[9], 0);
  EXPECT_EQ(page[10], 0x04) << "little-endian";
  EXPECT_EQ(page[13], 0x01);
}

TEST(RzvPageHeaderTest, TypeNamesAndUnknownTypes) {
  const std::vector<const char*> names = {"Unknown Page",
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
                                          "TableIndex Page"};
  for (int t = 0; t <= 12; ++t) EXPECT_EQ(RzvPageTypeName(t), names[static_cast<size_t>(t)]);
  ExpectError([&] { RzvPageTypeName(13); }, 30382, "Unknown Page Type: (13)");
}

TEST(RzvPageHeaderTest, TypeCheckNamesBothTypes) {
  EXPECT_NO_THROW(RzvCheckPageType(3, RzvPageType::kPfs, 30423));
  struct Case {
    int found;
    const char* message;
  } cases[] = {
      {10, "Wrong page type. Found 'TableRecord Page', but wanted: 'PFS Page'"},
      {300, "Wrong page type. Found '(300)', but wanted: 'PFS Page'"},
  };
  for (const Case& c : cases) {
    ExpectError([&] { RzvCheckPageType(c.found, RzvPageType::kPfs, 30424); }, 30424, c.message,
                std::to_string(c.found));
  }
}

TEST(RzvPageHeaderTest, WrittenVersionSkipsTheReservedTopValues) {
  struct Case {
    int32_t before, after;
  } cases[] = {{0, 1},
               {0x3FFFFFFE, 0x3FFFFFFF},
               {0x7FFFFFFB, 0x7FFFFFFC},
               {0x7FFFFFFC, 0},
               {kFailedPageVersion, 0}};
  std::vector<uint8_t> page(64);
  RzvPageHeader h(page.data());
  for (const Case& c : cases) {
    h.SetPageVersion(c.before);
    h.BumpPageVersion();
    EXPECT_EQ(h.PageVersion(), c.after) << c.before;
  }
}

}  // namespace
}  // namespace rzv
