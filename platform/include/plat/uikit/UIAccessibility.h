#pragma once
// Notifications to the screen reader. Nobody listens here: each post is recorded, in order, for
// tests and the runner.
//
// Threads: any.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace plat {

using UIAccessibilityNotifications = unsigned;
inline constexpr UIAccessibilityNotifications UIAccessibilityScreenChangedNotification = 1000;
inline constexpr UIAccessibilityNotifications UIAccessibilityLayoutChangedNotification = 1001;
inline constexpr UIAccessibilityNotifications UIAccessibilityAnnouncementNotification = 1008;

// What an element is, for the screen reader (bits, as the platform numbers them).
using UIAccessibilityTraits = std::uint64_t;
inline constexpr UIAccessibilityTraits UIAccessibilityTraitNone = 0;
inline constexpr UIAccessibilityTraits UIAccessibilityTraitButton = 1 << 0;
inline constexpr UIAccessibilityTraits UIAccessibilityTraitImage = 1 << 2;
inline constexpr UIAccessibilityTraits UIAccessibilityTraitStaticText = 1 << 6;
inline constexpr UIAccessibilityTraits UIAccessibilityTraitNotEnabled = 1 << 8;
inline constexpr UIAccessibilityTraits UIAccessibilityTraitUpdatesFrequently = 1 << 9;
inline constexpr UIAccessibilityTraits UIAccessibilityTraitStartsMediaSession = 1 << 10;

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
