#pragma once

// Lets threads that work on items side by side (a region's slots, a world's
// files) write their lines in the items' order.

#include <condition_variable>
#include <cstddef>
#include <map>
#include <mutex>
#include <optional>
#include <string>

#include "app/console.h"

namespace app {

// An item's lines go out once every item before it is out; a thread that
// finishes an item early leaves its lines here and goes on, unless too many
// wait already, and a thread whose item has many lines waits for the item's
// turn and then writes them as they come.
class Ordered {
 public:
  explicit Ordered(Output& out) : out_(out) {}

  // Item k's turn: only awaitTurn makes one, and the turn lasts until item k
  // finishes, so that what is written with it comes out in order.
  class Turn {
   public:
    Turn(const Turn&) = delete;
    Turn& operator=(const Turn&) = delete;
    Turn(Turn&&) = default;
    Turn& operator=(Turn&&) = default;

   private:
    friend class Ordered;
    Turn() = default;
  };

  // Waits until item k is next; none when the run was stopped before.
  std::optional<Turn> awaitTurn(size_t k);
  // Item k is done, with these last lines. The lines go out now or once the
  // items before it are out; false when the run was stopped first. After
  // `stopAfter` nothing more is written.
  bool finish(size_t k, std::string&& lines, bool stopAfter);
  void stop();
  // Straight to the output, on the item's turn.
  void write(const Turn& turn, const std::string& lines);

 private:
  static constexpr size_t kWaitingLimit = size_t{1} << 20;

  Output& out_;
  std::mutex mutex_;
  std::condition_variable changed_;
  size_t turn_ = 0;
  bool stopped_ = false;
  std::map<size_t, std::string> waiting_;
  size_t waitingBytes_ = 0;
};

// One item's lines, kept until its turn; an item with many lines waits for
// its turn and writes them as they come.
class OrderedLines : public Output {
 public:
  OrderedLines(Ordered& ordered, size_t item) : ordered_(ordered), item_(item) {}
  void write(std::string_view text) override;
  bool finish(bool stopAfter) { return ordered_.finish(item_, std::move(pending_), stopAfter); }

 private:
  static constexpr size_t kBufferLimit = size_t{64} << 10;

  Ordered& ordered_;
  size_t item_;
  std::string pending_;
  std::optional<Ordered::Turn> turn_;
  bool stopped_ = false;
};

}  // namespace app
