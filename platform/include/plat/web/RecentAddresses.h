#pragma once
// The addresses a page's navigations leave with the runner: the one bound that both the WebKit
// engine (in our process) and its web extension (inside WebKit's content processes) apply.
// WebKit's UI side, the runner, makes many copies of every address any frame of the page takes (a
// new fragment is sent over and copied before anything of ours may refuse it, and every history
// entry holds the addresses of all the page's frames), so a page setting long fragments in a loop,
// on itself or on a frame, would grow the runner by gigabytes. The addresses of a page's last
// kAddressesKept navigations (WebKit's history keeps 100) may hold kAddressBytes together, and so
// may those of its navigations in the last kRecentSeconds: the page's process does not wait for
// the runner to take a navigation in, and WebKit keeps in the runner all it has sent that the
// runner has not yet taken in (some 30 copies of each address), so 3000 fragments of 40 KB, whose
// last 100 hold less than the bound, took the runner past 1 GB. Past either, the page's content
// process is ended at once, and the engine's bound on reloads applies.
// Header-only and free of the rest of the platform, so that the extension can be built from it.
#include <cmath>
#include <cstddef>
#include <deque>
#include <string>
#include <utility>

namespace plat::web {

class RecentAddresses {
 public:
  static constexpr std::size_t kAddressesKept = 100;
  static constexpr std::size_t kAddressBytes = std::size_t{4} << 20;
  static constexpr int kRecentSeconds = 10;

  // Counts a navigation made at `now` (seconds on a clock that never goes back) that leaves
  // `bytes` of addresses behind; true when the page's navigations are past the bound from now on.
  bool add(std::size_t bytes, double now) {
    lengths_.push_back(bytes);
    bytes_ += bytes;
    if (lengths_.size() > kAddressesKept) {
      bytes_ -= lengths_.front();
      lengths_.pop_front();
    }
    // By whole seconds: what the last kRecentSeconds of them hold.
    auto second = static_cast<long long>(std::floor(now));
    while (!seconds_.empty() && seconds_.front().first <= second - kRecentSeconds) {
      recentBytes_ -= seconds_.front().second;
      seconds_.pop_front();
    }
    if (seconds_.empty() || seconds_.back().first != second) seconds_.emplace_back(second, 0);
    seconds_.back().second += bytes;
    recentBytes_ += bytes;
    return bytes_ > kAddressBytes || recentBytes_ > kAddressBytes;
  }

  void clear() {
    lengths_.clear();
    bytes_ = 0;
    seconds_.clear();
    recentBytes_ = 0;
  }

  // The log line that says why the page's process ends.
  std::string whyTheProcessEnds() const {
    std::string bound = ", more than " + std::to_string(kAddressBytes >> 20) + " MiB; its content process ends";
    if (bytes_ > kAddressBytes) return "WebKit: the page's last addresses hold " + std::to_string(bytes_) + " bytes" + bound;
    return "WebKit: the page's addresses of the last " + std::to_string(kRecentSeconds) + " seconds hold " +
           std::to_string(recentBytes_) + " bytes" + bound;
  }

 private:
  std::deque<std::size_t> lengths_;
  std::size_t bytes_ = 0;
  std::deque<std::pair<long long, std::size_t>> seconds_;  // (second, bytes), oldest first
  std::size_t recentBytes_ = 0;
};

}  // namespace plat::web
