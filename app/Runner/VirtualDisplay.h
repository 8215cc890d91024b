#pragma once
// The runner's private virtual display: when WebKit is to show the page and the session has no
// display (neither DISPLAY nor WAYLAND_DISPLAY), the runner starts an Xvfb server of its own for
// the run, as web test runners do, and stops it when it exits.
//
// The server picks a free display number itself and reports it through -displayfd, so two
// runners never race for one number. Access needs a cookie kept in a private folder (mode 0700),
// written before the server starts: one wildcard entry (any address, any display number) that
// the server loads as its authority and clients find through XAUTHORITY. The server runs in a
// process group of its own, so a Ctrl-C at the terminal reaches the runner (which stops the
// application first) and not the display under it, and it is told to die with the runner
// (PR_SET_PDEATHSIG), so even a runner killed outright never leaves one behind.
#include <sys/types.h>

#include <mutex>
#include <string>

#include "plat/foundation/Result.h"

namespace harbor::runner {

class VirtualDisplay {
 public:
  VirtualDisplay() = default;
  VirtualDisplay(const VirtualDisplay&) = delete;
  VirtualDisplay& operator=(const VirtualDisplay&) = delete;
  ~VirtualDisplay() { stop(); }

  // Starts `server` (an Xvfb executable, looked up in PATH when it has no "/") with one screen of
  // width x height pixels, waits (at most timeoutSeconds) until it accepts connections, and
  // points DISPLAY and XAUTHORITY of this process at it (WAYLAND_DISPLAY is removed), so that
  // the toolkit and WebKit's own processes use it. The private folder is made under TMPDIR
  // (else /tmp). A failure says why, with the server's last words when it said any, and leaves
  // nothing running or behind.
  plat::Result<std::string> start(int width, int height, const std::string& server = "Xvfb",
                                  double timeoutSeconds = 30);

  // Stops the server (SIGTERM, then SIGKILL if it lingers) and removes the private folder.
  // Safe to call more than once, and from any thread (the runner's last-resort exit paths).
  void stop();

  bool running() const { return pid_ > 0; }
  // ":N" once started.
  const std::string& name() const { return name_; }
  pid_t pid() const { return pid_; }

 private:
  std::mutex stopping_;
  pid_t pid_ = -1;
  std::string name_;
  std::string folder_;
};

// Whether the session already has a display the toolkit can use.
bool hasDisplay();

// The screen's size for a private display: the simulated screen's size in points, raised to at
// least 320x240 (Xvfb refuses tiny screens; the window needs room), each side at most 8192.
void privateScreenSize(double width, double height, int& outWidth, int& outHeight);

}  // namespace harbor::runner
