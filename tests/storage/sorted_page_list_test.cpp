#include "engine/storage/sorted_page_list.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace rzv {
namespace {

std::unique_ptr<RzvPage> Page(int32_t no) {
  return std::make_unique<RzvPage>(no);
}

TEST(RzvSortedPageListTest, KeepsPageOrderThroughGrowthSteps) {
  RzvSortedPageList list;
  // 2500 numbers inserted in a scrambled order cross two growth steps.
  const int32_t n = 2500;
  for (int32_t i = 0; i < n; ++i) {
    auto page = Page((i * 7919) % n);
    ASSERT_TRUE(list.Insert(page));
    ASSERT_EQ(page, nullptr) << "the list took the page";
  }
  auto duplicate = Page(42);
  EXPECT_FALSE(list.Insert(duplicate));
  ASSERT_NE(duplicate, nullptr) << "a refused page stays with the caller";
  ASSERT_EQ(list.Size(), static_cast<size_t>(n));
  for (int32_t i = 0; i < n; ++i) ASSERT_EQ(list.At(static_cast<size_t>(i))->PageNo(), i);
  EXPECT_EQ(list.Find(1234)->PageNo(), 1234);
  EXPECT_EQ(list.Find(n), nullptr);

  EXPECT_EQ(list.Remove(1234)->PageNo(), 1234);
  EXPECT_EQ(list.Remove(1234), nullptr);
  EXPECT_EQ(list.Find(1234), nullptr);
  std::vector<std::unique_ptr<RzvPage>> all = list.TakeAll();
  EXPECT_TRUE(list.Empty());
  ASSERT_EQ(all.size(), static_cast<size_t>(n - 1));
  EXPECT_EQ(all[1233]->PageNo(), 1233);
  EXPECT_EQ(all[1234]->PageNo(), 1235);
}

TEST(RzvSortedPageListTest, LeastRecentlyUsedFollowsInsertionsAndTouches) {
  RzvSortedPageList list;
  for (int32_t no : {30, 10, 20}) {
    auto page = Page(no);
    ASSERT_TRUE(list.Insert(page));
  }
  auto any = [](const RzvPage&) { return true; };
  EXPECT_EQ(list.LeastRecentlyUsed(any)->PageNo(), 30);
  list.Touch(30);
  EXPECT_EQ(list.LeastRecentlyUsed(any)->PageNo(), 10);
  list.Find(10)->Pin();
  EXPECT_EQ(list.LeastRecentlyUsed([](const RzvPage& p) { return !p.IsPinned(); })->PageNo(), 20);
  EXPECT_EQ(list.LeastRecentlyUsed([](const RzvPage&) { return false; }), nullptr);
}

}  // namespace
}  // namespace rzv
