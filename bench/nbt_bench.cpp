// Reading and writing a realistic chunk, in MB/s of NBT bytes.
#include <benchmark/benchmark.h>

#include "chunk_builder.h"
#include "nbt/reader.h"
#include "nbt/writer.h"

namespace {

ByteBuffer chunkPayload() {
  ByteBuffer bytes;
  bench_support::buildChunk(3, -7)->write(bytes);
  return bytes;
}

void BM_ReadChunk(benchmark::State& state) {
  ByteBuffer bytes = chunkPayload();
  for (auto _ : state) {
    nbt::ByteCursor cursor(bytes.data(), bytes.size());
    nbt::TagPtr tree = nbt::readTag(nbt::kTagCompound, cursor);
    benchmark::DoNotOptimize(tree.get());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes.size()));
  state.counters["chunk_bytes"] = static_cast<double>(bytes.size());
}
BENCHMARK(BM_ReadChunk);

void BM_WriteChunk(benchmark::State& state) {
  auto tree = bench_support::buildChunk(3, -7);
  ByteBuffer out;
  for (auto _ : state) {
    out.clear();
    tree->write(out);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * out.size()));
}
BENCHMARK(BM_WriteChunk);

// Writing into a fresh buffer each time, as the region writer does per chunk.
void BM_WriteChunkFreshBuffer(benchmark::State& state) {
  auto tree = bench_support::buildChunk(3, -7);
  size_t size = 0;
  for (auto _ : state) {
    ByteBuffer out;
    tree->write(out);
    size = out.size();
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * size));
}
BENCHMARK(BM_WriteChunkFreshBuffer);

}  // namespace

BENCHMARK_MAIN();
