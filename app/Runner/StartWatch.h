#pragma once
// Whether the application's start page came up. A run that waits for a text of the page's
// (--until) would wait for ever on a page that failed to start, so the runner watches the start
// and ends such a run with the reason.
//
// Decided once, by the first of:
//   - the container's word that a load failed ("HBRPageDidFailLoadNotification", as it logs
//     "Failed to load webpage with error: ...", a cancelled load excepted: another one took its
//     place): failed; never a log line, which a page's text could imitate;
//   - the first page that finishes loading: failed when it is the container's inline error page
//     (about:blank, shown for a start page it could not show: "ERROR: Start Page at '...' was
//     not found.", "... was refused ..."), or when the start page loads the container's page
//     script and the page has no bridge after all (the script is broken, or failed to load);
//     started otherwise, also for a start page that never asked for the bridge, and for the
//     application's own error page (config.xml's "ErrorUrl"): with one, a failed load is not the
//     end of the start, since that page comes next and is the application's to show.
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

namespace harbor::runner {

class StartWatch {
 public:
  // pageScript: the container's page script the start page loads, as a path in the bundle
  // ("www/harbor.js"); nothing when it loads none.
  // errorPage: the preference "ErrorUrl", when config.xml has one.
  explicit StartWatch(std::optional<std::string> pageScript, std::optional<std::string> errorPage = std::nullopt)
      : pageScript_(std::move(pageScript)), errorPage_(std::move(errorPage)) {}

  // Whether the page that finished loading at url must be asked for the bridge to decide the
  // start: only while undecided, and only when its answer would matter.
  bool needsBridgeAnswer(const std::string& url) const;
  // The first page finished loading at url; hasBridge: it answers kHBRPageHasBridgeScript with
  // "true" (only asked when needsBridgeAnswer). Why the start failed, when this decides so.
  std::optional<std::string> pageDidLoad(const std::string& url, bool hasBridge);
  // A load failed with that error description. Why the start failed, when this decides so.
  std::optional<std::string> loadFailed(std::string_view error);

  bool decided() const;

 private:
  std::optional<std::string> fail(std::string reason);
  bool isErrorPage(const std::string& url) const;

  mutable std::mutex mutex_;
  bool decided_ = false;
  std::optional<std::string> pageScript_;
  std::optional<std::string> errorPage_;
};

// On the main thread, before the application starts: asks every page that finishes loading
// what the watch needs to know (through the container's engine), and calls onFailure on the main
// run loop, once, with the reason when the watch decides the start failed. Failed loads reach
// the watch as the container posts them.
void watchTheStart(const std::shared_ptr<StartWatch>& watch, std::function<void(const std::string&)> onFailure);

}  // namespace harbor::runner
