#include "engine/storage/system_directory.h"

#include "engine/storage/byte_order.h"
#include "engine/storage/exception.h"

namespace rzv {

RzvSystemDirectory::RzvSystemDirectory(RzvPageManager& page_manager)
    : file_(page_manager, RzvPageType::kFileSystemDirectory) {}

void RzvSystemDirectory::Create(int32_t session_id) {
  int32_t page_no = file_.Create(session_id);
  entries_.clear();
  if (page_no != kSystemDirectoryPageNo) {
    file_.Close();
    throw RzvException::Format(
        30392, "Error Creating SystemDirectory. SystemDirectoryPageNo=%d. Real PageNo=%d.",
        kSystemDirectoryPageNo, page_no);
  }
}

void RzvSystemDirectory::Open(int32_t session_id) {
  file_.Open(kSystemDirectoryPageNo);
  Read(session_id);
}

void RzvSystemDirectory::Close() {
  file_.Close();
  entries_.clear();
}

void RzvSystemDirectory::Read(int32_t session_id) {
  std::vector<uint8_t> content = file_.ReadFile(session_id);
  std::vector<Entry> entries;
  // A torn last entry (never written by the engine) is ignored.
  for (size_t at = 0; at + kEntrySize <= content.size(); at += kEntrySize) {
    entries.push_back({content[at], LoadLE<int32_t>(content.data() + at + 1)});
  }
  entries_ = std::move(entries);
}

void RzvSystemDirectory::Write(int32_t session_id) {
  std::vector<uint8_t> content(entries_.size() * kEntrySize);
  for (size_t i = 0; i < entries_.size(); ++i) {
    content[i * kEntrySize] = entries_[i].kind;
    StoreLE<int32_t>(content.data() + i * kEntrySize + 1, entries_[i].start_page_no);
  }
  file_.WriteFile(session_id, content);
}

int32_t RzvSystemDirectory::StartPageNo(uint8_t kind) const {
  for (const Entry& e : entries_) {
    if (e.kind == kind) return e.start_page_no;
  }
  return kInvalidPageNo;
}

void RzvSystemDirectory::SetStartPageNo(uint8_t kind, int32_t start_page_no) {
  for (Entry& e : entries_) {
    if (e.kind == kind) {
      e.start_page_no = start_page_no;
      return;
    }
  }
  entries_.push_back({kind, start_page_no});
}

}  // namespace rzv
