#include "plat/uikit/UIDriver.h"

#include <algorithm>

#include "plat/dispatch/Queues.h"
#include "plat/uikit/UIApplication.h"
#include "plat/uikit/UIApplicationDelegate.h"
#include "plat/uikit/UIPopoverController.h"
#include "plat/uikit/UIScrollView.h"
#include "plat/uikit/UIWindow.h"

namespace plat {

UIDriver& UIDriver::shared() {
  static auto* driver = new UIDriver();
  return *driver;
}

namespace {

void collectScrollsToTop(const UIViewPtr& view, std::vector<UIScrollViewPtr>& found) {
  if (view->isHidden()) return;
  if (auto scroll = std::dynamic_pointer_cast<UIScrollView>(view); scroll && scroll->scrollsToTop()) {
    found.push_back(scroll);
  }
  for (const auto& child : view->subviews()) collectScrollsToTop(child, found);
}

}  // namespace

bool UIDriver::tapStatusBar() {
  auto app = UIApplication::sharedApplication();
  auto delegate = app->delegate();
  auto window = delegate ? delegate->window() : nullptr;
  if (!window || app->isStatusBarHidden()) return false;
  std::vector<UIScrollViewPtr> found;
  collectScrollsToTop(window, found);
  // The platform scrolls nothing when it cannot tell which view the user means.
  if (found.size() != 1) return false;
  UIScrollViewPtr scroll = found.front();
  auto scrollDelegate = scroll->delegate();
  if (!scrollDelegate || scrollDelegate->scrollViewShouldScrollToTop(*scroll)) scroll->setContentOffset({0, 0});
  return true;
}

std::shared_ptr<UIDrivenAlert> UIDriver::topAlert() const { return alerts_.empty() ? nullptr : alerts_.back(); }

bool UIDriver::tapButton(std::size_t index) {
  auto top = topAlert();
  return top && !top->isCovered() && top->tapButton(index);
}

bool UIDriver::setTextFieldText(std::size_t index, std::string text) {
  auto top = topAlert();
  return top && !top->isCovered() && top->setTextFieldText(index, std::move(text));
}

void UIDriver::alertDidAppear(const std::shared_ptr<UIDrivenAlert>& alert) {
  if (!alert || std::find(alerts_.begin(), alerts_.end(), alert) != alerts_.end()) return;
  alerts_.push_back(alert);
  if (observer_) observer_(*alert);
  scheduleAutoAnswer(alert);
}

void UIDriver::alertDidDisappear(const UIDrivenAlert* alert) {
  auto it = std::find_if(alerts_.begin(), alerts_.end(), [&](const auto& a) { return a.get() == alert; });
  if (it == alerts_.end()) return;
  // Keep it alive until it is out of the list: this may be its last owner.
  auto keep = *it;
  alerts_.erase(it);
  // An alert that this one covered is on top now: its turn to be answered.
  if (!alerts_.empty()) scheduleAutoAnswer(alerts_.back());
}

void UIDriver::scheduleAutoAnswer(const std::shared_ptr<UIDrivenAlert>& alert) {
  if (!autoAnswer_) return;
  AutoAnswer answer = *autoAnswer_;
  std::weak_ptr<UIDrivenAlert> weak = alert;
  dispatch::mainAsync([weak, answer] {
    auto target = weak.lock();
    // Gone meanwhile, or covered by a later alert, which goes first; it comes back here when
    // that one leaves.
    if (!target || UIDriver::shared().topAlert() != target || target->isCovered()) return;
    if (answer.text && target->textFieldCount() > 0) target->setTextFieldText(0, answer.text);
    std::size_t buttons = target->buttonTitles().size();
    if (buttons > 0) target->tapButton(std::min(answer.buttonIndex, buttons - 1));
  });
}

bool UIDriver::pickImage(const std::shared_ptr<UIImage>& image) {
  auto top = topPicker();
  return top && top->pickImage(image);
}

bool UIDriver::pickAsset(const std::shared_ptr<NSURL>& assetURL) {
  auto top = topPicker();
  return top && top->pickAsset(assetURL);
}

bool UIDriver::pickMovie(const std::string& path) {
  auto top = topPicker();
  return top && top->pickMovie(path);
}

bool UIDriver::takePicture() {
  auto top = topPicker();
  return top && top->takePicture();
}

bool UIDriver::recordVideo(double seconds) {
  auto top = topPicker();
  return top && top->recordVideo(seconds);
}

bool UIDriver::cancelPicker() {
  auto top = topPicker();
  return top && top->cancelPicking();
}

void UIDriver::pickerDidAppear(const std::shared_ptr<UIDrivenPicker>& picker) {
  if (!picker || std::find(pickers_.begin(), pickers_.end(), picker) != pickers_.end()) return;
  pickers_.push_back(picker);
  if (!pickerAnswer_) return;
  std::weak_ptr<UIDrivenPicker> weak = picker;
  dispatch::mainAsync([weak] {
    auto target = weak.lock();
    auto& driver = UIDriver::shared();
    if (target && driver.pickerAnswer_ && driver.topPicker() == target) driver.pickerAnswer_(*target);
  });
}

void UIDriver::pickerDidDisappear(const UIDrivenPicker* picker) {
  auto it = std::find_if(pickers_.begin(), pickers_.end(), [&](const auto& p) { return p.get() == picker; });
  if (it == pickers_.end()) return;
  auto keep = *it;
  pickers_.erase(it);
}

void UIDriver::popoverDidAppear(const std::shared_ptr<UIPopoverController>& popover) {
  if (popover && std::find(popovers_.begin(), popovers_.end(), popover) == popovers_.end())
    popovers_.push_back(popover);
}

void UIDriver::popoverDidDisappear(const UIPopoverController* popover) {
  auto it = std::find_if(popovers_.begin(), popovers_.end(), [&](const auto& p) { return p.get() == popover; });
  if (it == popovers_.end()) return;
  auto keep = *it;
  popovers_.erase(it);
}

bool UIDriver::tapOutsidePopover() {
  if (popovers_.empty()) return false;
  auto popover = popovers_.back();
  popover->dismissByTapOutside();
  return true;
}

std::shared_ptr<UIDrivenScreen> UIDriver::topScreen() const {
  return screens_.empty() ? nullptr : screens_.back();
}

bool UIDriver::tapScreenButton(const std::string& title) {
  auto top = topScreen();
  return top && top->tapButton(title);
}

bool UIDriver::selectRow(std::int64_t id) {
  auto top = topScreen();
  return top && top->selectRow(id);
}

bool UIDriver::setFieldText(const std::string& field, const std::string& text) {
  auto top = topScreen();
  return top && top->setFieldText(field, text);
}

void UIDriver::screenDidAppear(const std::shared_ptr<UIDrivenScreen>& screen) {
  if (!screen || std::find(screens_.begin(), screens_.end(), screen) != screens_.end()) return;
  screens_.push_back(screen);
  scheduleScreenAnswer(screen);
}

void UIDriver::screenDidDisappear(const UIDrivenScreen* screen) {
  auto it = std::find_if(screens_.begin(), screens_.end(), [&](const auto& s) { return s.get() == screen; });
  if (it == screens_.end()) return;
  auto keep = *it;
  screens_.erase(it);
  if (!screens_.empty()) scheduleScreenAnswer(screens_.back());
}

void UIDriver::scheduleScreenAnswer(const std::shared_ptr<UIDrivenScreen>& screen) {
  if (!screenAnswer_) return;
  std::weak_ptr<UIDrivenScreen> weak = screen;
  dispatch::mainAsync([weak] {
    auto target = weak.lock();
    auto& driver = UIDriver::shared();
    // Covered meanwhile: the screen on top goes first, and this one comes back when it leaves.
    if (!target || driver.topScreen() != target || !driver.screenAnswer_) return;
    auto answer = driver.screenAnswer_;
    answer(*target);
  });
}

void UIDriver::reset() {
  auto oldScreens = std::move(screens_);
  screens_.clear();
  screenAnswer_ = nullptr;
  auto old = std::move(alerts_);
  alerts_.clear();
  auto oldPickers = std::move(pickers_);
  pickers_.clear();
  auto oldPopovers = std::move(popovers_);
  popovers_.clear();
  pickerAnswer_ = nullptr;
  autoAnswer_.reset();
  observer_ = nullptr;
}

}  // namespace plat
