#include "engine/storage/table_list.h"

#include <algorithm>
#include <cstring>

#include "engine/storage/byte_order.h"
#include "engine/storage/exception.h"

namespace rzv {

namespace {

constexpr size_t kTableIdOffset = 256;
constexpr size_t kMetadataOffset = 260;
constexpr size_t kMostUpdatedOffset = 264;
constexpr size_t kLockFileOffset = 268;

char AsciiUpper(char c) {
  return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

}  // namespace

RzvTableList::RzvTableList(RzvPageManager& page_manager)
    : file_(page_manager, RzvPageType::kTableList) {}

bool RzvTableList::SameName(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return AsciiUpper(x) == AsciiUpper(y);
         });
}

void RzvTableList::CheckNameLength(std::string_view name) {
  // A ShortString cannot hold more; cutting the name would make it another
  // table's name.
  if (name.size() > kMaxNameLength) {
    throw RzvException::Format(
        30395, "Cannot create table. Table name '%s' is longer than 255 characters", name);
  }
}

int32_t RzvTableList::Create(int32_t session_id) {
  if (IsOpen()) throw RzvException(30393, "Table list file already opened.");
  entries_.clear();
  return file_.Create(session_id);
}

void RzvTableList::Open(int32_t session_id, int32_t start_page_no) {
  if (IsOpen()) throw RzvException(30393, "Table list file already opened.");
  file_.Open(start_page_no);
  try {
    Reload(session_id);
  } catch (...) {
    Close();
    throw;
  }
}

void RzvTableList::Close() {
  file_.Close();
  entries_.clear();
}

void RzvTableList::Reload(int32_t session_id) {
  std::vector<uint8_t> content = file_.ReadFile(session_id);
  std::vector<RzvTableListEntry> entries;
  // A torn last entry (never written by the engine) is ignored.
  for (size_t at = 0; at + kEntrySize <= content.size(); at += kEntrySize) {
    const uint8_t* e = content.data() + at;
    RzvTableListEntry entry;
    entry.name.assign(reinterpret_cast<const char*>(e + 1), e[0]);
    entry.table_id = LoadLE<int32_t>(e + kTableIdOffset);
    entry.metadata_page_no = LoadLE<int32_t>(e + kMetadataOffset);
    entry.most_updated_page_no = LoadLE<int32_t>(e + kMostUpdatedOffset);
    entry.lock_file_page_no = LoadLE<int32_t>(e + kLockFileOffset);
    entries.push_back(std::move(entry));
  }
  entries_ = std::move(entries);
}

std::vector<RzvTableListEntry>::const_iterator RzvTableList::FindEntry(
    std::string_view name) const {
  return std::find_if(entries_.begin(), entries_.end(),
                      [&](const RzvTableListEntry& e) { return SameName(e.name, name); });
}

const RzvTableListEntry* RzvTableList::Find(std::string_view name) const {
  auto it = FindEntry(name);
  return it == entries_.end() ? nullptr : &*it;
}

const RzvTableListEntry& RzvTableList::Get(std::string_view name) const {
  const RzvTableListEntry* entry = Find(name);
  if (!entry) throw RzvException::Format(30396, "Table '%s' not exists.", name);
  return *entry;
}

void RzvTableList::Write(int32_t session_id, std::vector<RzvTableListEntry> entries) {
  std::vector<uint8_t> content(entries.size() * kEntrySize);
  for (size_t i = 0; i < entries.size(); ++i) {
    uint8_t* e = content.data() + i * kEntrySize;
    e[0] = static_cast<uint8_t>(entries[i].name.size());
    std::memcpy(e + 1, entries[i].name.data(), entries[i].name.size());
    StoreLE<int32_t>(e + kTableIdOffset, entries[i].table_id);
    StoreLE<int32_t>(e + kMetadataOffset, entries[i].metadata_page_no);
    StoreLE<int32_t>(e + kMostUpdatedOffset, entries[i].most_updated_page_no);
    StoreLE<int32_t>(e + kLockFileOffset, entries[i].lock_file_page_no);
  }
  file_.WriteFile(session_id, content);
  entries_ = std::move(entries);
}

void RzvTableList::Add(int32_t session_id, const RzvTableListEntry& entry) {
  CheckNameLength(entry.name);
  if (Find(entry.name)) {
    throw RzvException::Format(30395, "Cannot create table. Table '%s' already exists", entry.name);
  }
  std::vector<RzvTableListEntry> entries = entries_;
  entries.push_back(entry);
  Write(session_id, std::move(entries));
}

void RzvTableList::Rename(int32_t session_id, std::string_view name, std::string_view new_name) {
  auto it = FindEntry(name);
  if (it == entries_.end()) throw RzvException::Format(30397, "Table '%s' not exists.", name);
  CheckNameLength(new_name);
  // Changing only the letter case of a name is not a collision.
  if (!SameName(name, new_name) && Find(new_name)) {
    throw RzvException::Format(30395, "Cannot create table. Table '%s' already exists", new_name);
  }
  std::vector<RzvTableListEntry> entries = entries_;
  entries[static_cast<size_t>(it - entries_.cbegin())].name = std::string(new_name);
  Write(session_id, std::move(entries));
}

void RzvTableList::Remove(int32_t session_id, std::string_view name) {
  auto it = FindEntry(name);
  if (it == entries_.end()) throw RzvException::Format(30405, "Table '%s' not exists.", name);
  std::vector<RzvTableListEntry> entries = entries_;
  entries.erase(entries.begin() + (it - entries_.cbegin()));
  Write(session_id, std::move(entries));
}

}  // namespace rzv
