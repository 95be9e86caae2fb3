#include "app/file_run.h"


#include <algorithm>
#include <atomic>
#include <optional>
#include <cerrno>
#include <system_error>
#include <thread>

#include "app/chunk_loader.h"
#include "app/json_lines.h"
#include "app/ordered.h"
#include "app/slot_scan.h"
#include "app/text.h"
#include "fsio/system.h"

namespace app {

namespace {

// The pages a file counts for: a check's file that could not be read would
// not be repaired; a run's counts what it wrote, also when a later part of
// it failed.
long pagesCounted(const FileResult& r, bool check) {
  return check ? (r.code == 0 ? r.pagesRepaired : 0) : r.pagesWritten;
}

// Remembers whether the output's reader went away.
class Watched : public Output {
 public:
  explicit Watched(Output& out) : out_(out) {}
  void write(std::string_view text) override { out_.write(text); }
  bool flush() override {
    const bool flushed = out_.flush();
    if (out_.error() == EPIPE) closed = true;
    return flushed;
  }
  int error() const override { return out_.error(); }
  std::atomic<bool> closed{false};

 private:
  Output& out_;
};

// A file's block: its line "== FILE" goes first, and only once the file
// says something (a run over many files is quiet about those with nothing
// to repair).
class Headed : public Output {
 public:
  Headed(Output& to, std::string header) : to_(to), header_(std::move(header)) {}
  void write(std::string_view text) override {
    if (text.empty()) return;
    if (!header_.empty()) to_.write(header_);
    header_.clear();
    to_.write(text);
  }

 private:
  Output& to_;
  std::string header_;
};

// A file's result, as --json says it.
std::string fileResult(const std::string& path, const FileResult& r, bool check) {
  JsonObject object;
  object.text("kind", "file").text("file", path).number("code", r.code);
  object.number(check ? "pages_that_would_be_repaired" : "pages_repaired", pagesCounted(r, check));
  return object.boolean("errors", r.errors || r.code != 0).line();
}

}  // namespace

RunTotals runFiles(const std::vector<Target>& files, const RunOptions& options, bool headers, bool stopWhenClosed,
                   Output& out, Progress& progress) {
  const int jobs = std::max(1, std::min<int>(options.jobs > 0 ? options.jobs : fsio::usableProcessors(),
                                             static_cast<int>(std::max<size_t>(files.size(), 1))));
  // Processors beyond the jobs are spare from the start; a job's is once it has no file left.
  const int processors = options.threads > 0 ? std::max(options.threads, jobs) : std::max(fsio::usableProcessors(), jobs);
  SpareProcessors spare(processors - jobs);
  RunOptions shared = options;
  shared.spare = &spare;
  Watched watched(out);
  Ordered ordered(watched);
  std::vector<FileResult> results(files.size());
  std::atomic<size_t> next{0};
  std::atomic<bool> stop{false};

  auto work = [&] {
    // A world's files are looked at everywhere, files named alone as asked.
    std::optional<ChunkLoader> loaders[2];
    for (size_t k; !stop && (k = next++) < files.size();) {
      const Target& file = files[k];
      RunOptions fileOptions = shared;
      fileOptions.everywhere = options.everywhere || file.everywhere;
      fileOptions.quiet = headers;
      std::optional<ChunkLoader>& loader = loaders[fileOptions.everywhere];
      if (!loader) loader.emplace(options.zlibOnly, fileOptions.everywhere, options.upgrade);
      fileOptions.loader = &*loader;
      OrderedLines lines(ordered, k);
      Headed block(lines, headers && !options.json ? formatted("== %s\n", file.path.c_str()) : "");
      if (options.json) block.jsonFile = file.path.c_str();
      switch (file.kind) {
        case Target::region:
          results[k] = mendRegion(file.path.c_str(), fileOptions, block, file.otherNames);
          break;
        case Target::playerFile:
          results[k] = mendPlayerFile(file.path.c_str(), fileOptions, block, file.otherNames);
          break;
        case Target::chunkFile:
          results[k] = mendChunkFile(file.path.c_str(), fileOptions, block, file.otherNames);
          break;
      }
      if (options.json) block.write(fileResult(file.path, results[k], options.check));
      lines.finish(false);
      progress.fileDone(file.size, pagesCounted(results[k], options.check));
      if (stopWhenClosed && watched.closed) stop = true;
    }
    spare.give();
  };
  std::vector<std::thread> workers;
  for (int i = 1; i < jobs; ++i) {
    try {
      workers.emplace_back(work);
    } catch (const std::system_error&) {
      spare.give();  // the system has no thread to spare: fewer jobs
    }
  }
  work();
  for (std::thread& worker : workers) worker.join();
  watched.flush();

  RunTotals totals;
  totals.outputClosed = watched.closed;
  for (size_t k = 0; k < files.size() && k < next; ++k) {
    const FileResult& r = results[k];
    ++totals.files;
    const long pages = pagesCounted(r, options.check);
    // (A file whose only repair is a title shortened counts too.)
    totals.repaired += pages > 0 || (r.repairsDue && r.code == 0);
    totals.pages += pages;
    totals.withErrors += r.errors || r.code != 0;
    totals.books += r.books;
    totals.repairsDue |= r.repairsDue;
    totals.code = std::max(totals.code, r.code);
  }
  return totals;
}

}  // namespace app
