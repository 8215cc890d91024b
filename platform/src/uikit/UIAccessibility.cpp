#include "plat/uikit/UIAccessibility.h"

#include <mutex>

namespace plat {
namespace {

std::mutex postsMutex;
std::vector<UIAccessibilityPost> posts;

}  // namespace

void UIAccessibilityPostNotification(UIAccessibilityNotifications notification, std::optional<std::string> argument) {
  std::lock_guard lock(postsMutex);
  posts.push_back({notification, std::move(argument)});
}

std::vector<UIAccessibilityPost> UIAccessibilityRecorder::posted() {
  std::lock_guard lock(postsMutex);
  return posts;
}

void UIAccessibilityRecorder::reset() {
  std::lock_guard lock(postsMutex);
  posts.clear();
}

}  // namespace plat
