#include "plat/uikit/UIAlertController.h"

#include <atomic>

#include "plat/foundation/Log.h"

namespace plat {
namespace {
std::atomic<bool> alertControllersAvailable{true};
}  // namespace

bool UIAlertController::isAvailable() { return alertControllersAvailable.load(); }
void UIAlertController::setAvailable(bool available) { alertControllersAvailable.store(available); }

std::shared_ptr<UIAlertAction> UIAlertAction::actionWithTitle(std::optional<std::string> title,
                                                              UIAlertActionStyle style, Handler handler) {
  auto action = std::make_shared<UIAlertAction>();
  action->title_ = std::move(title);
  action->style_ = style;
  action->handler_ = std::move(handler);
  return action;
}

std::shared_ptr<UIAlertController> UIAlertController::alertControllerWithTitle(std::optional<std::string> title,
                                                                               std::optional<std::string> message,
                                                                               UIAlertControllerStyle preferredStyle) {
  auto controller = std::make_shared<UIAlertController>();
  controller->title_ = std::move(title);
  controller->message_ = std::move(message);
  controller->preferredStyle_ = preferredStyle;
  return controller;
}

void UIAlertController::addAction(const std::shared_ptr<UIAlertAction>& action) {
  if (!action) return;
  if (action->style() == UIAlertActionStyle::Cancel) {
    for (const auto& a : actions_) {
      if (a->style() == UIAlertActionStyle::Cancel) {
        NSLog("UIAlertController can only have one action with a style of UIAlertActionStyleCancel");
        return;
      }
    }
  }
  actions_.push_back(action);
}

void UIAlertController::addTextFieldWithConfigurationHandler(const TextFieldConfiguration& configuration) {
  if (preferredStyle_ != UIAlertControllerStyle::Alert) {
    NSLog("Text fields can only be added to an alert controller of style UIAlertControllerStyleAlert");
    return;
  }
  auto field = std::make_shared<UITextField>();
  if (configuration) configuration(*field);
  textFields_.push_back(std::move(field));
}

std::vector<std::string> UIAlertController::buttonTitles() const {
  std::vector<std::string> titles;
  for (const auto& a : actions_) titles.push_back(a->title().value_or(""));
  return titles;
}

std::optional<std::string> UIAlertController::textFieldText(std::size_t index) const {
  return index < textFields_.size() ? textFields_[index]->text() : std::nullopt;
}

bool UIAlertController::setTextFieldText(std::size_t index, std::optional<std::string> text) {
  if (index >= textFields_.size()) return false;
  textFields_[index]->setText(std::move(text));
  return true;
}

bool UIAlertController::tapButton(std::size_t index) {
  if (answered_ || isCovered() || !presentingViewController() || index >= actions_.size() ||
      !actions_[index]->isEnabled())
    return false;
  answered_ = true;
  auto action = actions_[index];
  // As on the device: the alert leaves the screen first, then the handler runs.
  dismissViewControllerAnimated(true, [action] {
    if (action->handler()) action->handler()(*action);
  });
  return true;
}

void UIAlertController::viewDidAppear(bool animated) {
  UIDriver::shared().alertDidAppear(std::static_pointer_cast<UIDrivenAlert>(self<UIAlertController>()));
}

void UIAlertController::viewDidDisappear(bool animated) { UIDriver::shared().alertDidDisappear(this); }

}  // namespace plat
