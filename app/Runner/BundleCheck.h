#pragma once
// What the runner reads in a bundle before the application starts, so that a bundle that could
// not start says so at once and names the file to change: a config.xml that is not well-formed
// XML (the container would stop on it with an assertion failure that names no file), and a start
// page that loads the container's page script (harbor.js) from where the bundle has none, as the
// source folder of a sample has none until the build adds it.
#include <cstddef>
#include <optional>
#include <string>

#include "plat/foundation/Result.h"
#include "plat/foundation/Value.h"

namespace harbor::runner {

// The start page as config.xml names it, and the container's page script it loads.
struct BundleStart {
  std::string startPage = "index.html";  // <content src>, as written
  // The page script the start page loads (a script whose file is named "harbor.js"), as a path
  // in the bundle ("www/harbor.js"); nothing when it loads none, or when the start page is no
  // readable file of the bundle (a URL, missing: the container shows its error page then).
  std::optional<std::string> pageScript;
  bool pageScriptPresent = false;
  // The preference "ErrorUrl", as written: the page the container shows when the start page
  // fails.
  std::optional<std::string> errorPage;
};

// The start page's first bytes are read for its scripts, no more: script tags sit near its top,
// and a hostile start page may be of any size.
inline constexpr std::size_t kStartPageScanBytes = 1 << 20;

// Reads config.xml and the start page of the bundle (an absolute folder). Fails, naming the
// file, when config.xml is not well-formed:
//   "/path/config.xml is not well-formed XML (line 3, column 10: Opening and ending tag
//    mismatch: content line 2 and widget): correct the file"
// A config.xml that is no plain file, empty or over the container's limit is left to the
// container, whose refusal names it.
plat::Result<BundleStart> readBundleStart(const std::string& bundle);

// The identifier a bundle runs under: its Info.plist's CFBundleIdentifier as written (whether
// it can be used is bundleIdentifierProblem's to say), or, without one, the folder's name, with
// a line for the log that names what is assumed:
//   "/path/app/Info.plist is missing, so the bundle identifier is taken to be the folder's
//    name, "app", and none of Info.plist's keys is set (...); add an Info.plist with
//    CFBundleIdentifier"
struct BundleIdentity {
  std::string identifier;
  std::optional<std::string> assumed;
  // CFBundleIdentifier as Info.plist has it, for bundleIdentifierProblem (a number is no
  // identifier); absent when the folder's name stands for it.
  plat::Value written;
};

// Reads the Info.plist of the bundle (an absolute folder). Fails, naming the file and the keys
// it needs, when Info.plist is no plain file or no property list, and when there is none to
// give the identifier and the folder's name cannot stand for it ("my app_1").
plat::Result<BundleIdentity> readBundleIdentity(const std::string& bundle);

// When the start page loads a page script the bundle lacks: why the application cannot start,
// and what to run instead. A bundle of the same folder name beside the harbor executable's
// build (<build>/examples/<name>, for <build>/app/harbor) that has the script is named, relative
// to the current folder when it lies inside it:
//   "www/harbor.js is missing: run the built bundle, build/examples/hello"
// otherwise the message says where the script comes from. Nothing when the script is there or
// the start page loads none.
std::optional<std::string> missingPageScriptProblem(const std::string& bundle, const BundleStart& start,
                                                    const std::string& executable, const std::string& currentFolder);

}  // namespace harbor::runner
