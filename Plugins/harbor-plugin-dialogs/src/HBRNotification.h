#pragma once
// Native dialogs for the page: alert, confirm and prompt, answered with the 1-based index of the
// pressed button (and, for prompts, the entered text); and a beep.
//
// Dialogs are alert controllers presented over whatever the container shows on top. One
// process-wide queue orders the presentations: each dialog is presented once the one before it
// has finished appearing, over it, so several may stand stacked, the latest on top. Where alert
// controllers do not exist, the legacy alert view (HBRAlertView) carries the callback id instead.
//
// Page actions (main thread; every answer is OK, keep-callback off, to the command's callback):
//   alert   [message, title, buttonLabel]              -> button index + 1
//   confirm [message, title, [buttonLabels]]           -> button index + 1
//   prompt  [message, title, [buttonLabels], default]  -> {"buttonIndex": index + 1, "input1": text or null}
//   beep    [count = 1]                                -> no answer; the beep plays count times in a row
//                                                         (at most kHBRNotificationMaxBeeps, logged beyond);
//                                                         without its sound (HBRNotification.bundle/beep.wav
//                                                         in the application bundle) the log says why none plays
//
// A dialog always has a button: a missing label, or an empty list of labels, gives "OK". A dialog
// that cannot be presented (no view controller, or the presentation is refused) is logged and
// dropped, so later dialogs still appear.
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "HBRPlugin.h"
#include "plat/audiotoolbox/AudioServices.h"
#include "plat/uikit/UIAlertController.h"
#include "plat/uikit/UIAlertView.h"

namespace harbor {

inline constexpr char kHBRDialogTypeAlert[] = "alert";
inline constexpr char kHBRDialogTypePrompt[] = "prompt";
inline constexpr char kHBRNotificationDefaultButtonLabel[] = "OK";
// The most beeps one call plays: a page's beep(1e300) would otherwise sound until the process ends.
inline constexpr long kHBRNotificationMaxBeeps = 10;

// The legacy alert view that remembers which page callback it answers.
class HBRAlertView : public plat::UIAlertView {
 public:
  const std::optional<std::string>& callbackId() const { return callbackId_; }
  void setCallbackId(std::optional<std::string> callbackId) { callbackId_ = std::move(callbackId); }

 private:
  std::optional<std::string> callbackId_;
};

class HBRNotification : public HBRPlugin, public plat::UIAlertViewDelegate {
 public:
  HBRNotification();

  void alert(const HBRInvokedUrlCommandPtr& command);
  void confirm(const HBRInvokedUrlCommandPtr& command);
  void prompt(const HBRInvokedUrlCommandPtr& command);
  void beep(const HBRInvokedUrlCommandPtr& command);

  // Builds one dialog and shows it (queued behind the presentations before it).
  void showDialogWithMessage(const std::optional<std::string>& message, const std::optional<std::string>& title,
                             const std::vector<std::string>& buttons, const std::optional<std::string>& defaultText,
                             const std::optional<std::string>& callbackId, const std::string& dialogType);

  // The answer of the legacy path.
  void alertViewClickedButtonAtIndex(plat::UIAlertView& alertView, std::int64_t buttonIndex) override;

  // From the plugin's view controller up the chain of presented controllers, stopping below one
  // that is being dismissed; null without a view controller.
  std::shared_ptr<plat::UIViewController> getTopPresentedViewController() const;

  // Presents the first dialog of the process-wide queue, dropping (and logging) those that
  // cannot be presented.
  static void presentAlertcontroller();
  // The dialogs waiting in the queue, the one being presented included.
  static std::size_t alertQueueCount();
  // Test surface: forgets every queued dialog.
  static void resetAlertQueue();

  // The beep sound file in the main bundle ("HBRNotification.bundle/beep.wav"), or nothing.
  static std::optional<std::string> beepSoundPath();

 private:
  struct QueuedAlert {
    std::shared_ptr<plat::UIAlertController> controller;
    std::weak_ptr<HBRNotification> plugin;
  };
  static std::deque<QueuedAlert>& alertQueue();
  static void playBeep(long count);
  static void beepDidComplete(plat::SystemSoundID soundID, void* remainingPlays);

  void sendAnswer(const std::optional<std::string>& callbackId, std::int64_t buttonIndex, bool isPrompt,
                  const std::optional<std::string>& text);
};

}  // namespace harbor
