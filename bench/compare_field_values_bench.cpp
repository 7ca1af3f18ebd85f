// CompareFieldValues on two 17-character texts, case-sensitive and
// case-insensitive, beside glibc's strcoll_l in the same locale.
#include <benchmark/benchmark.h>
#include <locale.h>

#include <cstring>
#include <string>

#include "engine/table/collation.h"
#include "engine/table/compare_field_values.h"

namespace {

using rzv::RzvStorageType;

// en_US.UTF-8 where the system has it, else C.UTF-8.
const char* BenchLocale() {
  static const char* name = [] {
    for (const char* candidate : {"en_US.UTF-8", "C.UTF-8"}) {
      locale_t loc = newlocale(LC_COLLATE_MASK, candidate, nullptr);
      if (loc != nullptr) {
        freelocale(loc);
        return candidate;
      }
    }
    return "C";
  }();
  return name;
}

struct Pair {
  const char* a;
  const char* b;
};
// 17 characters each; they differ in case and in the last digit.
constexpr Pair kAscii{"Orvanel entry 042", "ORVANEL entry 047"};
// Windows-1252 text outside ASCII (for strcoll_l: the same text in UTF-8).
constexpr Pair kLatin1{"Caf\xE9 cr\xE8me no 42", "Caf\xE9 Cr\xE8me no 47"};
constexpr Pair kLatin1Utf8{"Caf\xC3\xA9 cr\xC3\xA8me no 42", "Caf\xC3\xA9 Cr\xC3\xA8me no 47"};

void CompareOurs(benchmark::State& state, Pair pair, bool case_insensitive) {
  rzv::RzvCollator::SetDefaultLocale(BenchLocale());
  state.SetLabel(std::string(BenchLocale()) + (rzv::RzvCollator::Default().HasAsciiTables()
                                                   ? ", ASCII tables"
                                                   : ", no ASCII tables"));
  for (auto _ : state) {
    int r = rzv::CompareFieldValues(pair.a, pair.b, RzvStorageType::kString,
                                    RzvStorageType::kString, case_insensitive, -1, false, false);
    benchmark::DoNotOptimize(r);
  }
}

void CompareStrcoll(benchmark::State& state, Pair pair) {
  locale_t loc = newlocale(LC_COLLATE_MASK, BenchLocale(), nullptr);
  if (loc == nullptr) {
    state.SkipWithError("newlocale failed");
    return;
  }
  state.SetLabel(BenchLocale());
  for (auto _ : state) {
    int r = strcoll_l(pair.a, pair.b, loc);
    benchmark::DoNotOptimize(r);
  }
  freelocale(loc);
}

void BM_CompareFieldValues_CaseSensitive(benchmark::State& s) {
  CompareOurs(s, kAscii, false);
}
void BM_CompareFieldValues_CaseInsensitive(benchmark::State& s) {
  CompareOurs(s, kAscii, true);
}
void BM_strcoll_l(benchmark::State& s) {
  CompareStrcoll(s, kAscii);
}
void BM_CompareFieldValues_Latin1_CaseSensitive(benchmark::State& s) {
  CompareOurs(s, kLatin1, false);
}
void BM_CompareFieldValues_Latin1_CaseInsensitive(benchmark::State& s) {
  CompareOurs(s, kLatin1, true);
}
void BM_strcoll_l_Latin1(benchmark::State& s) {
  CompareStrcoll(s, kLatin1Utf8);
}

BENCHMARK(BM_CompareFieldValues_CaseSensitive);
BENCHMARK(BM_CompareFieldValues_CaseInsensitive);
BENCHMARK(BM_strcoll_l);
BENCHMARK(BM_CompareFieldValues_Latin1_CaseSensitive);
BENCHMARK(BM_CompareFieldValues_Latin1_CaseInsensitive);
BENCHMARK(BM_strcoll_l_Latin1);

}  // namespace
