#include "plat/avfoundation/MediaActivity.h"

#include <mutex>

namespace plat {
namespace {

struct State {
  std::mutex mutex;
  std::vector<MediaEvent> events;
  MediaActivity::Observer observer;
};

State& state() {
  static State s;
  return s;
}

}  // namespace

void MediaActivity::report(MediaEvent event) {
  MediaActivity::Observer observer;
  {
    std::lock_guard lock(state().mutex);
    state().events.push_back(event);
    observer = state().observer;
  }
  if (observer) observer(event);
}

std::vector<MediaEvent> MediaActivity::events() {
  std::lock_guard lock(state().mutex);
  return state().events;
}

void MediaActivity::setObserver(Observer observer) {
  std::lock_guard lock(state().mutex);
  state().observer = std::move(observer);
}

void MediaActivity::reset() {
  std::lock_guard lock(state().mutex);
  state().events.clear();
  state().observer = nullptr;
}

}  // namespace plat
