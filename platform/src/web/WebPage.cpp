#include "plat/web/WebPage.h"

#include <atomic>

#include "webkit/WebKitPage.h"
#include "plat/dispatch/RunLoop.h"
#include "plat/web/HeadlessWebPage.h"

namespace plat::web {
namespace {

std::atomic<Backend> gBackend{Backend::Headless};

}  // namespace

void setBackend(Backend backend) { gBackend.store(backend); }

Backend backend() { return gBackend.load(); }

std::shared_ptr<WebPage> makeWebPage() {
  if (backend() == Backend::WebKit) {
    if (auto page = makeWebKitPage()) return page;
  }
  return std::make_shared<HeadlessWebPage>();
}

// The headless engine evaluates at once; the answer still comes on a later turn.
void WebPage::evaluateAsync(const std::string& script, EvaluationCompletion completion) {
  std::weak_ptr<WebPage> weak = std::static_pointer_cast<WebPage>(shared_from_this());
  RunLoop::main().post([weak, script, completion] {
    auto self = weak.lock();
    Evaluation evaluation;
    if (!self) {
      evaluation.invalidated = true;
      if (completion) completion(evaluation);
      return;
    }
    JSException exception;
    auto result = self->evaluate(script, &exception);
    if (!completion) return;
    if (!result) {
      evaluation.exception = exception;
    } else if (result->isFunction()) {
      evaluation.unsupportedType = true;
    } else if (auto value = result->toValue()) {
      evaluation.value = std::move(*value);
    } else {
      evaluation.unsupportedType = true;
    }
    completion(evaluation);
  });
}

}  // namespace plat::web
