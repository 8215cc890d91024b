#pragma once
// A web view engine that shows nothing and records what the container asks of it: its frame,
// the requests and HTML it is told to load, and the scripts it evaluates (each completes at
// once with the answer set for it, or no result). It is a plugin, as real engines are, so the view controller can create
// it by class name and register it. Its view is a plain UIView.
//
// Tests register it (or a subclass) under the default engine's class name "HBRUIWebViewEngine";
// the class-wide switches decide how the next engines answer initWithFrame and canLoadRequest.
// Main thread only.
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "HBRPlugin.h"
#include "HBRWebViewEngineProtocol.h"
#include "plat/foundation/NSURLRequest.h"
#include "plat/uikit/UIView.h"

namespace harbor::testing {

class RecordingWebViewEngine : public HBRPlugin, public HBRWebViewEngineProtocol {
 public:
  // What the next engines answer.
  static bool initSucceeds;
  static bool canLoad;
  // Every engine made since the last reset, oldest first.
  static std::vector<std::weak_ptr<RecordingWebViewEngine>>& made();
  static void resetClass();
  // Registers the class under a name (the default engine's by default).
  static void registerAs(const std::string& className = "HBRUIWebViewEngine");

  RecordingWebViewEngine();

  plat::ObjectPtr loadRequest(const plat::NSURLRequestPtr& request) override;
  plat::ObjectPtr loadHTMLString(const std::string& html, const plat::NSURLPtr& baseURL) override;
  void evaluateJavaScript(const std::string& script, EvaluationCompletion completion) override;
  plat::NSURLPtr URL() override { return url_; }
  bool canLoadRequest(const plat::NSURLRequestPtr& request) override;
  bool initWithFrame(const plat::CGRect& frame) override;
  void updateWithInfo(const HBRWebViewEngineInfo& info) override {}
  plat::ObjectPtr engineWebView() override { return view_; }

  std::shared_ptr<plat::UIView> view() const { return view_; }
  plat::CGRect frame;
  std::vector<plat::NSURLRequestPtr> requests;
  std::vector<std::string> html;
  std::vector<std::string> scripts;
  // What an evaluation of the script answers; scripts not listed answer nothing.
  std::map<std::string, plat::Value> answers;
  std::vector<plat::NSURLRequestPtr> canLoadQuestions;
  int pluginInitializeCount = 0;
  void pluginInitialize() override { ++pluginInitializeCount; }

 private:
  std::shared_ptr<plat::UIView> view_;
  plat::NSURLPtr url_;
};

}  // namespace harbor::testing
