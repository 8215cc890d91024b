#pragma once
// Everything a plugin may ask of the container: resources, other plugins, delivering results and
// script to the page, background work, the user agent and the settings.
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "HBRPluginResult.h"
#include "plat/foundation/Object.h"
#include "plat/foundation/Value.h"

namespace harbor {

class HBRCommandDelegate {
 public:
  using UrlTransformer = std::function<std::string(const std::string& url)>;

  virtual ~HBRCommandDelegate() = default;

  // Main thread. The full path of a file under the www folder of the main bundle ("js/app.js"
  // is app.js in the folder js of www), or nothing; never a path outside the www folder.
  virtual std::optional<std::string> pathForResource(const std::string& resourcePath) = 0;
  // Main thread. The one object of a service, created on first use; may not be a plugin.
  virtual plat::ObjectPtr getCommandInstance(const std::string& pluginName) = 0;
  // Any thread. Delivers the result to the page callback of that id.
  virtual void sendPluginResult(const HBRPluginResultPtr& result, const std::optional<std::string>& callbackId) = 0;
  // Any thread. Evaluates script in the page on the main thread, on a later turn.
  virtual void evalJs(const std::string& js) = 0;
  // Any thread. With scheduled false the script runs at once on the calling thread.
  virtual void evalJsScheduledOnRunLoop(const std::string& js, bool scheduledOnRunLoop) = 0;
  // Any thread. Runs the block on the global queue of default priority.
  virtual void runInBackground(std::function<void()> block) = 0;
  virtual std::string userAgent() = 0;
  virtual const plat::Dictionary& settings() = 0;
  virtual UrlTransformer urlTransformer() = 0;
  virtual void setUrlTransformer(UrlTransformer transformer) = 0;
};

}  // namespace harbor
