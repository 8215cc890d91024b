#pragma once
// Finds config.xml and runs a parser delegate over it: the two steps of reading the
// configuration that the container view controller performs when its view loads (and that the
// navigation filter repeats with a delegate of its own). The controller owns one loader and
// offers its configFile and configParser.
//
// A configuration that cannot be found is an assertion failure: the container cannot start
// without it. Main thread.
#include <cstdint>
#include <memory>
#include <string>

#include "plat/foundation/NSBundle.h"
#include "plat/foundation/NSXMLParser.h"

namespace harbor {

class HBRConfigLoader {
 public:
  static constexpr char kDefaultConfigFile[] = "config.xml";
  // Real configurations are a few kilobytes; the file is read whole before it is parsed.
  static constexpr std::uint64_t kMaxConfigFileBytes = std::uint64_t{4} << 20;

  // A file name looked up in the bundle, or an absolute path; empty means "config.xml".
  void setConfigFile(std::string configFile) { configFile_ = std::move(configFile); }
  const std::string& configFile() const { return configFile_; }
  // The bundle to look in; the main bundle when unset.
  void setBundle(plat::NSBundlePtr bundle) { bundle_ = std::move(bundle); }

  // The full path of the configuration file. A name that the bundle does not hold fails with
  // "ERROR: %@ not found in the main bundle!"; a path where no file exists fails with
  // "ERROR: %@ does not exist. Please run harbor-ios/bin/harbor_plist_to_config_xml path/to/project.".
  std::string configFilePath() const;

  // Parses the file synchronously with the delegate (held weakly by the parser: the caller
  // keeps it). A path that is no plain file (a folder, a pipe, a link to a device), an empty
  // file and one over kMaxConfigFileBytes fail at once, unread, with the reason. When the file
  // cannot be read into a parser, logs "Failed to initialize XML parser." and parses nothing.
  void parseSettingsWithParser(const std::shared_ptr<plat::NSXMLParserDelegate>& delegate);

  // The parser of the last parse.
  const std::shared_ptr<plat::NSXMLParser>& configParser() const { return configParser_; }

 private:
  std::string configFile_;
  plat::NSBundlePtr bundle_;
  std::shared_ptr<plat::NSXMLParser> configParser_;
};

}  // namespace harbor
