// The command queue and command delegate against the shared recording engine and stub controller.
#include <gtest/gtest.h>

#include <cmath>
#include <thread>

#include "HBRCommandDelegateImpl.h"
#include "HBRCommandQueue.h"
#include "HBRPlugin.h"
#include "plat/dispatch/Queues.h"
#include "plat/dispatch/RunLoop.h"
#include "plat/foundation/JSON.h"
#include "plat/foundation/Strings.h"
#include "plat/testing/PlatformTest.h"
#include "support/ScriptRecordingEngine.h"
#include "support/StubBridgeController.h"

using namespace harbor;
using harbor::testing::ScriptRecordingEngine;
using harbor::testing::StubBridgeController;
using plat::Array;
using plat::Value;

namespace {

class TestPlugin : public HBRPlugin {
 public:
  std::vector<std::string> calls;
  std::shared_ptr<plat::ManualClock> clock;
  std::function<void(const HBRInvokedUrlCommandPtr&)> inside;
  std::size_t scriptsSeenInsideAction = 0;

  TestPlugin() {
    registerAction("record", &TestPlugin::record);
    registerAction("echo", &TestPlugin::echo);
    registerAction("echoFromBackground", &TestPlugin::echoFromBackground);
    registerAction("slow", &TestPlugin::slow);
    registerAction("custom", &TestPlugin::custom);
  }
  void record(const HBRInvokedUrlCommandPtr& c) { calls.push_back(c->argumentAtIndex(0, "").stringOr()); }
  void echo(const HBRInvokedUrlCommandPtr& c) {
    calls.push_back("echo");
    commandDelegate()->sendPluginResult(
        std::make_shared<HBRPluginResult>(HBRCommandStatus::OK, c->argumentAtIndex(0, Value::null())), c->callbackId());
    scriptsSeenInsideAction = engineScripts();
  }
  void echoFromBackground(const HBRInvokedUrlCommandPtr& c) {
    auto delegate = commandDelegate();
    delegate->runInBackground([delegate, c] {
      delegate->sendPluginResult(HBRPluginResult::resultWithStatusMessageAsString(HBRCommandStatus::OK, "late"),
                                 c->callbackId());
    });
  }
  void slow(const HBRInvokedUrlCommandPtr& c) {
    calls.push_back("slow");
    clock->advance(c->argumentAtIndex(0, 0).asDouble() / 1000.0);
  }
  void custom(const HBRInvokedUrlCommandPtr& c) { inside(c); }
  std::function<std::size_t()> engineScripts = [] { return std::size_t{0}; };
};

}  // namespace

class CommandBridge : public plat::testing::PlatformTest {
 protected:
  void SetUp() override {
    PlatformTest::SetUp();
    engine = std::make_shared<ScriptRecordingEngine>();
    controller = std::make_shared<StubBridgeController>();
    controller->initWithWebViewEngine(engine);
    plugin = std::make_shared<TestPlugin>();
    plugin->initWithWebViewEngine(engine);
    plugin->setCommandDelegate(controller->delegate());
    plugin->clock = clock_;
    plugin->engineScripts = [e = engine] { return e->scripts.size(); };
    controller->registerObject("test", plugin);
    controller->registerObject("notaplugin", std::make_shared<plat::Object>());
  }

  void run(const std::string& batch) {
    queue().enqueueCommandBatch(batch);
    queue().executePending();
  }
  HBRCommandQueue& queue() { return *controller->commandQueue(); }
  std::vector<std::string>& scripts() { return engine->scripts; }

  // A one-command batch of exactly `units` UTF-16 units, padded with two-byte characters so
  // that bytes and units differ.
  static std::string batchOfLength(std::size_t units, const std::string& tag) {
    std::string head = R"([["cb","Test","record",[")" + tag + R"(",")";
    std::string tail = R"("]]])";
    std::string text = head;
    std::size_t fixed = plat::utf16Length(head) + plat::utf16Length(tail);
    for (std::size_t i = fixed; i < units; ++i) text += "\xC3\xA9";  // é: 2 bytes, 1 unit
    text += tail;
    EXPECT_EQ(plat::utf16Length(text), units);
    return text;
  }

  std::shared_ptr<ScriptRecordingEngine> engine;
  std::shared_ptr<StubBridgeController> controller;
  std::shared_ptr<TestPlugin> plugin;
};

TEST_F(CommandBridge, BatchesBelowTheThresholdAreParsedAtOnceLargerOnesInTheBackground) {
  plat::dispatch::GlobalQueue::shared().hold();
  run(batchOfLength(HBRCommandQueue::kBackgroundParseThreshold - 1, "small"));
  EXPECT_EQ(plugin->calls, std::vector<std::string>{"small"});
  EXPECT_EQ(plat::dispatch::GlobalQueue::shared().heldCount(), 0u);

  run(batchOfLength(HBRCommandQueue::kBackgroundParseThreshold, "large"));
  EXPECT_EQ(plugin->calls.size(), 1u) << "the large batch waits for its parse";
  EXPECT_EQ(plat::dispatch::GlobalQueue::shared().heldCount(), 1u);
  plat::dispatch::GlobalQueue::shared().drain();
  runUntilIdle();
  EXPECT_EQ(plugin->calls, (std::vector<std::string>{"small", "large"}));
}

TEST_F(CommandBridge, ASmallBatchWaitsBehindALargerOneStillBeingParsed) {
  plat::dispatch::GlobalQueue::shared().hold();
  queue().enqueueCommandBatch(batchOfLength(5000, "first"));
  run(R"([["cb","Test","record",["second"]]])");
  EXPECT_TRUE(plugin->calls.empty());
  EXPECT_EQ(queue().pendingBatchCount(), 2u);
  plat::dispatch::GlobalQueue::shared().drain();
  runUntilIdle();
  EXPECT_EQ(plugin->calls, (std::vector<std::string>{"first", "second"}));
  EXPECT_EQ(queue().pendingBatchCount(), 0u);
}

TEST_F(CommandBridge, BadBatchesAreDroppedAndLaterOnesStillRun) {
  const char* bad[] = {"[]", "not json", "{\"a\":1}", "[1,2", "\"fragment\""};
  for (const char* b : bad) {
    log_->clear();
    queue().enqueueCommandBatch(b);
    run(R"([["cb","Test","record",["after"]]])");
    EXPECT_EQ(plugin->calls.back(), "after") << b;
    EXPECT_EQ(queue().pendingBatchCount(), 0u) << b;
    if (std::string(b) != "[]") {
      EXPECT_TRUE(log_->contains("NSString JSONObject error: ")) << b;
    }
  }
  // The same for a large batch parsed in the background.
  log_->clear();
  plat::dispatch::GlobalQueue::shared().hold();
  queue().enqueueCommandBatch(std::string(5000, 'x'));
  queue().enqueueCommandBatch(R"([["cb","Test","record",["behind-garbage"]]])");
  plat::dispatch::GlobalQueue::shared().drain();
  runUntilIdle();
  EXPECT_EQ(plugin->calls.back(), "behind-garbage");
  EXPECT_TRUE(log_->contains("NSString JSONObject error: "));

  // An empty text adds nothing at all.
  queue().enqueueCommandBatch("");
  EXPECT_EQ(queue().pendingBatchCount(), 0u);
}

TEST_F(CommandBridge, MalformedEntriesAreSkippedNotFatal) {
  run(R"([["cb","Test","record",["one"]], 5, ["cb","Test"], [null,null,"record",[]], ["cb","Test","record",["two"]],
          ["cb","","record",[]], ["cb","Test","",[]]])");
  EXPECT_EQ(plugin->calls, (std::vector<std::string>{"one", "two"}));
  EXPECT_EQ(log_->count("ERROR: Skipping malformed command entry"), 3u);
  EXPECT_EQ(log_->count("ERROR: Classname and/or methodName not found for command."), 2u);
}

// Logged as ever, and each caller hears why once, with the status that names it: a caller of a
// plugin or action that is not there would otherwise wait for ever. A caller that asked for no
// answer gets none.
TEST_F(CommandBridge, UnknownServicesAndActionsAreLoggedExactlyAndAnswered) {
  scripts().clear();
  run(R"([["a","Nope","x",[]], ["b","NotAPlugin","x",[]], ["c","Test","nope",[]], [null,"Nope","x",[]],
          ["INVALID","Test","nope",[]], ["d","","x",[]], ["e","Test","",[]]])");
  runUntilIdle();
  EXPECT_TRUE(log_->contains(
      "ERROR: Plugin 'Nope' not found, or is not a HBRPlugin. Check your plugin mapping in config.xml."));
  EXPECT_TRUE(log_->contains(
      "ERROR: Plugin 'NotAPlugin' not found, or is not a HBRPlugin. Check your plugin mapping in config.xml."));
  EXPECT_TRUE(log_->contains("ERROR: Method 'nope:' not defined in Plugin 'Test'"));
  const std::string call = "harbor.require('harbor/exec').nativeCallback(";
  EXPECT_EQ(scripts(), (std::vector<std::string>{
                           call + "'a',2,\"Plugin 'Nope' not found, or is not a HBRPlugin. Check your plugin mapping "
                                  "in config.xml.\",0, 0)",
                           call + "'b',2,\"Plugin 'NotAPlugin' not found, or is not a HBRPlugin. Check your plugin "
                                  "mapping in config.xml.\",0, 0)",
                           call + "'c',7,\"Method 'nope:' not defined in Plugin 'Test'\",0, 0)",
                           call + "'d',2,\"Classname and/or methodName not found for command.\",0, 0)",
                           call + "'e',7,\"Classname and/or methodName not found for command.\",0, 0)",
                       }));
}

// A page decides how long the names it sends are: the log line and the caller's answer keep the
// start of a long one, cut as every page text is, never the whole.
TEST_F(CommandBridge, LongNamesAreCutInTheLogLineAndTheAnswer) {
  const std::string longName(100000, 'n');
  const std::string cut = std::string(16384, 'n') + " ... (83616 more characters cut)";
  struct Case {
    const char* name;
    std::string service, action;
    int status;
    std::string why;
  };
  const Case cases[] = {
      {"service", longName, "x", 2,
       "Plugin '" + cut + "' not found, or is not a HBRPlugin. Check your plugin mapping in config.xml."},
      {"action", "Test", longName, 7, "Method '" + cut + ":' not defined in Plugin 'Test'"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    log_->clear();
    scripts().clear();
    queue().execute(HBRInvokedUrlCommand::commandFromJson(Value(Array{"a", c.service, c.action, Array{}})));
    runUntilIdle();
    EXPECT_EQ(log_->lines(), std::vector<std::string>{"ERROR: " + c.why});
    ASSERT_EQ(scripts().size(), 1u);
    EXPECT_EQ(scripts()[0], "harbor.require('harbor/exec').nativeCallback('a'," + std::to_string(c.status) + "," +
                                *plat::json::write(Value(c.why), {.allowFragments = true}) + ",0, 0)");
  }
  // A command that cannot be read names the command so too.
  log_->clear();
  queue().refuseUnreadableCommand(Value(Array{Value("a"), Value(longName), Value(longName)}), "too deep");
  EXPECT_EQ(log_->lines(), std::vector<std::string>{"ERROR: Cannot read the command " + cut + "." + cut +
                                                    " (too deep); its caller is answered with a JSON error"});
}

TEST_F(CommandBridge, PageTextInLogLinesIsEscaped) {
  // A line break in a name would print a line of the page's making; a NUL would cut the name.
  run(R"([["cb","Nope\nharbor: alert 'forged'","x",[]], ["cb","Ni\u0000l","x",[]],
          ["cb","Test","no\r\npe\\",[]], ["cb\n", 7]])");
  auto lines = log_->lines();
  for (const auto& line : lines) EXPECT_EQ(line.find_first_of("\n\r", 0), std::string::npos) << line;
  EXPECT_TRUE(log_->contains("ERROR: Plugin 'Nope\\nharbor: alert 'forged'' not found"));
  EXPECT_TRUE(log_->contains("ERROR: Plugin 'Ni\\x00l' not found"));
  EXPECT_TRUE(log_->contains("ERROR: Method 'no\\r\\npe\\\\:' not defined in Plugin 'Test'"));
  EXPECT_TRUE(log_->contains("ERROR: Skipping malformed command entry: "));
}

TEST_F(CommandBridge, ExecutionYieldsAfterEightMillisecondsAndWarnsAboutSlowActions) {
  // Each command advances the manual clock by 5 ms: the slice ends after the second one.
  queue().enqueueCommandBatch(R"([["a","Test","slow",[5]],["b","Test","slow",[5]],["c","Test","slow",[5]]])");
  queue().enqueueCommandBatch(R"([["d","Test","record",["last"]]])");
  queue().executePending();
  EXPECT_EQ(plugin->calls.size(), 2u);
  EXPECT_FALSE(queue().currentlyExecuting());
  plat::RunLoop::main().runOneTurn();
  EXPECT_EQ(plugin->calls, (std::vector<std::string>{"slow", "slow", "slow", "last"}));

  log_->clear();
  run(R"([["a","Test","slow",[12]]])");
  EXPECT_EQ(log_->count("THREAD WARNING: ['Test'] took '1"), 1u);
  EXPECT_TRUE(log_->contains("' ms. Plugin should use a background thread."));
  log_->clear();
  run(R"([["a","Test","slow",[9]]])");
  EXPECT_FALSE(log_->contains("THREAD WARNING"));
}

TEST_F(CommandBridge, ReentrantExecutionReturnsAtOnceAndTheOuterRunPicksUpNewBatches) {
  plugin->inside = [&](const HBRInvokedUrlCommandPtr&) {
    queue().enqueueCommandBatch(R"([["x","Test","record",["nested"]]])");
    queue().executePending();
    EXPECT_TRUE(plugin->calls.empty()) << "nothing runs re-entrantly";
    plugin->calls.push_back("custom");
  };
  run(R"([["cb","Test","custom",[]]])");
  EXPECT_EQ(plugin->calls, (std::vector<std::string>{"custom", "nested"}));
}

TEST_F(CommandBridge, ResultScriptsAreExact) {
  struct Case {
    HBRPluginResultPtr result;
    bool keep;
    const char* script;
  };
  const Case cases[] = {
      {HBRPluginResult::resultWithStatusMessageAsString(HBRCommandStatus::OK, "ok"), false,
       "harbor.require('harbor/exec').nativeCallback('Device1',1,\"ok\",0, 0)"},
      {HBRPluginResult::resultWithStatusMessageAsString(HBRCommandStatus::OK, "ok"), true,
       "harbor.require('harbor/exec').nativeCallback('Device1',1,\"ok\",1, 0)"},
      {HBRPluginResult::resultWithStatus(HBRCommandStatus::NoResult), true,
       "harbor.require('harbor/exec').nativeCallback('Device1',0,null,1, 0)"},
      {HBRPluginResult::resultWithStatusMessageToErrorObject(HBRCommandStatus::Error, 3), false,
       "harbor.require('harbor/exec').nativeCallback('Device1',9,{\"code\":3},0, 0)"},
      // A message that cannot be written as JSON becomes a JSON error, still valid script.
      {HBRPluginResult::resultWithStatusMessageAsDouble(HBRCommandStatus::OK, std::nan("")), false,
       "harbor.require('harbor/exec').nativeCallback('Device1',8,null,0, 0)"},
  };
  for (const auto& c : cases) {
    c.result->setKeepCallbackAsBool(c.keep);
    scripts().clear();
    controller->delegate()->sendPluginResult(c.result, std::string("Device1"));
    runUntilIdle();
    ASSERT_EQ(scripts().size(), 1u);
    EXPECT_EQ(scripts()[0], c.script);
  }
  EXPECT_TRUE(log_->contains("NSArray JSONString error: "));
}

TEST_F(CommandBridge, CallbackIdsAreCheckedBeforeAnythingIsSent) {
  struct Case {
    std::optional<std::string> id;
    bool sent;
    bool logged;
  };
  const Case cases[] = {
      {std::string(100, 'a'), true, false},
      {"Az09._-", true, false},
      {std::string(101, 'a'), false, true},
      {"has blank", false, true},
      {"a/b", false, true},
      {"quote'", false, true},
      {"caf\xC3\xA9", false, true},
      {std::nullopt, false, true},
      {"INVALID", false, false},
  };
  for (const auto& c : cases) {
    scripts().clear();
    log_->clear();
    controller->delegate()->sendPluginResult(HBRPluginResult::resultWithStatus(HBRCommandStatus::OK), c.id);
    runUntilIdle();
    EXPECT_EQ(!scripts().empty(), c.sent) << c.id.value_or("(absent)");
    EXPECT_EQ(log_->contains("Invalid callback id received by sendPluginResult"), c.logged)
        << c.id.value_or("(absent)");
  }
}

TEST_F(CommandBridge, AnAnswerInsideAnActionReachesThePageBeforeTheActionReturns) {
  run(R"([["Test1","Test","echo",["hi"]]])");
  EXPECT_EQ(plugin->scriptsSeenInsideAction, 1u);
  ASSERT_EQ(scripts().size(), 1u);
  EXPECT_EQ(scripts()[0], "harbor.require('harbor/exec').nativeCallback('Test1',1,\"hi\",0, 0)");

  // Outside command execution, the same answer waits for a later turn.
  scripts().clear();
  controller->delegate()->sendPluginResult(HBRPluginResult::resultWithStatus(HBRCommandStatus::OK), std::string("x"));
  EXPECT_TRUE(scripts().empty());
  runUntilIdle();
  EXPECT_EQ(scripts().size(), 1u);
}

TEST_F(CommandBridge, AnAnswerFromABackgroundThreadIsEvaluatedOnTheMainThreadLater) {
  plat::dispatch::GlobalQueue::shared().hold();
  run(R"([["Test2","Test","echoFromBackground",[]]])");
  EXPECT_TRUE(scripts().empty());
  plat::dispatch::GlobalQueue::shared().drain();
  EXPECT_TRUE(scripts().empty()) << "nothing is evaluated on the background thread";
  runUntilIdle();
  ASSERT_EQ(scripts().size(), 1u);
  EXPECT_EQ(scripts()[0], "harbor.require('harbor/exec').nativeCallback('Test2',1,\"late\",0, 0)");
  EXPECT_EQ(engine->threads[0], std::this_thread::get_id());

  // The same with real worker threads.
  plat::dispatch::GlobalQueue::shared().release();
  scripts().clear();
  run(R"([["Test3","Test","echoFromBackground",[]]])");
  ASSERT_TRUE(waitForMain());
  ASSERT_EQ(scripts().size(), 1u);
  EXPECT_EQ(engine->threads.back(), std::this_thread::get_id());
}

TEST_F(CommandBridge, WhatThePageReturnsFromAScriptIsExecutedAsABatch) {
  engine->respond = [](const std::string& script) -> Value {
    if (script.find("nativeCallback('first'") != std::string::npos) return R"([["cb","Test","record",["chained"]]])";
    return Value();
  };
  controller->delegate()->sendPluginResult(HBRPluginResult::resultWithStatus(HBRCommandStatus::OK), std::string("first"));
  runUntilIdle();
  EXPECT_EQ(plugin->calls, std::vector<std::string>{"chained"});

  engine->respond = [](const std::string& script) -> Value {
    if (script == kHBRFetchCommandsScript) return R"([["cb","Test","record",["fetched"]]])";
    return Value();
  };
  queue().fetchCommandsFromJs();
  EXPECT_EQ(plugin->calls.back(), "fetched");
}

TEST_F(CommandBridge, EvalJsWrapsTheScriptAndRunsOnlyOnTheMainThread) {
  controller->delegate()->evalJs("doIt()");
  EXPECT_TRUE(scripts().empty());
  runUntilIdle();
  ASSERT_EQ(scripts().size(), 1u);
  EXPECT_EQ(scripts()[0],
            "try{harbor.require('harbor/exec').nativeEvalAndFetch(function(){doIt()})}catch(e){console.log('exeption "
            "nativeEvalAndFetch : '+e);};");

  scripts().clear();
  controller->delegate()->evalJsScheduledOnRunLoop("now()", false);
  EXPECT_EQ(scripts().size(), 1u) << "unscheduled on the main thread: at once";

  scripts().clear();
  std::thread([&] { controller->delegate()->evalJsScheduledOnRunLoop("fromWorker()", false); }).join();
  EXPECT_TRUE(scripts().empty()) << "never evaluated on a worker thread";
  runUntilIdle();
  EXPECT_EQ(scripts().size(), 1u);
}

TEST_F(CommandBridge, DelayedFlushDefersEveryAnswer) {
  queue().enqueueCommandBatch(R"([["Test1","Test","echo",["hi"]]])");
  controller->delegate()->flushCommandQueueWithDelayedJs();
  EXPECT_EQ(plugin->scriptsSeenInsideAction, 0u);
  runUntilIdle();
  EXPECT_EQ(scripts().size(), 1u);
}

TEST_F(CommandBridge, AQueueWhoseControllerIsGoneDoesNothing) {
  auto queue = std::make_shared<HBRCommandQueue>();
  {
    auto gone = std::make_shared<StubBridgeController>();
    queue->initWithViewController(gone);
  }
  queue->enqueueCommandBatch(R"([["cb","Test","record",["x"]]])");
  queue->executePending();
  queue->fetchCommandsFromJs();
  EXPECT_TRUE(log_->contains("not found, or is not a HBRPlugin"));
}

// A batch one of whose entries cannot be read: the others run, and the unreadable one's caller
// hears why, once; a batch parsed in the background the same.
TEST_F(CommandBridge, AnEntryThatCannotBeReadIsAnsweredAndTakesNoOtherWithIt) {
  std::string deep;
  for (int i = 0; i < 600; ++i) deep += '[';
  for (int i = 0; i < 600; ++i) deep += ']';
  const std::string deepError = "harbor.require('harbor/exec').nativeCallback('Deep1',8,\"The command cannot be read: "
                                "JSON nested deeper than 512 levels\",0, 0)";
  struct Case {
    const char* name;
    std::string batch;
    std::vector<std::string> calls;    // what the plugin ran, in order
    std::vector<std::string> answers;  // the page calls with status 8, in order
  };
  const std::string padding(5000, 'p');
  const Case cases[] = {
      {"a deep entry between two",
       R"([["Test1","Test","record",["before"]],["Deep1","LocalNotification","schedule",[)" + deep +
           R"(]],["Test2","Test","record",["after"]]])",
       {"before", "after"},
       {deepError}},
      {"a deep entry parsed in the background",
       R"([["Test1","Test","record",[")" + padding + R"("]],["Deep1","Test","record",[)" + deep +
           R"(]],["Test2","Test","record",["after"]]])",
       {padding, "after"},
       {deepError}},
      {"an entry that is no JSON", R"([["Bad1","Test","record",[tru]], ["Test2","Test","record",["after"]]])",
       {"after"},
       {"harbor.require('harbor/exec').nativeCallback('Bad1',8,\"The command cannot be read: "}},
      {"a deep entry without a callback id", R"([[null,"Test","record",[)" + deep + R"(]],["T","Test","record",["x"]]])",
       {"x"},
       {}},
      {"an entry of the wrong shape", R"([["Short1","Test"],["T","Test","record",["x"]]])",
       {"x"},
       {"harbor.require('harbor/exec').nativeCallback('Short1',8,\"The command cannot be read: it is not a command entry"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    plugin->calls.clear();
    scripts().clear();
    log_->clear();
    // Held, so that a batch parsed in the background is parsed before the loop turns.
    plat::dispatch::GlobalQueue::shared().hold();
    run(c.batch);
    plat::dispatch::GlobalQueue::shared().drain();
    plat::dispatch::GlobalQueue::shared().release();
    runUntilIdle();
    EXPECT_EQ(plugin->calls, c.calls);
    std::vector<std::string> answers;
    for (const std::string& script : scripts())
      if (script.find("',8,") != std::string::npos) answers.push_back(script);
    ASSERT_EQ(answers.size(), c.answers.size());
    for (std::size_t i = 0; i < answers.size(); ++i) EXPECT_EQ(answers[i].rfind(c.answers[i], 0), 0u) << answers[i];
    EXPECT_EQ(queue().pendingBatchCount(), 0u);
    if (!c.answers.empty() || std::string(c.name).find("without") != std::string::npos) {
      EXPECT_TRUE(log_->contains("ERROR: ")) << "every unreadable command is logged";
    }
  }
}
