#pragma once
// The addresses a page's navigations leave with the runner: the one bound that both the WebKit
// engine (in our process) and its web extension (inside WebKit's content processes) apply.
// WebKit's UI side, the runner, makes many copies of every address any frame of the page takes (a
// new fragment is sent over and copied before anything of ours may refuse it, and every history
// entry holds the addresses of all the page's frames), so a page setting long fragments in a loop,
// on itself or on a frame, would grow the runner by gigabytes. The addresses of a page's last
// kAddressesKept navigations (WebKit's history keeps 100) may hold kAddressBytes together.
// Time counts too: the page's process does not wait for the runner to take a navigation in, so a
// page navigating in a loop runs ahead of it, and WebKit keeps in the runner all it has sent that
// the runner has not yet taken in (some 30 copies of each address, and kilobytes more for each
// navigation however short): 3000 fragments of 40 KB took the runner past 1 GB, 40000 of 1 KB on
// a frame to 1.5 GB. So every navigation of the last kRecentSeconds counts as well, whether or not
// among the last kAddressesKept, and there may be at most kRecentNavigations of them. A page that
// makes no more than kAddressesKept navigations in kRecentSeconds meets the bound it always met;
// past either, the page's content process is ended at once, and the engine's bound on reloads
// applies.
// Header-only and free of the rest of the platform, so that the extension can be built from it.
#include <cstddef>
#include <deque>
#include <string>

namespace plat::web {

class RecentAddresses {
 public:
  static constexpr std::size_t kAddressesKept = 100;
  static constexpr std::size_t kAddressBytes = std::size_t{4} << 20;
  static constexpr double kRecentSeconds = 10;
  static constexpr std::size_t kRecentNavigations = 1000;

  // Counts a navigation made at `now` (seconds on a clock that never goes back) that leaves
  // `bytes` of addresses behind; true when the page's navigations are past the bound from now on.
  bool add(std::size_t bytes, double now) {
    kept_.push_back({bytes, now});
    bytes_ += bytes;
    // Kept while among the last kAddressesKept or made within kRecentSeconds; never more than
    // one past kRecentNavigations, so a caller that goes on counting holds no more.
    while (kept_.size() > kAddressesKept &&
           (now - kept_.front().when >= kRecentSeconds || kept_.size() > kRecentNavigations + 1)) {
      bytes_ -= kept_.front().bytes;
      kept_.pop_front();
    }
    return bytes_ > kAddressBytes || kept_.size() > kRecentNavigations;
  }

  void clear() {
    kept_.clear();
    bytes_ = 0;
  }

  // The log line that says why the page's process ends.
  std::string whyTheProcessEnds() const {
    if (bytes_ > kAddressBytes)
      return "WebKit: the page's last addresses hold " + std::to_string(bytes_) + " bytes, more than " +
             std::to_string(kAddressBytes >> 20) + " MiB; its content process ends";
    return "WebKit: the page made more than " + std::to_string(kRecentNavigations) + " navigations within " +
           std::to_string(static_cast<int>(kRecentSeconds)) + " seconds; its content process ends";
  }

 private:
  struct Navigation {
    std::size_t bytes;
    double when;
  };
  std::deque<Navigation> kept_;
  std::size_t bytes_ = 0;
};

}  // namespace plat::web
