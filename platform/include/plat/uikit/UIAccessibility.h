#pragma once
// Notifications to the screen reader. Nobody listens here: each post is recorded, in order, for
// tests and the runner.
//
// Threads: any.
#include <optional>
#include <string>
#include <vector>

namespace plat {

using UIAccessibilityNotifications = unsigned;
inline constexpr UIAccessibilityNotifications UIAccessibilityScreenChangedNotification = 1000;
inline constexpr UIAccessibilityNotifications UIAccessibilityLayoutChangedNotification = 1001;
inline constexpr UIAccessibilityNotifications UIAccessibilityAnnouncementNotification = 1008;

// The argument is the text to speak for an announcement, else what to move to (unused here).
void UIAccessibilityPostNotification(UIAccessibilityNotifications notification, std::optional<std::string> argument);

struct UIAccessibilityPost {
  UIAccessibilityNotifications notification;
  std::optional<std::string> argument;
};

class UIAccessibilityRecorder {
 public:
  static std::vector<UIAccessibilityPost> posted();
  static void reset();
};

}  // namespace plat
