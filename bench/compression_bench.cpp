// Compression speed and ratio on 100 KB of English text: PPM at modes 1, 5
// and 9 beside zlib level 6 and bzip2 at 900k blocks, all on the same bytes.
// "ratio" is compressed size / input size.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <vector>

#include "engine/storage/compression.h"

namespace rzv {
namespace {

const std::vector<uint8_t>& Input() {
  static const std::vector<uint8_t> data = [] {
    std::ifstream f(RZV_TEST_DATA_DIR "/ppmd/vectors/english100k.in", std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(f),
                                std::istreambuf_iterator<char>());
  }();
  return data;
}

void BM_Compress(benchmark::State& state, uint8_t alg, uint8_t mode) {
  const std::vector<uint8_t>& in = Input();
  if (in.empty()) {
    state.SkipWithError("english100k.in not found");
    return;
  }
  std::vector<uint8_t> out;
  for (auto _ : state) {
    if (!CompressBuffer(alg, mode, in.data(), in.size(), &out)) {
      state.SkipWithError("CompressBuffer failed");
      return;
    }
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * in.size()));
  state.counters["ratio"] = static_cast<double>(out.size()) / static_cast<double>(in.size());
}

void BM_Decompress(benchmark::State& state, uint8_t alg, uint8_t mode) {
  const std::vector<uint8_t>& in = Input();
  std::vector<uint8_t> packed;
  if (in.empty() || !CompressBuffer(alg, mode, in.data(), in.size(), &packed)) {
    state.SkipWithError("no input to decompress");
    return;
  }
  std::vector<uint8_t> out;
  for (auto _ : state) {
    size_t out_size = in.size();
    if (!DecompressBuffer(alg, packed.data(), packed.size(), &out_size, &out) ||
        out_size != in.size()) {
      state.SkipWithError("DecompressBuffer failed");
      return;
    }
    benchmark::DoNotOptimize(out.data());
  }
  // Throughput in uncompressed bytes, comparable with compression.
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * in.size()));
  state.counters["ratio"] = static_cast<double>(packed.size()) / static_cast<double>(in.size());
}

BENCHMARK_CAPTURE(BM_Compress, ppm_mode1, kRzvCompressionPpm, 1)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Compress, ppm_mode5, kRzvCompressionPpm, 5)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Compress, ppm_mode9, kRzvCompressionPpm, 9)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Compress, zlib_level6, kRzvCompressionZlib, 6)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Compress, bzip2_900k, kRzvCompressionBzip, 9)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Decompress, ppm_mode1, kRzvCompressionPpm, 1)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Decompress, ppm_mode5, kRzvCompressionPpm, 5)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Decompress, ppm_mode9, kRzvCompressionPpm, 9)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Decompress, zlib_level6, kRzvCompressionZlib, 6)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Decompress, bzip2_900k, kRzvCompressionBzip, 9)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace rzv
