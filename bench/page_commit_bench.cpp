// Commit speed of the disk page manager: 1000 dirty 4096-byte pages written
// by ApplyChanges, encrypted ("Rijndael_128") and plain, beside the limit: a
// bare loop that encrypts the same data areas with the same kept cipher and
// pwrites whole pages to the same offsets. Also cached GetPage/PutPage pairs.
#include <fcntl.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "engine/storage/disk_page_manager.h"
#include "engine/storage/page_cipher.h"

namespace rzv {
namespace {

constexpr int kPages = 1000;
constexpr int32_t kPageSize = 4096;
constexpr int32_t kSession = 0;
const std::string kPassword = "benchmark password";

std::string ScratchFile(const char* name) {
  std::string dir = (std::filesystem::temp_directory_path() / "rzvbenchXXXXXX").string();
  return std::string(mkdtemp(dir.data())) + "/" + name;
}

// A database with kPages committed record pages, all in the shared cache.
struct Fixture {
  explicit Fixture(bool encrypted) : path(ScratchFile("commit.rzv")), m(2 * kPages) {
    m.CreateDatabaseFile(path, {encrypted ? kPassword : "", 0}, 8, kPageSize);
    for (int i = 0; i < kPages; ++i) {
      RzvPage* p = m.AddPage(kSession, RzvPageType::kTableRecord);
      for (int j = 0; j < kPageSize - kPageHeaderSize; ++j)
        p->Data()[j] = static_cast<uint8_t>(i + j);
      pages.push_back(p->PageNo());
      m.PutPage(p);
    }
    m.ApplyChanges(kSession);
  }
  ~Fixture() {
    m.CloseDatabaseFile();
    std::filesystem::remove_all(std::filesystem::path(path).parent_path());
  }
  void DirtyAll() {
    for (int32_t no : pages) {
      RzvPage* p = m.GetPage(kSession, no, false, kAnyPageType);
      p->Data()[0]++;
      p->SetDirty(true);
      m.PutPage(p);
    }
  }
  std::string path;
  RzvDiskPageManager m;
  std::vector<int32_t> pages;
};

void Commit(benchmark::State& state, bool encrypted) {
  Fixture f(encrypted);
  for (auto _ : state) {
    state.PauseTiming();
    f.DirtyAll();
    state.ResumeTiming();
    f.m.ApplyChanges(kSession);
  }
  state.SetItemsProcessed(state.iterations() * kPages);
  state.SetBytesProcessed(state.iterations() * kPages * kPageSize);
}

void BM_CommitEncrypted(benchmark::State& state) {
  Commit(state, true);
}
void BM_CommitPlain(benchmark::State& state) {
  Commit(state, false);
}

// The limit for BM_CommitEncrypted: encrypt each data area, pwrite the page.
void BM_RawEncryptAndWrite(benchmark::State& state) {
  const std::string path = ScratchFile("raw.bin");
  int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  const RzvPageCipher cipher(0, kPassword);
  std::vector<std::vector<uint8_t>> pages(kPages, std::vector<uint8_t>(kPageSize));
  for (int i = 0; i < kPages; ++i)
    for (int j = 0; j < kPageSize; ++j) pages[i][j] = static_cast<uint8_t>(i + j);
  for (auto _ : state) {
    for (int i = 0; i < kPages; ++i) {
      cipher.Encrypt(pages[i].data() + kPageHeaderSize, kPageSize - kPageHeaderSize);
      if (::pwrite(fd, pages[i].data(), kPageSize, 380 + int64_t{i + 2} * kPageSize) != kPageSize)
        state.SkipWithError("pwrite failed");
    }
  }
  ::close(fd);
  std::filesystem::remove_all(std::filesystem::path(path).parent_path());
  state.SetItemsProcessed(state.iterations() * kPages);
  state.SetBytesProcessed(state.iterations() * kPages * kPageSize);
}

void BM_CachedGetPutPage(benchmark::State& state) {
  Fixture f(true);
  size_t i = 0;
  for (auto _ : state) {
    RzvPage* p = f.m.GetPage(kSession, f.pages[i], false, kAnyPageType);
    benchmark::DoNotOptimize(p->Data()[0]);
    f.m.PutPage(p);
    if (++i == f.pages.size()) i = 0;
  }
  state.SetItemsProcessed(state.iterations());
}

BENCHMARK(BM_CommitEncrypted)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CommitPlain)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RawEncryptAndWrite)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CachedGetPutPage);

}  // namespace
}  // namespace rzv
