#pragma once
// A plugin that answers with what it is given, in every way a plugin can answer. It records
// the commands it receives and the threads its answers were sent from.
//
// Actions (arguments in brackets):
//   echo [value]                   OK with the value (bytes as an ArrayBuffer result)
//   echoMultiPart [parts...]       OK with a MultiPart of all arguments
//   respond [status, message, keep] the given status and message; keep-callback when keep
//   stream [count]                 count results 0..count-1 with keep-callback (at most
//                                  kMaxStream), then "done"
//   echoInBackground [value]       OK with the value, sent from the global queue
//   evalJs [script]                asks the delegate to evaluate the script in the page
//   record [...]                   records only; answers nothing
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

#include "HBRPlugin.h"

namespace harbor::testing {

class EchoPlugin : public HBRPlugin {
 public:
  static constexpr std::int64_t kMaxStream = 1000;

  void pluginInitialize() override;

  // Benchmarks and fuzz targets turn recording off so that memory stays flat.
  void setRecording(bool recording) { recording_ = recording; }
  std::vector<HBRInvokedUrlCommandPtr> commands() const;
  std::vector<std::thread::id> sendThreads() const;
  void clear();

 private:
  void remember(const HBRInvokedUrlCommandPtr& command);
  void send(const HBRPluginResultPtr& result, const HBRInvokedUrlCommandPtr& command);

  bool recording_ = true;
  mutable std::mutex mutex_;
  std::vector<HBRInvokedUrlCommandPtr> commands_;
  std::vector<std::thread::id> sendThreads_;
};

}  // namespace harbor::testing
