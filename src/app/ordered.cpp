#include "app/ordered.h"

namespace app {

std::optional<Ordered::Turn> Ordered::awaitTurn(size_t k) {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, [&] { return stopped_ || turn_ == k; });
  if (stopped_) return std::nullopt;
  return Turn();
}

void Ordered::write(const Turn& turn, const std::string& lines) {
  (void)turn;  // its having been made is the proof
  out_.write(lines);
}

bool Ordered::finish(size_t k, std::string&& lines, bool stopAfter) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (turn_ != k && !stopAfter && !stopped_ && waitingBytes_ + lines.size() <= kWaitingLimit) {
    waitingBytes_ += lines.size();
    waiting_.emplace(k, std::move(lines));
    return true;
  }
  changed_.wait(lock, [&] { return stopped_ || turn_ == k; });
  if (stopped_) return false;
  out_.write(lines);
  ++turn_;
  // Items that finished early and are next now go out too.
  for (auto it = waiting_.begin(); it != waiting_.end() && it->first == turn_; it = waiting_.erase(it)) {
    out_.write(it->second);
    waitingBytes_ -= it->second.size();
    ++turn_;
  }
  out_.flush();
  if (stopAfter) stopped_ = true;
  changed_.notify_all();
  return true;
}

void Ordered::stop() {
  std::lock_guard<std::mutex> lock(mutex_);
  stopped_ = true;
  changed_.notify_all();
}

void OrderedLines::write(std::string_view text) {
  pending_ += text;
  if (pending_.size() < kBufferLimit || stopped_) return;
  if (!turn_) turn_ = ordered_.awaitTurn(item_);
  stopped_ = !turn_;
  if (turn_) ordered_.write(*turn_, pending_);
  pending_.clear();  // written, or never to be: the run was stopped
}

}  // namespace app
