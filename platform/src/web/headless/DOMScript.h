#pragma once
// The script that gives each document of the headless page engine its DOM stand-in.

namespace plat::web {

// A function expression: (function (native, options) { ...; return dom; }). Called once per
// document with the native hooks and the document's options; it installs window, document,
// location, navigator, console, timers, dialogs and events on the global object and returns the
// hooks through which the engine drives the document (ready states, timers, script and frame
// completions). The native hooks stay inside the closure, out of the page's reach.
const char* domScript();

}  // namespace plat::web
