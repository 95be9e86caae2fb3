// Reading and writing a realistic chunk, in MB/s of NBT bytes.
#include <benchmark/benchmark.h>

#include "chunk_builder.h"
#include "nbt/tree.h"
#include "nbt/writer.h"

namespace {

void BM_ReadChunk(benchmark::State& state) {
  const ByteBuffer bytes = bench_support::buildChunk(3, -7);
  nbt::Tree tree;
  for (auto _ : state) {
    nbt::ByteCursor cursor(bytes.data() + 3, bytes.size() - 3);  // past the root's type and empty name
    benchmark::DoNotOptimize(tree.read(nbt::kTagCompound, cursor));
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes.size()));
  state.counters["tags"] = static_cast<double>(tree.tagCount());
}
BENCHMARK(BM_ReadChunk);

void BM_WriteChunk(benchmark::State& state) {
  const ByteBuffer bytes = bench_support::buildChunk(3, -7);
  nbt::Tree tree;
  nbt::ByteCursor cursor(bytes.data() + 3, bytes.size() - 3);
  tree.read(nbt::kTagCompound, cursor);
  ByteBuffer out;
  for (auto _ : state) {
    out.clear();
    nbt::writeNamedTag("", tree.root(), out);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * out.size()));
}
BENCHMARK(BM_WriteChunk);

}  // namespace

BENCHMARK_MAIN();
