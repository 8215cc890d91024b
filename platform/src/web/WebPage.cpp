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

namespace {

// What a script or a call gave, as an evaluation.
WebPage::Evaluation evaluationOf(const Result<JSValue>& result, const JSException& exception) {
  WebPage::Evaluation evaluation;
  if (!result) {
    evaluation.exception = exception;
  } else if (result->isFunction()) {
    evaluation.unsupportedType = true;
  } else if (auto value = result->toValue()) {
    evaluation.value = std::move(*value);
  } else {
    evaluation.unsupportedType = true;
  }
  return evaluation;
}

}  // namespace

// The headless engine evaluates at once; the answer still comes on a later turn.
void WebPage::evaluateAsync(const std::string& script, EvaluationCompletion completion) {
  std::weak_ptr<WebPage> weak = std::static_pointer_cast<WebPage>(shared_from_this());
  RunLoop::main().post([weak, script, completion] {
    auto self = weak.lock();
    if (!self) {
      if (completion) completion(Evaluation::pageGone());
      return;
    }
    JSException exception;
    auto result = self->evaluate(script, &exception);
    if (completion) completion(evaluationOf(result, exception));
  });
}

// The headless engine makes the function each time: it has no compile to save.
void WebPage::callFunctionAsync(const std::string& body, const std::vector<FunctionArgument>& arguments,
                                EvaluationCompletion completion) {
  std::string source = "(function (";
  for (std::size_t i = 0; i < arguments.size(); ++i) source += (i ? ", " : "") + arguments[i].name;
  source += ") {\n" + body + "\n})";
  std::weak_ptr<WebPage> weak = std::static_pointer_cast<WebPage>(shared_from_this());
  RunLoop::main().post([weak, source = std::move(source), arguments, completion] {
    auto self = weak.lock();
    if (!self) {
      if (completion) completion(Evaluation::pageGone());
      return;
    }
    JSException exception;
    auto function = self->evaluate(source, &exception);
    if (!function) {
      if (completion) completion(evaluationOf(function, exception));
      return;
    }
    JSContext& context = self->context();
    JSValueList values;
    for (const FunctionArgument& argument : arguments) {
      auto value = context.parseJSON(argument.json);
      values.push_back(value ? *value : context.undefined());
    }
    auto result = function->call(values, JSValue(), &exception);
    if (completion) completion(evaluationOf(result, exception));
  });
}

}  // namespace plat::web
