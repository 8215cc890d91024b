#pragma once
// The addresses a page's navigations leave with the runner: the one bound that both the WebKit
// engine (in our process) and its web extension (inside WebKit's content processes) apply.
// WebKit's UI side, the runner, makes many copies of every address any frame of the page takes (a
// new fragment is sent over and copied before anything of ours may refuse it, and every history
// entry holds the addresses of all the page's frames), so a page setting long fragments in a loop,
// on itself or on a frame, would grow the runner by gigabytes. The addresses of a page's last
// kAddressesKept navigations (WebKit's history keeps 100) may hold kAddressBytes together; past
// that the page's content process is ended at once, and the engine's bound on reloads applies.
// Header-only and free of the rest of the platform, so that the extension can be built from it.
#include <cstddef>
#include <deque>
#include <string>

namespace plat::web {

class RecentAddresses {
 public:
  static constexpr std::size_t kAddressesKept = 100;
  static constexpr std::size_t kAddressBytes = std::size_t{4} << 20;

  // Counts a navigation that leaves `bytes` of addresses behind; true when the last navigations
  // hold more than the bound from now on.
  bool add(std::size_t bytes) {
    lengths_.push_back(bytes);
    bytes_ += bytes;
    if (lengths_.size() > kAddressesKept) {
      bytes_ -= lengths_.front();
      lengths_.pop_front();
    }
    return bytes_ > kAddressBytes;
  }

  void clear() {
    lengths_.clear();
    bytes_ = 0;
  }

  // The log line that says why the page's process ends.
  std::string whyTheProcessEnds() const {
    return "WebKit: the page's last addresses hold " + std::to_string(bytes_) + " bytes, more than " +
           std::to_string(kAddressBytes >> 20) + " MiB; its content process ends";
  }

 private:
  std::deque<std::size_t> lengths_;
  std::size_t bytes_ = 0;
};

}  // namespace plat::web
