// Per-record costs of typed values as a filter pays them: comparisons in the
// common type, text to date conversion and value text.
#include <benchmark/benchmark.h>

#include "engine/table/system_formats.h"
#include "engine/table/variant.h"

namespace rzv {
namespace {

void BM_CompareIntegers(benchmark::State& state) {
  RzvVariant a, b;
  a.SetAsInteger(12);
  b.SetAsInteger(13);
  for (auto _ : state) benchmark::DoNotOptimize(a.Compare(b));
}
BENCHMARK(BM_CompareIntegers);

void BM_CompareIntegerWithFloat(benchmark::State& state) {
  RzvVariant a, b;
  a.SetAsSmallint(12);
  b.SetAsFloat(12.5);
  for (auto _ : state) benchmark::DoNotOptimize(a.Compare(b));
}
BENCHMARK(BM_CompareIntegerWithFloat);

void BM_CompareStrings(benchmark::State& state) {
  RzvVariant a, b;
  a.SetAsString("Meeting with the planning group");
  b.SetAsString("Meeting with the planning team");
  const bool case_insensitive = state.range(0) != 0;
  for (auto _ : state) benchmark::DoNotOptimize(a.Compare(b, case_insensitive));
}
BENCHMARK(BM_CompareStrings)->Arg(0)->Arg(1);

// DAYDATE >= '1/5/2009': the text constant is read as a date on every call.
void BM_CompareDateWithText(benchmark::State& state) {
  RzvSystemFormats::ResetToUsDefaults();
  RzvVariant a, b;
  a.SetAsDate(733412);
  b.SetAsString(state.range(0) ? "2009-01-05" : "1/5/2009");
  for (auto _ : state) benchmark::DoNotOptimize(a.Compare(b));
}
BENCHMARK(BM_CompareDateWithText)->Arg(0)->Arg(1);

void BM_DateToText(benchmark::State& state) {
  RzvSystemFormats::ResetToUsDefaults();
  RzvVariant a;
  a.SetAsDate(733412);
  for (auto _ : state) benchmark::DoNotOptimize(a.AsString());
}
BENCHMARK(BM_DateToText);

void BM_FloatToText(benchmark::State& state) {
  RzvVariant a;
  a.SetAsFloat(1234.5678);
  for (auto _ : state) benchmark::DoNotOptimize(a.AsString());
}
BENCHMARK(BM_FloatToText);

void BM_AddIntegers(benchmark::State& state) {
  RzvVariant one;
  one.SetAsInteger(1);
  RzvVariant sum;
  sum.SetAsInteger(0);
  for (auto _ : state) {
    sum.Add(one);
    benchmark::DoNotOptimize(sum);
  }
}
BENCHMARK(BM_AddIntegers);

}  // namespace
}  // namespace rzv
