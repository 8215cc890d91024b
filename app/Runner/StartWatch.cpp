#include "StartWatch.h"

#include "HBRAppDelegate.h"
#include "HBRPlugin.h"
#include "HBRViewController.h"
#include "plat/dispatch/RunLoop.h"
#include "plat/foundation/NSNotificationCenter.h"
#include "plat/foundation/Strings.h"
#include "plat/uikit/UIApplication.h"

namespace harbor::runner {
namespace {

// The container's inline error page, shown in place of a start page it cannot show.
constexpr char kInlineErrorPage[] = "about:blank";
// A load cancelled because another took its place has not failed.
constexpr std::string_view kCancelled = "cancelled";

}  // namespace

// The application's error page, with the container's query: config.xml names it relative to
// www/ (or as a whole URL).
bool StartWatch::isErrorPage(const std::string& url) const {
  if (!errorPage_ || errorPage_->empty()) return false;
  std::string page = url.substr(0, url.find_first_of("?#"));
  std::string named = errorPage_->substr(0, errorPage_->find_first_of("?#"));
  if (named.find("://") != std::string::npos) return page == named;
  std::string tail = "/www/" + named;
  return page.size() >= tail.size() && page.compare(page.size() - tail.size(), tail.size(), tail) == 0;
}

bool StartWatch::needsBridgeAnswer(const std::string& url) const {
  std::lock_guard lock(mutex_);
  return !decided_ && pageScript_ && url != kInlineErrorPage && !isErrorPage(url);
}

std::optional<std::string> StartWatch::pageDidLoad(const std::string& url, bool hasBridge) {
  {
    std::lock_guard lock(mutex_);
    if (decided_) return std::nullopt;
    if (url != kInlineErrorPage && (!pageScript_ || hasBridge || isErrorPage(url))) {
      decided_ = true;
      return std::nullopt;
    }
  }
  if (url == kInlineErrorPage) return fail("its start page could not be shown (see the ERROR line above)");
  return fail("its start page loaded, but the container's page script " + *pageScript_ +
              " did not run (see the page's errors above)");
}

std::optional<std::string> StartWatch::loadFailed(std::string_view error) {
  // The application's error page comes next; its load decides.
  if (errorPage_ || error == kCancelled) return std::nullopt;
  return fail("its start page did not load (" + std::string(error) + ")");
}

bool StartWatch::decided() const {
  std::lock_guard lock(mutex_);
  return decided_;
}

std::optional<std::string> StartWatch::fail(std::string reason) {
  std::lock_guard lock(mutex_);
  if (decided_) return std::nullopt;
  decided_ = true;
  return reason;
}

void watchTheStart(const std::shared_ptr<StartWatch>& watch, std::function<void(const std::string&)> onFailure) {
  // For the whole run; the process ends with it.
  static const auto observer = std::make_shared<int>(0);
  auto report = std::make_shared<std::function<void(const std::string&)>>(std::move(onFailure));
  plat::NSNotificationCenter::defaultCenter().removeObserver(observer.get());
  plat::NSNotificationCenter::defaultCenter().addObserver(
      observer, kHBRPageDidFailLoadNotification, nullptr, [watch, report](const plat::NSNotification& n) {
        if (auto failed = watch->loadFailed(n.userInfo["error"].stringOr())) (*report)(*failed);
      });
  plat::NSNotificationCenter::defaultCenter().addObserver(
      observer, kHBRPageDidLoadNotification, nullptr, [watch, report](const plat::NSNotification&) {
        if (watch->decided()) return;
        auto delegate = std::dynamic_pointer_cast<HBRAppDelegate>(plat::UIApplication::sharedApplication()->delegate());
        auto controller = delegate ? delegate->viewController() : nullptr;
        auto engine = controller ? controller->webViewEngine() : nullptr;
        if (!engine) return;
        plat::NSURLPtr url = engine->URL();
        std::string page = url ? url->absoluteString() : std::string();
        if (!watch->needsBridgeAnswer(page)) {
          if (auto failed = watch->pageDidLoad(page, false)) (*report)(*failed);
          return;
        }
        engine->evaluateJavaScript(kHBRPageHasBridgeScript, [watch, report, page](const plat::Value& answer,
                                                                                  const std::optional<plat::NSError>&) {
          if (auto failed = watch->pageDidLoad(page, answer.stringOr() == "true")) (*report)(*failed);
        });
      });
}

}  // namespace harbor::runner
