#pragma once
// An engine without a page: it records the scripts it is asked to evaluate, and the thread each
// was evaluated on, and completes each at once. For driving the bridge where no script needs to
// run. Fuzz targets and benchmarks turn recording off so that memory stays flat.
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "HBRWebViewEngineProtocol.h"
#include "plat/foundation/Object.h"
#include "plat/foundation/Value.h"

namespace harbor::testing {

class ScriptRecordingEngine : public plat::Object, public HBRWebViewEngineProtocol {
 public:
  void evaluateJavaScript(const std::string& script, EvaluationCompletion completion) override;
  plat::ObjectPtr engineWebView() override { return view_; }

  std::vector<std::string> scripts;
  std::vector<std::thread::id> threads;  // where each recorded script was evaluated
  // The page's answer to a script; when unset, every completion gets nextResult.
  std::function<plat::Value(const std::string&)> respond;
  plat::Value nextResult;  // absent by default
  bool record = true;
  // The engine's view (a bare object unless a test gives it a real view).
  void setView(plat::ObjectPtr view) { view_ = std::move(view); }

 private:
  plat::ObjectPtr view_ = std::make_shared<plat::Object>();
};

}  // namespace harbor::testing
