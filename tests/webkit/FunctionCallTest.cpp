// A call of a page's function with values given as JSON (WKWebView::callJavaScriptFunction),
// under both page engines: what the function is given and what comes back, and its order among
// evaluations.
#include "WebKitFixture.h"
#include "plat/uikit/UIWebView.h"
#include "plat/testing/ScriptMessageCases.h"

namespace {

using harbor::testing::backendName;
using harbor::testing::kPatience;
using harbor::testing::RecordedWKWebView;
using harbor::testing::WebKitEngineTest;
using plat::testing::describeTyped;

constexpr auto kBothEngines = {plat::web::Backend::WebKit, plat::web::Backend::Headless};

// What a call answered: the value (described) or the error's code and exception message.
struct Answer {
  std::string value;
  long code = 0;
  std::string exception;
};

Answer call(plat::WKWebView& view, const std::string& body, const std::vector<plat::web::FunctionArgument>& arguments) {
  std::optional<Answer> answer;
  view.callJavaScriptFunction(body, arguments, [&](const plat::Value& value, const std::optional<plat::NSError>& error) {
    Answer a;
    if (error) {
      a.code = error->code;
      a.exception = error->userInfo[plat::WKJavaScriptExceptionMessageErrorKey].stringOr();
    } else {
      a.value = describeTyped(value);
    }
    answer = a;
  });
  EXPECT_TRUE(plat::web::turnMainLoopUntil([&] { return answer.has_value(); }, kPatience)) << body;
  return answer.value_or(Answer{"(no answer)", 0, ""});
}

TEST_F(WebKitEngineTest, AFunctionGetsItsArgumentsAsJSONReadsThemAndGivesItsResultBack) {
  struct Case {
    const char* body;
    std::vector<plat::web::FunctionArgument> arguments;
    std::string value;  // described, when the call answers with a value
    long code = 0;      // otherwise the error's
  };
  const std::string megabyte(1 << 20, 'm');
  const std::vector<Case> cases = {
      {"return [a, b, typeof c];", {{"a", "1.5"}, {"b", "\"x\\u00e9\""}, {"c", "null"}}, "[d1.5,'x\\xc3\\xa9','object']"},
      // Keys in the order the text gives them; "__proto__" is a key like any other, as JSON.parse
      // reads it (in a script literal it would set the prototype instead).
      {"return Object.keys(o).join() + ' ' + (Object.getPrototypeOf(o) === Object.prototype) + ' ' + o.__proto__.x;",
       {{"o", "{\"b\": 1, \"a\": 2, \"__proto__\": {\"x\": 3}}"}},
       "'b,a,__proto__ true 3'"},
      {"return s.length;", {{"s", "\"" + megabyte + "\""}}, "i1048576"},
      {"return [n, m];", {{"n", "not JSON"}, {"m", "[1]"}}, "[null,[i1]]"},  // unreadable: undefined
      {"return {nested: [true, {deep: 'er'}]};", {}, "{nested:[true,{deep:'er'}]}"},
      {"return undefined;", {}, "absent"},
      {"return function () {};", {}, "", plat::WKErrorJavaScriptResultTypeIsUnsupported},
      {"return new Array(5000000).fill(0);", {}, "", plat::WKErrorJavaScriptResultTypeIsUnsupported},
      {"throw new TypeError('no such thing');", {}, "", plat::WKErrorJavaScriptExceptionOccurred},
      {"this is not a function body", {}, "", plat::WKErrorJavaScriptExceptionOccurred},
  };
  for (auto backend : kBothEngines) {
    SCOPED_TRACE(backendName(backend));
    plat::web::setBackend(backend);
    RecordedWKWebView loaded("<!doctype html><script>window.webkit.messageHandlers.harbor.postMessage('loaded');</script>");
    ASSERT_TRUE(plat::web::turnMainLoopUntil([&] { return !loaded.recorder->bodies.empty(); }, kPatience));
    for (const Case& c : cases) {
      Answer answer = call(*loaded.view, c.body, c.arguments);
      EXPECT_EQ(answer.value, c.value) << c.body;
      EXPECT_EQ(answer.code, c.code) << c.body;
      if (c.code == plat::WKErrorJavaScriptExceptionOccurred && std::string(c.body).rfind("throw", 0) == 0) {
        EXPECT_NE(answer.exception.find("no such thing"), std::string::npos) << answer.exception;
      }
    }
  }
  plat::web::setBackend(plat::web::Backend::WebKit);
}

// What an evaluation gives back is the same under both engines, through WKWebView's asynchronous
// evaluation and UIWebView's text: numbers JSON cannot write (NaN, the infinities), negative
// zero, text holding NUL, nested values, dates; what has no value form is refused alike.
TEST_F(WebKitEngineTest, AnEvaluationGivesTheSameResultUnderBothEngines) {
  struct Case {
    const char* script;
    std::string value;  // described, when the evaluation answers with a value
    long code = 0;      // otherwise the error's
    std::optional<std::string> text;  // what UIWebView's evaluation gives, where the engines agree
  };
  const std::vector<Case> cases = {
      {"6 * 7", "i42", 0, "42"},
      {"0.5", "d0.5", 0, "0.5"},
      {"0 / 0", "dNaN", 0, "NaN"},
      {"-1 / 0", "d-inf", 0, "-Infinity"},
      {"-0", "d-0", 0, "0"},
      {"'a\\u0000b'", "'a\\x00b'", 0, std::string("a\0b", 3)},
      {"({a: [1, 'two', null, true], b: {c: 2.5}})", "{a:[i1,'two',null,true],b:{c:d2.5}}", 0, "[object Object]"},
      {"new Date(0)", "'1970-01-01T00:00:00.000Z'", 0, std::nullopt},
      {"undefined", "absent", 0, ""},
      {"(function () {})", "", plat::WKErrorJavaScriptResultTypeIsUnsupported, std::nullopt},
      {"document.documentElement", "", plat::WKErrorJavaScriptResultTypeIsUnsupported, std::nullopt},
      {"throw new TypeError('no such thing')", "", plat::WKErrorJavaScriptExceptionOccurred, ""},
  };
  for (auto backend : kBothEngines) {
    SCOPED_TRACE(backendName(backend));
    plat::web::setBackend(backend);
    RecordedWKWebView loaded("<!doctype html><script>window.webkit.messageHandlers.harbor.postMessage('loaded');</script>");
    ASSERT_TRUE(plat::web::turnMainLoopUntil([&] { return !loaded.recorder->bodies.empty(); }, kPatience));
    auto text = std::make_shared<plat::UIWebView>();
    text->init();
    text->loadHTMLString("<!doctype html><title>ready</title>", nullptr);
    ASSERT_TRUE(plat::web::turnMainLoopUntil([&] { return text->page()->title() == "ready"; }, kPatience));
    for (const Case& c : cases) {
      std::optional<Answer> answer;
      loaded.view->evaluateJavaScript(c.script, [&](const plat::Value& value, const std::optional<plat::NSError>& error) {
        answer = error ? Answer{"", error->code, ""} : Answer{describeTyped(value), 0, ""};
      });
      ASSERT_TRUE(plat::web::turnMainLoopUntil([&] { return answer.has_value(); }, kPatience)) << c.script;
      EXPECT_EQ(answer->value, c.value) << c.script;
      EXPECT_EQ(answer->code, c.code) << c.script;
      if (c.text) {
        EXPECT_EQ(text->stringByEvaluatingJavaScriptFromString(c.script), *c.text) << c.script;
      }
    }
  }
  plat::web::setBackend(plat::web::Backend::WebKit);
}

// Calls and evaluations reach the page in the order they were made, and a call reaches the
// document on show, not the one its function was first made in.
TEST_F(WebKitEngineTest, CallsAndEvaluationsKeepTheirOrderAcrossDocuments) {
  const std::string push = "seen.push(value); return seen.length;";
  for (auto backend : kBothEngines) {
    SCOPED_TRACE(backendName(backend));
    plat::web::setBackend(backend);
    RecordedWKWebView loaded("<!doctype html><script>var seen = [];"
                             "window.webkit.messageHandlers.harbor.postMessage('loaded');</script>");
    ASSERT_TRUE(plat::web::turnMainLoopUntil([&] { return !loaded.recorder->bodies.empty(); }, kPatience));
    for (int i = 0; i < 300; ++i) {
      if (i % 3 == 0)
        loaded.view->evaluateJavaScript("seen.push(" + std::to_string(i) + ")", nullptr);
      else
        loaded.view->callJavaScriptFunction(push, {{"value", std::to_string(i)}}, nullptr);
    }
    Answer order = call(*loaded.view, "for (var i = 0; i < seen.length; i++) if (seen[i] !== i) return 'out of order at ' + i;"
                                      "return seen.length;", {});
    EXPECT_EQ(order.value, "i300");

    loaded.view->loadHTMLString("<!doctype html><script>var seen = ['new'];"
                                "window.webkit.messageHandlers.harbor.postMessage('again');</script>", nullptr);
    ASSERT_TRUE(plat::web::turnMainLoopUntil([&] { return loaded.recorder->bodies.size() >= 2; }, kPatience));
    EXPECT_EQ(call(*loaded.view, push, {{"value", "1"}}).value, "i2");
  }
  plat::web::setBackend(plat::web::Backend::WebKit);
}

// A page that forbids eval still gets its calls: they are the container's, not the page's.
TEST_F(WebKitEngineTest, APageThatForbidsEvalStillGetsItsCalls) {
  for (auto backend : kBothEngines) {
    SCOPED_TRACE(backendName(backend));
    plat::web::setBackend(backend);
    RecordedWKWebView loaded("<!doctype html><meta http-equiv=\"Content-Security-Policy\" "
                             "content=\"script-src 'unsafe-inline'\"><script>var evalRefused = false;"
                             "try { eval('1'); } catch (e) { evalRefused = true; }"
                             "window.webkit.messageHandlers.harbor.postMessage('loaded');</script>");
    ASSERT_TRUE(plat::web::turnMainLoopUntil([&] { return !loaded.recorder->bodies.empty(); }, kPatience));
    EXPECT_EQ(call(*loaded.view, "return value;", {{"value", "7"}}).value, "i7");
    if (backend == plat::web::Backend::WebKit) {  // the headless engine keeps no such policy
      EXPECT_EQ(call(*loaded.view, "return evalRefused;", {}).value, "true") << "the page's policy holds";
    }
  }
  plat::web::setBackend(plat::web::Backend::WebKit);
}

}  // namespace
