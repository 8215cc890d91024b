#pragma once
// GLib's main context, turned from the platform's run loop: WebKit reports through GLib on the
// main thread, so every wait of the WebKit engine turns GLib (and, where an answer comes from the
// platform's loop, that loop too).
#include "plat/dispatch/RunLoop.h"
#include "plat/web/JSContext.h"

namespace plat::web {

// Waits at most maxWait seconds for GLib's own events and dispatches them (none: only what is
// ready).
void dispatchGLib(double maxWait);
void wakeGLib();
double monotonicSeconds();

// Turns GLib (and the platform's loop while turnPlatform() says so) until done() or the bound;
// false when the bound or a stop request (JSContext::stopAllScripts) came first.
template <class Done, class TurnPlatform>
bool turnUntil(double seconds, Done done, TurnPlatform turnPlatform) {
  double deadline = monotonicSeconds() + seconds;
  while (!done()) {
    if (JSContext::scriptsStopped() || monotonicSeconds() >= deadline) return false;
    if (turnPlatform() && RunLoop::main().hasReadyWork()) {
      RunLoop::main().runOneTurn();
      dispatchGLib(0);
    } else {
      dispatchGLib(0.02);
    }
  }
  return true;
}

}  // namespace plat::web
