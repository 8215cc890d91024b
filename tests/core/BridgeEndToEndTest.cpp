// Page to plugin and back: harbor.js in JavaScriptCore, the command queue, the command delegate
// and a plugin, driven through the fake engine in both bridge modes.
#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <sstream>
#include <thread>

#include "HBRCommandQueue.h"
#include "plat/dispatch/RunLoop.h"
#include "plat/foundation/Strings.h"
#include "plat/testing/PlatformTest.h"
#include "support/EchoPlugin.h"
#include "support/FakeWebViewEngine.h"
#include "support/StubBridgeController.h"

namespace plat {
[[maybe_unused]] static void PrintTo(const Value& v, std::ostream* os) { *os << v.description(); }
}  // namespace plat

namespace harbor::testing {
namespace {

using plat::Array;
using plat::Data;
using plat::Dictionary;
using plat::Value;
using Mode = FakeWebViewEngine::BridgeMode;

// Page helpers: every callback appends {tag, ok, args} to `log`.
const char* kPageHelpers = R"JS(
var log = [];
function ok(tag) { return function () { log.push({tag: tag, ok: true, args: Array.prototype.slice.call(arguments)}); }; }
function bad(tag) { return function () { log.push({tag: tag, ok: false, args: Array.prototype.slice.call(arguments)}); }; }
function call(action, args, tag) { harbor.exec(ok(tag), bad(tag), 'Echo', action, args); }
var execModule = harbor.require('harbor/exec');
)JS";

Value entry(const char* tag, bool ok, Array args) {
  return Value(Dictionary{{"tag", tag}, {"ok", ok}, {"args", std::move(args)}});
}

class BridgeTest : public plat::testing::PlatformTest {
 protected:
  void startBridge(Mode mode) {
    engine = std::make_shared<FakeWebViewEngine>();
    auto loaded = engine->initWithBridgeMode(mode);
    ASSERT_TRUE(loaded.ok()) << loaded.error();
    controller = std::make_shared<StubBridgeController>();
    controller->initWithWebViewEngine(engine);
    engine->setBridgeController(controller);
    echo = controller->addPlugin<EchoPlugin>("Echo");
    page(kPageHelpers);
  }

  // Runs page script; a script error fails the test.
  Value page(const std::string& script) {
    auto result = engine->runPageScript(script);
    EXPECT_TRUE(result.ok()) << script << "\n" << (result ? "" : result.error());
    return result ? *result : Value();
  }

  Value pageLog() { return page("log"); }
  std::size_t logSize() { return page("log.length").asInt(); }

  // Pumps the main loop until done() holds, waiting (bounded) for posts from worker threads.
  bool pumpUntil(const std::function<bool()>& done) {
    runUntilIdle();
    while (!done())
      if (!waitForMain(5)) return false;
    return true;
  }

  std::size_t callbackScriptCount() {
    std::size_t n = 0;
    for (const auto& s : engine->evaluatedScripts())
      if (s.find("nativeCallback(") != std::string::npos) ++n;
    return n;
  }

  std::shared_ptr<FakeWebViewEngine> engine;
  std::shared_ptr<StubBridgeController> controller;
  std::shared_ptr<EchoPlugin> echo;
};

class BridgeRoundTrip : public BridgeTest, public ::testing::WithParamInterface<Mode> {
 protected:
  void SetUp() override {
    BridgeTest::SetUp();
    startBridge(GetParam());
  }
};

std::string modeName(const ::testing::TestParamInfo<Mode>& info) {
  return info.param == Mode::Iframe ? "Iframe" : "MessageHandler";
}

TEST_P(BridgeRoundTrip, ValuesReachThePluginAndComeBackUnchanged) {
  // Each value goes page -> plugin -> page inside script literals; none may run as code or be
  // altered on the way.
  struct Case {
    const char* literal;
    Value expected;
  };
  const Case cases[] = {
      {"'text'", Value("text")},
      {"42", Value(42)},
      {"-1.5", Value(-1.5)},
      {"true", Value(true)},
      {"null", Value::null()},
      {"{a: [1, 'b'], z: {}}", Value(Dictionary{{"a", Array{1, "b"}}, {"z", Dictionary{}}})},
      {"[1, [2, [3]]]", Value(Array{1, Array{2, Array{3}}})},
      {"'h\\u00e9 \\ud83d\\ude00'", Value("h\xC3\xA9 \xF0\x9F\x98\x80")},
      {"'quote \\' double \" backslash \\\\ newline \\n tab \\t'", Value("quote ' double \" backslash \\ newline \n tab \t")},
      {"'\\u2028\\u2029 line separators'", Value("\xE2\x80\xA8\xE2\x80\xA9 line separators")},
      {"\"'); log.push('injected'); ('\"", Value("'); log.push('injected'); ('")},
      {"'</script><script>log.push(1)</script>'", Value("</script><script>log.push(1)</script>")},
      {"'\\u0000 nul'", Value(std::string("\0 nul", 5))},
  };
  int i = 0;
  for (const Case& c : cases) {
    page("log = []; call('echo', [" + std::string(c.literal) + "], 't');");
    ASSERT_TRUE(pumpUntil([&] { return logSize() >= 1; })) << c.literal;
    EXPECT_EQ(pageLog(), Value(Array{entry("t", true, Array{c.expected})})) << c.literal;
    ASSERT_EQ(echo->commands().size(), static_cast<std::size_t>(++i));
    const Value& received = echo->commands().back()->argumentAtIndex(0);
    EXPECT_EQ(received.isAbsent() ? Value::null() : received, c.expected) << c.literal;
  }
}

TEST_P(BridgeRoundTrip, ArrayBuffersTravelAsBytesBothWays) {
  struct Case {
    const char* literal;
    Data bytes;
  };
  const Case cases[] = {
      {"new Uint8Array([0, 1, 255]).buffer", Data{0, 1, 255}},
      {"new Uint8Array([0, 1, 255])", Data{0, 1, 255}},
      {"new Uint8Array(new Uint8Array([9, 8, 7, 6]).buffer, 1, 2)", Data{8, 7}},
      {"new ArrayBuffer(0)", Data{}},
      {"new Uint8Array([1, 2, 3, 4, 5]).buffer", Data{1, 2, 3, 4, 5}},
  };
  for (const Case& c : cases) {
    echo->clear();
    page(std::string("log = []; call('echo', [") + c.literal + "], 'bin');");
    ASSERT_TRUE(pumpUntil([&] { return logSize() >= 1; })) << c.literal;
    ASSERT_EQ(echo->commands().size(), 1u);
    EXPECT_EQ(echo->commands()[0]->argumentAtIndex(0), Value(c.bytes)) << "the plugin gets bytes: " << c.literal;
    EXPECT_EQ(page("log[0].args[0] instanceof ArrayBuffer"), Value(true)) << c.literal;
    EXPECT_EQ(pageLog(), Value(Array{entry("bin", true, Array{c.bytes})})) << c.literal;
  }
}

TEST_P(BridgeRoundTrip, LargeBinaryPayloadsSurviveTheBackgroundParse) {
  // 30000 bytes are 40000 Base64 characters: far past the size parsed off the main thread.
  page("var big = new Uint8Array(30000); for (var i = 0; i < big.length; i++) big[i] = (i * 7) & 255;"
       "call('echo', [big], 'big');");
  ASSERT_TRUE(pumpUntil([&] { return logSize() >= 1; }));
  EXPECT_EQ(page("var r = new Uint8Array(log[0].args[0]); var same = r.length === big.length;"
                 "for (var i = 0; same && i < r.length; i++) same = r[i] === big[i]; same"),
            Value(true));
  Data expected(30000);
  for (std::size_t i = 0; i < expected.size(); ++i) expected[i] = static_cast<std::uint8_t>((i * 7) & 255);
  EXPECT_EQ(echo->commands().at(0)->argumentAtIndex(0), Value(expected));
}

TEST_P(BridgeRoundTrip, MultiPartResultsArriveAsSeparateArguments) {
  page("call('echoMultiPart', [new Uint8Array([1, 2]), 'x', 3, [4]], 'mp');");
  ASSERT_TRUE(pumpUntil([&] { return logSize() >= 1; }));
  EXPECT_EQ(pageLog(), Value(Array{entry("mp", true, Array{Data{1, 2}, "x", 3, Array{4}})}));
  EXPECT_EQ(page("log[0].args[0] instanceof ArrayBuffer"), Value(true));
}

TEST_P(BridgeRoundTrip, KeepCallbackStreamsUntilTheLastResult) {
  page("call('stream', [3], 's');");
  ASSERT_TRUE(pumpUntil([&] { return logSize() >= 4; }));
  EXPECT_EQ(pageLog(), Value(Array{entry("s", true, Array{0}), entry("s", true, Array{1}), entry("s", true, Array{2}),
                                   entry("s", true, Array{"done"})}));
  EXPECT_EQ(page("execModule.pendingCallbackIds().length"), Value(0)) << "released after the last result";
  std::vector<std::string> calls;
  for (const auto& s : engine->evaluatedScripts())
    if (s.find("nativeCallback(") != std::string::npos) calls.push_back(s.substr(s.size() - 6));
  EXPECT_EQ(calls, (std::vector<std::string>{",1, 0)", ",1, 0)", ",1, 0)", ",0, 0)"}));
}

TEST_P(BridgeRoundTrip, StatusDecidesWhichCallbackRunsAndKeepDecidesHowLong) {
  struct Case {
    int status;
    bool keep;
    const char* expectedCall;  // "ok", "bad" or "" for none
  };
  const Case cases[] = {
      {1, false, "ok"}, {1, true, "ok"},  {0, false, ""},   {0, true, ""},    {2, false, "bad"}, {6, false, "bad"},
      {7, false, "bad"}, {8, false, "bad"}, {9, false, "bad"}, {9, true, "bad"}, {42, false, "bad"},
  };
  for (const Case& c : cases) {
    std::string label = "status " + std::to_string(c.status) + (c.keep ? " kept" : "");
    page("log = []; execModule.pendingCallbackIds().forEach(function (id) {"
         "  execModule.nativeCallback(id, 1, null, 0, 0); }); log = [];");
    std::size_t before = callbackScriptCount();
    page("call('respond', [" + std::to_string(c.status) + ", 'msg', " + (c.keep ? "true" : "false") + "], 'r');");
    ASSERT_TRUE(pumpUntil([&] { return callbackScriptCount() > before; })) << label;
    Value log = pageLog();
    if (*c.expectedCall) {
      EXPECT_EQ(log, Value(Array{entry("r", std::string(c.expectedCall) == "ok", Array{"msg"})})) << label;
    } else {
      EXPECT_EQ(log, Value(Array{})) << label;
    }
    EXPECT_EQ(page("execModule.pendingCallbackIds().length"), Value(c.keep ? 1 : 0)) << label;
  }
}

TEST_P(BridgeRoundTrip, ResultsFromABackgroundThreadReachThePageOnTheMainThread) {
  page("call('echoInBackground', ['from a worker'], 'bg');");
  ASSERT_TRUE(pumpUntil([&] { return logSize() >= 1; }));
  EXPECT_EQ(pageLog(), Value(Array{entry("bg", true, Array{"from a worker"})}));
  auto threads = echo->sendThreads();
  ASSERT_EQ(threads.size(), 1u);
  EXPECT_NE(threads[0], std::this_thread::get_id()) << "sent from a worker";
}

TEST_P(BridgeRoundTrip, EvalJsRunsPageScriptAndExecutesWhatItQueues) {
  controller->delegate()->evalJs("call('echo', ['from native script'], 'ev');");
  EXPECT_EQ(logSize(), 0u) << "scheduled, not run at once";
  ASSERT_TRUE(pumpUntil([&] { return logSize() >= 1; }));
  EXPECT_EQ(pageLog(), Value(Array{entry("ev", true, Array{"from native script"})}));
  EXPECT_EQ(engine->signalCount(), 0u) << "commands queued during native script come back as its result";
}

TEST_P(BridgeRoundTrip, EvalJsThatThrowsIsLoggedAndKeepsWhatItQueuedBefore) {
  controller->delegate()->evalJs("call('echo', ['before the throw'], 'th'); throw new Error('page broke');");
  ASSERT_TRUE(pumpUntil([&] { return logSize() >= 1; }));
  EXPECT_EQ(pageLog(), Value(Array{entry("th", true, Array{"before the throw"})}));
  const auto& console = engine->consoleLines();
  ASSERT_FALSE(console.empty());
  EXPECT_EQ(console[0], "exeption nativeEvalAndFetch : Error: page broke");
}

TEST_P(BridgeRoundTrip, CallbacksMayCallAgainAndFailingCallbacksLoseNothing) {
  page("harbor.exec(function () {"
       "  call('echo', ['second'], 'chain');"
       "  throw new Error('callback broke');"
       "}, null, 'Echo', 'echo', ['first']);");
  ASSERT_TRUE(pumpUntil([&] { return logSize() >= 1; }));
  EXPECT_EQ(pageLog(), Value(Array{entry("chain", true, Array{"second"})}));
  bool reported = false;
  for (const auto& line : engine->consoleLines()) reported |= line.find("callback broke") != std::string::npos;
  EXPECT_TRUE(reported) << "the page's error is reported, not swallowed";
}

TEST_P(BridgeRoundTrip, CallbackIdsFollowTheNativeRule) {
  struct Case {
    std::string service;
    std::string expectedPrefix;
  };
  const Case cases[] = {
      {"Echo", "Echo"},
      {"My Service/v2", "My_Service_v2"},
      {"dots.and-dashes_ok", "dots.and-dashes_ok"},
      {std::string(150, 'L'), std::string(90, 'L')},  // trimmed so that the number fits in 100
  };
  for (const Case& c : cases) {
    controller->registerObject(c.service, echo);
    echo->clear();
    page("log = []; harbor.exec(ok('id'), bad('id'), '" + c.service + "', 'echo', [1]);");
    ASSERT_TRUE(pumpUntil([&] { return logSize() >= 1; })) << c.service;
    ASSERT_EQ(echo->commands().size(), 1u);
    std::string id = *echo->commands()[0]->callbackId();
    EXPECT_LE(id.size(), 100u) << id;
    EXPECT_TRUE(HBRCommandDelegateImpl::isValidCallbackId(id)) << id;
    EXPECT_EQ(id.substr(0, std::min(id.size(), c.expectedPrefix.size())),
              c.expectedPrefix.substr(0, std::min(id.size(), c.expectedPrefix.size())))
        << id;
    EXPECT_EQ(pageLog(), Value(Array{entry("id", true, Array{1})})) << c.service;
  }
}

TEST_P(BridgeRoundTrip, CallsWithoutCallbacksAskForNoAnswer) {
  page("harbor.exec(null, null, 'Echo', 'echo', ['unheard']);");
  ASSERT_TRUE(pumpUntil([&] { return echo->commands().size() >= 1; }));
  runUntilIdle();
  EXPECT_EQ(echo->commands()[0]->callbackId(), std::optional<std::string>("INVALID"));
  EXPECT_EQ(callbackScriptCount(), 0u);
  EXPECT_FALSE(log_->contains("Invalid callback id")) << "INVALID is dropped silently";
}

TEST_P(BridgeRoundTrip, BadCallsFailAtTheCallerAndQueueNothing) {
  struct Case {
    const char* script;
    const char* error;
  };
  const Case cases[] = {
      {"var c = {}; c.self = c; call('echo', [c], 'x')", "TypeError"},
      {"harbor.exec(ok('x'), bad('x'), '', 'echo', [])", "exec needs a service name"},
      {"harbor.exec(ok('x'), bad('x'), 'Echo', 7, [])", "exec needs a service name"},
      {"harbor.exec(ok('x'), bad('x'), 'Echo', 'echo', 'not an array')", "arguments must be an array"},
  };
  for (const Case& c : cases) {
    auto result = engine->runPageScript(c.script);
    ASSERT_FALSE(result.ok()) << c.script;
    EXPECT_NE(result.error().find(c.error), std::string::npos) << result.error();
  }
  runUntilIdle();
  EXPECT_TRUE(echo->commands().empty());
  EXPECT_EQ(engine->signalCount() + engine->messageCount(), 0u);
  EXPECT_EQ(page("execModule.pendingCallbackIds().length"), Value(0));
}

TEST_P(BridgeRoundTrip, ArgumentsCarryWhatJsonCarriesAndTheCallStillGetsItsAnswer) {
  // A function or symbol among the arguments is dropped on the way, as JSON drops it; the call
  // itself must still arrive and be answered rather than vanish with the caller left waiting.
  page("call('echoMultiPart', [{keep: 1, fn: function () {}, sym: Symbol('s')}, [function () {}]], 'f');");
  ASSERT_TRUE(pumpUntil([&] { return logSize() >= 1; }));
  EXPECT_EQ(pageLog(), Value(Array{entry("f", true, Array{Dictionary{{"keep", 1}}, Array{Value::null()}})}));
  EXPECT_EQ(page("execModule.pendingCallbackIds().length"), Value(0));
}

TEST_P(BridgeRoundTrip, UnknownServicesAndActionsAreAnsweredAndLaterCallsStillWork) {
  page("call('noSuchAction', [], 'a'); harbor.exec(ok('b'), bad('b'), 'Nowhere', 'echo', []); call('echo', [1], 'c');");
  ASSERT_TRUE(pumpUntil([&] { return logSize() >= 3; }));
  EXPECT_EQ(pageLog(), Value(Array{entry("a", false, Array{"Method 'noSuchAction:' not defined in Plugin 'Echo'"}),
                                   entry("b", false,
                                         Array{"Plugin 'Nowhere' not found, or is not a HBRPlugin. Check your "
                                               "plugin mapping in config.xml."}),
                                   entry("c", true, Array{1})}));
  EXPECT_TRUE(log_->contains("ERROR: Method 'noSuchAction:' not defined in Plugin 'Echo'"));
  EXPECT_TRUE(log_->contains("ERROR: Plugin 'Nowhere' not found, or is not a HBRPlugin."));
}

TEST_P(BridgeRoundTrip, AsynchronousEvaluationStillCompletesTheRoundTrip) {
  engine->setEvaluation(FakeWebViewEngine::Evaluation::NextTurn);
  page("call('echo', ['late'], 'late'); call('stream', [2], 'st');");
  ASSERT_TRUE(pumpUntil([&] { return logSize() >= 4; }));
  EXPECT_EQ(pageLog(), Value(Array{entry("late", true, Array{"late"}), entry("st", true, Array{0}),
                                   entry("st", true, Array{1}), entry("st", true, Array{"done"})}));
}

INSTANTIATE_TEST_SUITE_P(BothModes, BridgeRoundTrip, ::testing::Values(Mode::Iframe, Mode::MessageHandler), modeName);

// ---- The iframe mode: queue, signal and fetch ------------------------------------------------

class IframeBridge : public BridgeTest {
 protected:
  void SetUp() override {
    BridgeTest::SetUp();
    startBridge(Mode::Iframe);
  }
};

TEST_F(IframeBridge, OneSignalPerBurstAndOneFetchForAllOfIt) {
  EXPECT_EQ(page("execModule.bridgeMode()"), Value("iframe"));
  page("for (var i = 0; i < 5; i++) call('echo', [i], 'burst');");
  EXPECT_EQ(engine->signalCount(), 1u);
  EXPECT_TRUE(echo->commands().empty()) << "nothing runs before the engine's later turn";
  ASSERT_TRUE(pumpUntil([&] { return logSize() >= 5; }));
  std::size_t fetches = 0;
  for (const auto& s : engine->evaluatedScripts()) fetches += s == kHBRFetchCommandsScript;
  EXPECT_EQ(fetches, 1u);
  page("call('echo', ['next burst'], 'n');");
  EXPECT_EQ(engine->signalCount(), 2u) << "a new burst signals again";
  ASSERT_TRUE(pumpUntil([&] { return logSize() >= 6; }));
}

TEST_F(IframeBridge, FetchGivesTheQueuedEntriesOnceThenNothing) {
  page("harbor.exec(null, null, 'Echo', 'record', [new Uint8Array([104, 105])]);");
  EXPECT_EQ(page("execModule.nativeFetchMessages()"),
            Value(R"([["INVALID","Echo","record",[{"HBRType":"ArrayBuffer","data":"aGk="}]]])"));
  EXPECT_EQ(page("execModule.nativeFetchMessages()"), Value(""));
  EXPECT_EQ(page("execModule.nativeCallback('Nobody1', 1, 'x', 0, 0)"), Value("")) << "unknown ids are ignored";
}

TEST_F(IframeBridge, ArgumentsAreTakenWhenTheCallIsMade) {
  page("var args = ['original']; call('echo', args, 'snap'); args[0] = 'changed later';");
  ASSERT_TRUE(pumpUntil([&] { return logSize() >= 1; }));
  EXPECT_EQ(pageLog(), Value(Array{entry("snap", true, Array{"original"})}));
}

TEST_F(IframeBridge, AnAnswerInsideTheActionReachesThePageBeforeTheActionReturns) {
  bool deliveredBeforeReturn = false;
  struct Probe : HBRPlugin {
    std::function<void(const HBRInvokedUrlCommandPtr&)> run;
    void pluginInitialize() override {
      registerAction("answer", [this](const HBRInvokedUrlCommandPtr& c) { run(c); });
    }
  };
  auto probe = controller->addPlugin<Probe>("Probe");
  probe->run = [&](const HBRInvokedUrlCommandPtr& command) {
    probe->commandDelegate()->sendPluginResult(
        HBRPluginResult::resultWithStatusMessageAsString(HBRCommandStatus::OK, "now"), command->callbackId());
    deliveredBeforeReturn = logSize() == 1;
  };
  page("harbor.exec(ok('in'), bad('in'), 'Probe', 'answer', []);");
  runUntilIdle();
  EXPECT_TRUE(deliveredBeforeReturn);
  EXPECT_EQ(pageLog(), Value(Array{entry("in", true, Array{"now"})}));
}

TEST_F(IframeBridge, ASignalThatFailsLeavesTheCommandsForTheNextOne) {
  page("var realSignal = execModule.signal; execModule.signal = function () { throw new Error('no frame'); };"
       "call('echo', ['kept'], 'k'); execModule.signal = realSignal; call('echo', ['second'], 'k');");
  ASSERT_TRUE(pumpUntil([&] { return logSize() >= 2; }));
  EXPECT_EQ(pageLog(), Value(Array{entry("k", true, Array{"kept"}), entry("k", true, Array{"second"})}));
}

// ---- The messageHandler mode ------------------------------------------------------------------

TEST_F(BridgeTest, MessageHandlerModePostsEachEntryAndNeverFetches) {
  startBridge(Mode::MessageHandler);
  EXPECT_EQ(page("execModule.bridgeMode()"), Value("messageHandler"));
  page("for (var i = 0; i < 3; i++) call('echo', [i], 'm');");
  EXPECT_EQ(engine->messageCount(), 3u);
  ASSERT_TRUE(pumpUntil([&] { return logSize() >= 3; }));
  EXPECT_EQ(engine->signalCount(), 0u);
  for (const auto& s : engine->evaluatedScripts()) EXPECT_NE(s, kHBRFetchCommandsScript);
  EXPECT_EQ(pageLog(), Value(Array{entry("m", true, Array{0}), entry("m", true, Array{1}), entry("m", true, Array{2})}));
}

// ---- Document events --------------------------------------------------------------------------

class DocumentEvents : public BridgeTest {
 protected:
  void SetUp() override {
    BridgeTest::SetUp();
    startBridge(Mode::Iframe);
  }
};

TEST_F(DocumentEvents, DevicereadyIsStickyAndFiresOnce) {
  page("var ready = [];"
       "document.addEventListener('deviceready', function (e) { ready.push('fn:' + e.type); });"
       "document.addEventListener('deviceready', { handleEvent: function (e) { ready.push('obj:' + e.type); } });");
  EXPECT_EQ(page("ready"), Value(Array{"fn:deviceready", "obj:deviceready"})) << "late listeners run at once";
  page("harbor.fireDocumentEvent('deviceready');");
  EXPECT_EQ(page("ready.length"), Value(2)) << "fires only once";
}

TEST_F(DocumentEvents, FiredEventsCarryTheirDataAndListenersCanLeave) {
  page("var seen = [];"
       "function onPause(e) { seen.push(e.type + ':' + e.reason); }"
       "document.addEventListener('pause', onPause);"
       "document.addEventListener('pause', function () { throw new Error('listener broke'); });"
       "document.addEventListener('pause', function (e) { seen.push('second'); });");
  controller->delegate()->evalJs("harbor.fireDocumentEvent('pause', {reason: 'background'});");
  runUntilIdle();
  EXPECT_EQ(page("seen"), Value(Array{"pause:background", "second"})) << "one failing listener does not stop the rest";
  page("document.removeEventListener('pause', onPause); seen = []; harbor.fireDocumentEvent('pause');");
  EXPECT_EQ(page("seen"), Value(Array{"second"}));
  page("harbor.fireDocumentEvent('resume'); harbor.fireDocumentEvent('nobody-listens');");
}

TEST_F(DocumentEvents, DocumentEventHandlersCanBeMadeSticky) {
  page("harbor.addDocumentEventHandler('pluginsready', true);"
       "harbor.fireDocumentEvent('pluginsready', {count: 3});"
       "var got = 0; document.addEventListener('pluginsready', function (e) { got = e.count; });");
  EXPECT_EQ(page("got"), Value(3));
}

// ---- The page's own modules -----------------------------------------------------------------

TEST_F(BridgeTest, ModulesAreDefinedOnceAndBuiltOnFirstRequire) {
  startBridge(Mode::Iframe);
  struct Case {
    const char* script;
    Value expected;
  };
  const Case cases[] = {
      {"var built = 0; harbor.define('m/a', function (require, exports) { built++; exports.b = require('m/b').name; });"
       "harbor.define('m/b', function (require, exports, module) { module.exports = {name: 'b', a: require('m/a')}; });"
       "[built, harbor.require('m/a').b, built, harbor.require('m/a') === harbor.require('m/a'), built]",
       Value(Array{0, "b", 1, true, 1})},
      {"try { harbor.define('m/a', function () {}); 'no' } catch (e) { e.message }", Value("module m/a is already defined")},
      {"try { harbor.require('m/missing'); 'no' } catch (e) { e.message }", Value("module m/missing not found")},
      {"var tries = 0; harbor.define('m/flaky', function (r, exports) { if (++tries === 1) throw new Error('x'); exports.ok = true; });"
       "try { harbor.require('m/flaky') } catch (e) {} harbor.require('m/flaky').ok",
       Value(true)},
      {"harbor.isDefined('harbor/exec') && !harbor.isDefined('m/none')", Value(true)},
      {"typeof harbor.require('harbor/exec')", Value("function")},
  };
  for (const Case& c : cases) EXPECT_EQ(page(c.script), c.expected) << c.script;
}

TEST_F(BridgeTest, LoadingHarborTwiceKeepsTheFirstCopy) {
  startBridge(Mode::Iframe);
  page("call('echo', ['pending'], 'twice'); var firstExec = harbor.exec;");
  std::ifstream in(harborScriptPath());
  std::stringstream text;
  text << in.rdbuf();
  ASSERT_TRUE(engine->context().evaluate(text.str(), "harbor.js").ok());
  EXPECT_EQ(page("harbor.exec === firstExec"), Value(true));
  ASSERT_TRUE(pumpUntil([&] { return logSize() >= 1; })) << "the pending call still gets its answer";
}

TEST_F(BridgeTest, PageBase64MatchesTheNativeOne) {
  startBridge(Mode::Iframe);
  // Lengths around the encoder's pieces of 24576 bytes too.
  for (std::size_t length : {0u, 1u, 2u, 3u, 4u, 5u, 256u, 1000u, 24575u, 24576u, 24577u, 24578u, 49153u}) {
    Data bytes(length);
    for (std::size_t i = 0; i < length; ++i) bytes[i] = static_cast<std::uint8_t>(255 - (i * 31) % 256);
    std::string list;
    for (std::uint8_t b : bytes) list += (list.empty() ? "" : ",") + std::to_string(b);
    std::string encoded = plat::base64Encode(bytes);
    EXPECT_EQ(page("harbor.require('harbor/base64').fromArrayBuffer(new Uint8Array([" + list + "]))"), Value(encoded))
        << length;
    EXPECT_EQ(page("harbor.require('harbor/base64').toArrayBuffer('" + encoded + "')"), Value(bytes)) << length;
  }
  EXPECT_EQ(page("harbor.require('harbor/base64').toArrayBuffer('aG k=\\n')"), Value(Data{'h', 'i'}))
      << "white space and padding are skipped";
}

}  // namespace
}  // namespace harbor::testing
