#include "HBRNotification.h"

#include <cstdint>
#include <cstdlib>
#include <utility>

#include "HBRPreferences.h"
#include "plat/foundation/Log.h"
#include "plat/foundation/NSBundle.h"
#include "plat/foundation/TextCut.h"
#include "plat/uikit/UIDevice.h"
#include "plat/uikit/UIScreen.h"

namespace harbor {
namespace {

// A page value as dialog text: text as it is, numbers and booleans as the page would print
// them, nothing for null or a missing argument; cut as every page text is (the page's module
// cuts them already, but a page may call the plugin itself).
std::optional<std::string> textOf(const plat::Value& value) {
  if (value.isString()) return plat::cutPageText(value.asString());
  if (value.isNil()) return std::nullopt;
  return plat::cutPageText(value.description());
}

// The labels of a dialog; never none, or the dialog could not be closed.
std::vector<std::string> labelsOf(const plat::Value& value) {
  std::vector<std::string> labels;
  if (value.isArray()) {
    for (const auto& item : value.asArray())
      if (auto text = textOf(item)) labels.push_back(*text);
  } else if (auto text = textOf(value)) {
    labels.push_back(*text);
  }
  if (labels.empty()) labels.emplace_back(kHBRNotificationDefaultButtonLabel);
  return labels;
}

long beepCountOf(const plat::Value& value) {
  if (value.isNumber()) return static_cast<long>(value.asInt());
  if (value.isString()) return std::strtol(value.asString().c_str(), nullptr, 10);
  return 1;
}

}  // namespace

HBRNotification::HBRNotification() {
  registerAction("alert", &HBRNotification::alert);
  registerAction("confirm", &HBRNotification::confirm);
  registerAction("prompt", &HBRNotification::prompt);
  registerAction("beep", &HBRNotification::beep);
}

void HBRNotification::alert(const HBRInvokedUrlCommandPtr& command) {
  auto label = textOf(command->argumentAtIndex(2));
  showDialogWithMessage(textOf(command->argumentAtIndex(0)), textOf(command->argumentAtIndex(1)),
                        {label.value_or(kHBRNotificationDefaultButtonLabel)}, std::nullopt, command->callbackId(),
                        kHBRDialogTypeAlert);
}

void HBRNotification::confirm(const HBRInvokedUrlCommandPtr& command) {
  showDialogWithMessage(textOf(command->argumentAtIndex(0)), textOf(command->argumentAtIndex(1)),
                        labelsOf(command->argumentAtIndex(2)), std::nullopt, command->callbackId(),
                        kHBRDialogTypeAlert);
}

void HBRNotification::prompt(const HBRInvokedUrlCommandPtr& command) {
  showDialogWithMessage(textOf(command->argumentAtIndex(0)), textOf(command->argumentAtIndex(1)),
                        labelsOf(command->argumentAtIndex(2)), textOf(command->argumentAtIndex(3)),
                        command->callbackId(), kHBRDialogTypePrompt);
}

void HBRNotification::showDialogWithMessage(const std::optional<std::string>& message,
                                            const std::optional<std::string>& title,
                                            const std::vector<std::string>& buttons,
                                            const std::optional<std::string>& defaultText,
                                            const std::optional<std::string>& callbackId,
                                            const std::string& dialogType) {
  const bool isPrompt = dialogType == kHBRDialogTypePrompt;

  if (!plat::UIAlertController::isAvailable()) {
    auto view = std::make_shared<HBRAlertView>();
    std::weak_ptr<plat::UIAlertViewDelegate> delegate = std::static_pointer_cast<HBRNotification>(shared_from_this());
    view->initWithTitle(title, message, delegate, std::nullopt, {});
    view->setCallbackId(callbackId);
    for (const auto& label : buttons) view->addButtonWithTitle(label);
    if (isPrompt) {
      view->setAlertViewStyle(plat::UIAlertViewStyle::PlainTextInput);
      view->textFieldAtIndex(0)->setText(defaultText);
    }
    view->show();
    return;
  }

  auto controller =
      plat::UIAlertController::alertControllerWithTitle(title, message, plat::UIAlertControllerStyle::Alert);
  // Before 8.3 an alert controller does not fit itself to the screen: give it the application
  // frame, turned with the interface.
  if (HBRFloatValueOfText(plat::UIDevice::currentDevice()->systemVersion()) < 8.3f) {
    plat::CGRect frame = plat::UIScreen::mainScreen().applicationFrame();
    auto orientation = plat::UIApplication::sharedApplication()->statusBarOrientation();
    if (orientation == plat::UIInterfaceOrientationLandscapeRight ||
        orientation == plat::UIInterfaceOrientationLandscapeLeft) {
      std::swap(frame.size.width, frame.size.height);
    }
    controller->view()->setFrame(frame);
  }
  std::weak_ptr<HBRNotification> weakSelf = this->weakSelf<HBRNotification>();
  // Weak: the controller owns its actions, whose handlers must not own it back.
  std::weak_ptr<plat::UIAlertController> weakController = controller;
  for (std::size_t i = 0; i < buttons.size(); ++i) {
    auto index = static_cast<std::int64_t>(i);
    controller->addAction(plat::UIAlertAction::actionWithTitle(
        buttons[i], plat::UIAlertActionStyle::Default,
        [weakSelf, weakController, callbackId, index, isPrompt](plat::UIAlertAction&) {
          auto self = weakSelf.lock();
          if (!self) return;  // the plugin is gone: nobody to answer
          std::optional<std::string> text;
          if (auto c = weakController.lock(); c && !c->textFields().empty()) text = c->textFields()[0]->text();
          self->sendAnswer(callbackId, index, isPrompt, text);
        }));
  }
  if (isPrompt)
    controller->addTextFieldWithConfigurationHandler(
        [defaultText](plat::UITextField& field) { field.setText(defaultText); });

  alertQueue().push_back({controller, weakSelf});
  if (alertQueue().size() == 1) presentAlertcontroller();
}

void HBRNotification::sendAnswer(const std::optional<std::string>& callbackId, std::int64_t buttonIndex, bool isPrompt,
                                 const std::optional<std::string>& text) {
  auto delegate = commandDelegate();
  if (!delegate) return;
  HBRPluginResultPtr result;
  if (isPrompt) {
    plat::Dictionary answer;
    answer.set("buttonIndex", buttonIndex + 1);
    answer.set("input1", text ? plat::Value(*text) : plat::Value::null());
    result = HBRPluginResult::resultWithStatusMessageAsDictionary(HBRCommandStatus::OK, std::move(answer));
  } else {
    result =
        HBRPluginResult::resultWithStatusMessageAsInt(HBRCommandStatus::OK, static_cast<std::int32_t>(buttonIndex + 1));
  }
  delegate->sendPluginResult(result, callbackId);
}

void HBRNotification::alertViewClickedButtonAtIndex(plat::UIAlertView& alertView, std::int64_t buttonIndex) {
  auto* view = dynamic_cast<HBRAlertView*>(&alertView);
  if (!view) return;
  bool isPrompt = view->alertViewStyle() != plat::UIAlertViewStyle::Default;
  std::optional<std::string> text;
  if (isPrompt) {
    if (auto field = view->textFieldAtIndex(0)) text = field->text();
  }
  sendAnswer(view->callbackId(), buttonIndex, isPrompt, text);
}

std::shared_ptr<plat::UIViewController> HBRNotification::getTopPresentedViewController() const {
  auto top = viewController();
  while (top) {
    auto presented = top->presentedViewController();
    if (!presented || presented->isBeingDismissed()) break;
    top = presented;
  }
  return top;
}

std::deque<HBRNotification::QueuedAlert>& HBRNotification::alertQueue() {
  static auto* queue = new std::deque<QueuedAlert>();
  return *queue;
}

std::size_t HBRNotification::alertQueueCount() { return alertQueue().size(); }

void HBRNotification::resetAlertQueue() { alertQueue().clear(); }

void HBRNotification::presentAlertcontroller() {
  auto& queue = alertQueue();
  while (!queue.empty()) {
    QueuedAlert next = queue.front();
    auto plugin = next.plugin.lock();
    auto presenter = plugin ? plugin->getTopPresentedViewController() : nullptr;
    if (presenter) {
      std::weak_ptr<plat::UIAlertController> presented = next.controller;
      bool started = presenter->presentViewController(next.controller, true, [presented] {
        auto& q = alertQueue();
        auto done = presented.lock();
        std::erase_if(q, [&](const QueuedAlert& a) { return a.controller == done; });
        if (!q.empty()) presentAlertcontroller();
      });
      if (started) return;
    }
    // A dialog that never appears must not hold back every dialog after it.
    plat::NSLog(presenter ? "HBRNotification: the dialog could not be presented; dropped"
                          : "HBRNotification: no view controller to present the dialog on; dropped");
    queue.pop_front();
  }
}

std::optional<std::string> HBRNotification::beepSoundPath() {
  return plat::NSBundle::mainBundle()->pathForResource("HBRNotification.bundle/beep", "wav");
}

void HBRNotification::beep(const HBRInvokedUrlCommandPtr& command) {
  long count = beepCountOf(command->argumentAtIndex(0, 1));
  if (count > kHBRNotificationMaxBeeps) {
    plat::NSLogf("HBRNotification: beep count %ld is more than %ld; playing %ld.", count, kHBRNotificationMaxBeeps,
                 kHBRNotificationMaxBeeps);
    count = kHBRNotificationMaxBeeps;
  }
  playBeep(count);
}

void HBRNotification::playBeep(long count) {
  auto path = beepSoundPath();
  plat::SystemSoundID sound = 0;
  // The page hears nothing back from a beep, so a silent one is said here, with its cause.
  if (!path) {
    plat::NSLog("HBRNotification: beep: the application bundle has no HBRNotification.bundle/beep.wav; nothing plays.");
    return;
  }
  if (plat::AudioServicesCreateSystemSoundID(*path, &sound) != plat::kAudioServicesNoError) {
    plat::NSLog("HBRNotification: beep: " + plat::logEscaped(*path) +
                " is not a sound that can be played; nothing plays.");
    return;
  }
  // A count of one or less plays once; "count - 1" alone would wrap for the most negative count.
  const long remaining = count > 1 ? count - 1 : 0;
  plat::AudioServicesAddSystemSoundCompletion(sound, nullptr, &HBRNotification::beepDidComplete,
                                              reinterpret_cast<void*>(static_cast<std::intptr_t>(remaining)));
  plat::AudioServicesPlaySystemSound(sound);
}

void HBRNotification::beepDidComplete(plat::SystemSoundID soundID, void* remainingPlays) {
  auto remaining = static_cast<long>(reinterpret_cast<std::intptr_t>(remainingPlays));
  plat::AudioServicesRemoveSystemSoundCompletion(soundID);
  plat::AudioServicesDisposeSystemSoundID(soundID);
  if (remaining >= 1) playBeep(remaining);
}

}  // namespace harbor
