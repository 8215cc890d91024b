#include "plat/uikit/UIApplication.h"

#include <vector>

namespace plat {
namespace {
std::mutex& appMutex() {
  static std::mutex m;
  return m;
}
UIApplicationPtr& shared() {
  static UIApplicationPtr* app = new UIApplicationPtr(std::make_shared<UIApplication>());
  return *app;
}
}  // namespace

UIApplicationPtr UIApplication::sharedApplication() {
  std::lock_guard<std::mutex> lock(appMutex());
  return shared();
}

void UIApplication::resetSharedApplication() {
  std::lock_guard<std::mutex> lock(appMutex());
  shared() = std::make_shared<UIApplication>();
}

UIBackgroundTaskIdentifier UIApplication::beginBackgroundTaskWithExpirationHandler(std::function<void()> handler) {
  std::lock_guard<std::mutex> lock(mutex_);
  UIBackgroundTaskIdentifier id = nextIdentifier_++;
  tasks_.emplace(id, std::move(handler));
  return id;
}

void UIApplication::endBackgroundTask(UIBackgroundTaskIdentifier identifier) {
  std::function<void()> handler;  // destroyed outside the lock: it may hold the caller's state
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = tasks_.find(identifier);
  if (it == tasks_.end()) return;
  handler = std::move(it->second);
  tasks_.erase(it);
}

std::size_t UIApplication::backgroundTaskCount() {
  std::lock_guard<std::mutex> lock(mutex_);
  return tasks_.size();
}

std::size_t UIApplication::expireBackgroundTasks() {
  std::vector<std::function<void()>> handlers;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const auto& [id, handler] : tasks_) handlers.push_back(handler);
  }
  for (auto& handler : handlers)
    if (handler) handler();
  return handlers.size();
}

}  // namespace plat
