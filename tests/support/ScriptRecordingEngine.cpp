#include "support/ScriptRecordingEngine.h"

namespace harbor::testing {

void ScriptRecordingEngine::evaluateJavaScript(const std::string& script, EvaluationCompletion completion) {
  if (record) {
    scripts.push_back(script);
    threads.push_back(std::this_thread::get_id());
  }
  plat::Value result = respond ? respond(script) : nextResult;
  if (completion) completion(result, std::nullopt);
}

}  // namespace harbor::testing
