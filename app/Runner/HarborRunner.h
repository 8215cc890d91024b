#pragma once
// The `harbor` command: runs an application bundle folder (Info.plist, config.xml, www/)
// headless, as the application's main entry would on a device, and prints the log to standard
// error. It stops with the application's terminate notification on SIGINT or SIGTERM, after the
// run time, or once a chosen text appears in the log, and then exits with 0.
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "plat/foundation/Result.h"

namespace harbor::runner {

struct Options {
  std::string bundle;                         // the application bundle folder
  std::optional<std::string> home;            // the sandbox home
  std::optional<double> runSeconds;           // stop after this long
  std::optional<std::string> until;           // stop once a log line contains this
  std::optional<std::string> engine;          // web view engine class (preference HarborWebViewEngine)
  std::optional<std::string> model;           // simulated device model
  std::optional<std::string> systemVersion;   // simulated system version
  std::optional<std::string> locale;          // simulated locale identifier
  bool help = false;
};

// What `harbor --help` prints.
std::string usage();

// Reads the arguments after the program name. An error names the offending argument.
plat::Result<Options> parseOptions(const std::vector<std::string>& arguments);

// The default sandbox home of an application: "$XDG_DATA_HOME/harbor/<id>" when XDG_DATA_HOME
// is an absolute path, else "$HOME/.local/share/harbor/<id>". The identifier is made safe to
// use as one folder name (characters other than letters, digits, ".", "_" and "-" become "_";
// "", "." and ".." become "_"). Nothing when neither variable gives a folder.
std::optional<std::string> defaultHome(const std::string& bundleIdentifier,
                                       const std::function<const char*(const char*)>& getenv);
std::string safeFolderName(const std::string& name);

// The whole command; returns the process's exit code (0 after a clean stop, 1 when the
// application cannot start, 2 for bad arguments).
int run(int argc, char** argv);

}  // namespace harbor::runner
