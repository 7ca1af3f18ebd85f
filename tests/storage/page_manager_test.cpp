#include "engine/storage/page_manager.h"

#include <gtest/gtest.h>

#include <vector>

#include "engine/storage/exception.h"
#include "rzv_test_support.h"
#include "storage/memory_page_manager.h"

namespace rzv {
namespace {

using ::rzv::testing::ExpectError;

TEST(RzvPageManagerTest, CommittedPagesAreWrittenInOrderAndServedFromTheCache) {
  MemoryPageManager pm;
  RzvPage* a = pm.AddPage(0, RzvPageType::kTableRecord);
  RzvPage* b = pm.AddPage(0, RzvPageType::kTableIndex);
  EXPECT_EQ(a->PageNo(), 0);
  EXPECT_EQ(b->PageNo(), 1);
  EXPECT_TRUE(a->IsDirty());
  EXPECT_LE(a->Header().PageVersion(), kMaxInitialPageVersion);
  EXPECT_EQ(b->Header().PageType(), 12);
  a->Data()[0] = 'a';
  b->Data()[0] = 'b';
  pm.PutPage(b);
  pm.PutPage(a);
  EXPECT_TRUE(pm.HasChanges(0));
  EXPECT_EQ(pm.DirtyPageCount(0), 2u);
  pm.ApplyChanges(0);

  EXPECT_EQ(pm.writes, (std::vector<int32_t>{0, 1}));
  EXPECT_EQ(pm.DiskByte(1), 'b');
  EXPECT_FALSE(pm.HasChanges(0));
  EXPECT_EQ(pm.CachedPageCount(), 2u);
  // Another session sees the committed page without a read.
  RzvPage* again = pm.GetPage(1, 0, false, static_cast<uint8_t>(RzvPageType::kTableRecord));
  EXPECT_EQ(again->Data()[0], 'a');
  EXPECT_FALSE(again->IsDirty());
  EXPECT_TRUE(pm.reads.empty());
  pm.PutPage(again);
}

TEST(RzvPageManagerTest, InvalidSessionIdsAndPageNumbersAreRefused) {
  MemoryPageManager pm;
  for (int32_t session : {-1, -3, -100}) {
    EXPECT_EQ(CodeOf([&] { pm.GetPage(session, 0, false, kAnyPageType); }), 20186) << session;
    EXPECT_EQ(CodeOf([&] { pm.AddPage(session, RzvPageType::kTableRecord); }), 20186);
    EXPECT_EQ(CodeOf([&] { pm.DeletePage(session, 0); }), 20186);
    EXPECT_EQ(CodeOf([&] { pm.ApplyChanges(session); }), 20186);
    EXPECT_EQ(CodeOf([&] { pm.CancelChanges(session); }), 20186);
  }
  EXPECT_EQ(CodeOf([&] { pm.GetPage(0, -1, false, kAnyPageType); }), 10471);
  EXPECT_EQ(CodeOf([&] { pm.DeletePage(0, -1); }), 10471);
  // The system session is a valid id.
  pm.PutPage(pm.AddPage(kSystemSessionId, RzvPageType::kTableList));
  pm.ApplyChanges(kSystemSessionId);
  EXPECT_EQ(pm.writes.size(), 1u);
}

TEST(RzvPageManagerTest, PinsBelongToOneSession) {
  MemoryPageManager pm;
  pm.Store(5, RzvPageType::kTableRecord, 1);
  RzvPage* first = pm.GetPage(1, 5, false, kAnyPageType);
  RzvPage* second = pm.GetPage(1, 5, false, kAnyPageType);
  EXPECT_EQ(first, second);
  EXPECT_EQ(first->PinCount(), 2);
  EXPECT_TRUE(first->WasRead());
  EXPECT_EQ(CodeOf([&] { pm.GetPage(2, 5, false, kAnyPageType); }), 20090);
  pm.PutPage(first);
  EXPECT_EQ(CodeOf([&] { pm.GetPage(2, 5, false, kAnyPageType); }), 20090);
  pm.PutPage(second);
  EXPECT_FALSE(first->WasRead());
  RzvPage* other = pm.GetPage(2, 5, false, kAnyPageType);
  EXPECT_EQ(other->SessionId(), 2);
  pm.PutPage(other);
  EXPECT_EQ(pm.reads.size(), 1u);
}

TEST(RzvPageManagerTest, ChangesStayWithTheirSessionUntilCommit) {
  MemoryPageManager pm;
  pm.Store(3, RzvPageType::kTableRecord, 'o');
  RzvPage* page = pm.GetPage(1, 3, false, kAnyPageType);
  page->Data()[0] = 'n';
  page->SetDirty(true);
  pm.PutPage(page);
  EXPECT_EQ(pm.CachedPageCount(), 0u) << "a changed page leaves the shared cache";
  EXPECT_EQ(pm.DirtyPageCount(1), 1u);
  EXPECT_EQ(pm.DiskByte(3), 'o');

  RzvPage* own = pm.GetPage(1, 3, false, kAnyPageType);
  EXPECT_EQ(own, page);
  pm.PutPage(own);
  RzvPage* other = pm.GetPage(2, 3, false, kAnyPageType);
  EXPECT_EQ(other->Data()[0], 'o');
  pm.PutPage(other);

  pm.ApplyChanges(1);
  EXPECT_EQ(pm.DiskByte(3), 'n');
  // The committed copy replaces the older one in the cache.
  RzvPage* fresh = pm.GetPage(2, 3, false, kAnyPageType);
  EXPECT_EQ(fresh->Data()[0], 'n');
  pm.PutPage(fresh);
}

TEST(RzvPageManagerTest, OlderCopyHeldByAnotherSessionAtCommitIsNotServedAfterwards) {
  MemoryPageManager pm;
  pm.Store(3, RzvPageType::kTableRecord, 'o');
  RzvPage* page = pm.GetPage(1, 3, false, kAnyPageType);
  page->Data()[0] = 'n';
  page->SetDirty(true);
  pm.PutPage(page);
  // Session 2 holds the committed copy while session 1 commits its change.
  RzvPage* held = pm.GetPage(2, 3, false, kAnyPageType);
  pm.ApplyChanges(1);
  EXPECT_EQ(held->Data()[0], 'o') << "a held page does not change under its holder";
  pm.PutPage(held);

  for (int32_t session : {1, 2}) {
    RzvPage* again = pm.GetPage(session, 3, false, kAnyPageType);
    EXPECT_EQ(again->Data()[0], 'n') << session;
    pm.PutPage(again);
  }
}

TEST(RzvPageManagerTest, CommitRefusesHeldPagesAndChangesNothing) {
  MemoryPageManager pm;
  pm.Store(0, RzvPageType::kTableRecord, 0);
  pm.Store(1, RzvPageType::kTableRecord, 0);
  RzvPage* added = pm.AddPage(1, RzvPageType::kTableRecord);
  pm.PutPage(added);
  pm.DeletePage(1, 0);

  // A page from the shared cache still pinned by the session.
  RzvPage* held = pm.GetPage(1, 1, false, kAnyPageType);
  EXPECT_EQ(CodeOf([&] { pm.ApplyChanges(1); }), 20152);
  pm.PutPage(held);
  // A page of its own dirty list still pinned.
  RzvPage* dirty = pm.GetPage(1, added->PageNo(), false, kAnyPageType);
  EXPECT_EQ(CodeOf([&] { pm.ApplyChanges(1); }), 20086);
  EXPECT_TRUE(pm.writes.empty());
  EXPECT_TRUE(pm.freed.empty()) << "a refused commit frees nothing";
  // A page left clean in the dirty list.
  dirty->SetDirty(false);
  pm.PutPage(dirty);
  EXPECT_EQ(CodeOf([&] { pm.ApplyChanges(1); }), 20085);
  EXPECT_TRUE(pm.freed.empty());
}

TEST(RzvPageManagerTest, DeletedPagesAreFreedOnceAndNeverWritten) {
  MemoryPageManager pm;
  pm.Store(4, RzvPageType::kTableRecord, 0);
  RzvPage* page = pm.GetPage(1, 4, false, kAnyPageType);
  page->SetDirty(true);
  pm.PutPage(page);
  pm.DeletePage(1, 4);
  pm.DeletePage(1, 4);
  EXPECT_TRUE(pm.freed.empty()) << "nothing is freed before the commit";
  pm.ApplyChanges(1);
  EXPECT_EQ(pm.freed, (std::vector<int32_t>{4}));
  EXPECT_TRUE(pm.writes.empty());
  EXPECT_EQ(pm.DirtyPageCount(1), 0u);
  EXPECT_EQ(pm.FindCachedPage(4), nullptr);
}

TEST(RzvPageManagerTest, CancelDropsChangesAndFreesAddedPages) {
  MemoryPageManager pm;
  pm.Store(0, RzvPageType::kTableRecord, 'o');
  RzvPage* changed = pm.GetPage(1, 0, false, kAnyPageType);
  changed->Data()[0] = 'n';
  changed->SetDirty(true);
  pm.PutPage(changed);
  RzvPage* added = pm.AddPage(1, RzvPageType::kTableBlob);
  int32_t added_no = added->PageNo();

  EXPECT_EQ(CodeOf([&] { pm.CancelChanges(1); }), 20088) << "added page still pinned";
  pm.PutPage(added);
  pm.DeletePage(1, 0);
  pm.CancelChanges(1);
  EXPECT_EQ(pm.freed, (std::vector<int32_t>{added_no}));
  EXPECT_FALSE(pm.HasChanges(1));
  EXPECT_TRUE(pm.writes.empty());
  RzvPage* reread = pm.GetPage(1, 0, false, kAnyPageType);
  EXPECT_EQ(reread->Data()[0], 'o');
  pm.PutPage(reread);
  pm.ApplyChanges(1);
  EXPECT_EQ(pm.freed.size(), 1u) << "the cancelled delete is forgotten";

  // A changed page that the session still holds in the shared cache.
  RzvPage* held = pm.GetPage(1, 0, false, kAnyPageType);
  held->SetDirty(true);
  EXPECT_EQ(CodeOf([&] { pm.CancelChanges(1); }), 20088);
  pm.PutPage(held);
  pm.CancelChanges(1);
  EXPECT_EQ(pm.DiskByte(0), 'o');
}

TEST(RzvPageManagerTest, CacheEvictsTheLeastRecentlyUsedUnpinnedPage) {
  MemoryPageManager pm(1000);
  for (int32_t no = 0; no < 1000; ++no) pm.PutPage(pm.GetPage(0, no, false, kAnyPageType));
  EXPECT_EQ(pm.CachedPageCount(), 1000u);
  // Touching page 0 makes page 1 the oldest; a pinned page is never evicted.
  pm.PutPage(pm.GetPage(0, 0, false, kAnyPageType));
  RzvPage* pinned = pm.GetPage(0, 1, false, kAnyPageType);
  pm.PutPage(pm.GetPage(0, 1000, false, kAnyPageType));
  EXPECT_EQ(pm.CachedPageCount(), 1000u);
  EXPECT_NE(pm.FindCachedPage(0), nullptr);
  EXPECT_NE(pm.FindCachedPage(1), nullptr);
  EXPECT_EQ(pm.FindCachedPage(2), nullptr);
  pm.PutPage(pinned);
  EXPECT_EQ(pm.reads.size(), 1001u);

  MemoryPageManager plain(1000);
  for (int32_t no = 0; no <= 1000; ++no) plain.PutPage(plain.GetPage(0, no, false, kAnyPageType));
  EXPECT_EQ(plain.CachedPageCount(), 1000u);
  EXPECT_EQ(plain.FindCachedPage(0), nullptr) << "the first page read goes first";
  EXPECT_NE(plain.FindCachedPage(1000), nullptr);
}

TEST(RzvPageManagerTest, CommittedPagesOverCapacityAreDiscarded) {
  MemoryPageManager pm(1);
  for (int i = 0; i < 3; ++i) pm.PutPage(pm.AddPage(0, RzvPageType::kTableRecord));
  pm.ApplyChanges(0);
  EXPECT_EQ(pm.writes.size(), 3u);
  EXPECT_EQ(pm.CachedPageCount(), 1u);
  EXPECT_NE(pm.FindCachedPage(0), nullptr);
}

TEST(RzvPageManagerTest, BadReadsAreNotServedFromTheCache) {
  MemoryPageManager pm;
  pm.Store(7, RzvPageType::kTableIndex, 0);
  const uint8_t record = static_cast<uint8_t>(RzvPageType::kTableRecord);
  ExpectError([&] { pm.GetPage(0, 7, false, record); }, 20153,
              "Invalid page type. Possibly data is corrupted. Expected type 10, but found 12");
  EXPECT_EQ(pm.FindCachedPage(7), nullptr);

  // A failed read reaches the caller as an invalid page, then is forgotten.
  pm.unreadable.insert(8);
  RzvPage* bad = pm.GetPage(0, 8, false, kAnyPageType);
  EXPECT_EQ(bad->Header().PageVersion(), kFailedPageVersion);
  pm.PutPage(bad);
  EXPECT_EQ(pm.FindCachedPage(8), nullptr);
  pm.unreadable.clear();
  RzvPage* good = pm.GetPage(0, 8, false, kAnyPageType);
  EXPECT_NE(good->Header().PageVersion(), kFailedPageVersion);
  pm.PutPage(good);
}

TEST(RzvPageManagerTest, RevalidationRereadsOnlyPagesNobodyIsChanging) {
  MemoryPageManager pm;
  pm.Store(2, RzvPageType::kTableRecord, 'o');
  pm.PutPage(pm.GetPage(0, 2, false, kAnyPageType));
  pm.Store(2, RzvPageType::kTableRecord, 'x');  // another process committed

  pm.cache_valid = true;
  RzvPage* page = pm.GetPage(0, 2, true, kAnyPageType);
  EXPECT_EQ(page->Data()[0], 'o');
  pm.PutPage(page);
  pm.cache_valid = false;
  page = pm.GetPage(0, 2, true, kAnyPageType);
  EXPECT_EQ(page->Data()[0], 'x');
  EXPECT_EQ(pm.reads.size(), 2u);

  // Session 0 is changing the page: session 1 neither rereads nor gets it.
  page->Data()[0] = 'm';
  page->SetDirty(true);
  EXPECT_EQ(CodeOf([&] { pm.GetPage(1, 2, true, kAnyPageType); }), 20090);
  EXPECT_EQ(page->Data()[0], 'm');
  pm.PutPage(page);
  pm.ApplyChanges(0);
}

TEST(RzvPageManagerTest, FailedCommitKeepsOnlyUnwrittenPagesForCancel) {
  MemoryPageManager pm;
  for (int i = 0; i < 3; ++i) pm.PutPage(pm.AddPage(0, RzvPageType::kTableRecord));
  pm.ApplyChanges(0);
  for (int32_t no = 0; no < 3; ++no) {
    RzvPage* page = pm.GetPage(0, no, false, kAnyPageType);
    page->Data()[0] = 'n';
    page->SetDirty(true);
    pm.PutPage(page);
  }
  pm.failing_write = 1;
  pm.writes.clear();
  EXPECT_EQ(CodeOf([&] { pm.ApplyChanges(0); }), 10469);
  EXPECT_EQ(pm.writes, (std::vector<int32_t>{0}));
  EXPECT_EQ(pm.DirtyPageCount(0), 2u);
  pm.CancelChanges(0);
  EXPECT_EQ(pm.DiskByte(0), 'n');
  EXPECT_EQ(pm.DiskByte(1), 0);
}

TEST(RzvPageManagerTest, CloseRefusesUncommittedPagesButDestructionDoesNot) {
  auto pm = std::make_unique<MemoryPageManager>();
  pm->PutPage(pm->AddPage(0, RzvPageType::kTableRecord));
  ExpectError([&] { pm->Close(); }, 20097, "Cannot free not commited pages");
  EXPECT_EQ(pm->DirtyPageCount(0), 1u) << "nothing released after a refusal";
  pm.reset();  // destroys the uncommitted page without throwing

  MemoryPageManager committed;
  committed.PutPage(committed.AddPage(0, RzvPageType::kTableRecord));
  committed.ApplyChanges(0);
  committed.Close();
  EXPECT_EQ(committed.CachedPageCount(), 0u);
}

}  // namespace
}  // namespace rzv
