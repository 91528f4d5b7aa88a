#include <benchmark/benchmark.h>

#include "utils/utils.h"

// Baseline for the other figures: one allocation and its free.
static void BM_MallocFree(benchmark::State &state) {
  for (auto _ : state) {
    void *block = utils_malloc(256);
    benchmark::DoNotOptimize(block);
    utils_free(&block);
  }
}
BENCHMARK(BM_MallocFree);

BENCHMARK_MAIN();
