#include "support/RecordingWebViewEngine.h"

#include "plat/foundation/ClassRegistry.h"

namespace harbor::testing {

bool RecordingWebViewEngine::initSucceeds = true;
bool RecordingWebViewEngine::canLoad = true;

std::vector<std::weak_ptr<RecordingWebViewEngine>>& RecordingWebViewEngine::made() {
  static std::vector<std::weak_ptr<RecordingWebViewEngine>> engines;
  return engines;
}

void RecordingWebViewEngine::resetClass() {
  initSucceeds = true;
  canLoad = true;
  made().clear();
}

void RecordingWebViewEngine::registerAs(const std::string& className) {
  plat::ClassRegistry::shared().registerClass(className, [] {
    auto engine = std::make_shared<RecordingWebViewEngine>();
    made().push_back(engine);
    return std::static_pointer_cast<plat::Object>(engine);
  });
}

RecordingWebViewEngine::RecordingWebViewEngine() : view_(std::make_shared<plat::UIView>()) {}

bool RecordingWebViewEngine::initWithFrame(const plat::CGRect& rect) {
  frame = rect;
  view_->initWithFrame(rect);
  return initSucceeds;
}

bool RecordingWebViewEngine::canLoadRequest(const plat::NSURLRequestPtr& request) {
  canLoadQuestions.push_back(request);
  return request && canLoad;
}

plat::ObjectPtr RecordingWebViewEngine::loadRequest(const plat::NSURLRequestPtr& request) {
  requests.push_back(request);
  url_ = request ? request->URL() : nullptr;
  return nullptr;
}

plat::ObjectPtr RecordingWebViewEngine::loadHTMLString(const std::string& text, const plat::NSURLPtr&) {
  html.push_back(text);
  return nullptr;
}

void RecordingWebViewEngine::evaluateJavaScript(const std::string& script, EvaluationCompletion completion) {
  scripts.push_back(script);
  auto answer = answers.find(script);
  if (completion) completion(answer == answers.end() ? plat::Value() : answer->second, std::nullopt);
}

}  // namespace harbor::testing
