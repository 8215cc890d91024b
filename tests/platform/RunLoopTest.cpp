// The main run loop's turns: what one turn runs, and what a turn inside a task runs.
#include "plat/dispatch/RunLoop.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "plat/testing/PlatformTest.h"

namespace {

using RunLoopTest = plat::testing::PlatformTest;

// A turn runs the tasks posted before it began, in order; what they post waits for the next.
TEST_F(RunLoopTest, ATurnRunsWhatWasPostedBeforeIt) {
  auto& loop = plat::RunLoop::main();
  std::vector<std::string> ran;
  loop.post([&] {
    ran.push_back("a");
    loop.post([&] { ran.push_back("posted by a"); });
  });
  loop.post([&] { ran.push_back("b"); });
  EXPECT_EQ(loop.runOneTurn(), 2u);
  EXPECT_EQ(ran, (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(loop.runOneTurn(), 1u);
  EXPECT_EQ(ran.back(), "posted by a");
}

// A task that waits by turning the loop (a page waiting for its dialog's answer) gets the
// tasks of its own turn that still wait, the answer among them, and only those posted before
// its inner turn began; the outer turn then goes on with none run twice.
TEST_F(RunLoopTest, ATurnInsideATaskRunsTheOuterTurnsWaitingTasks) {
  auto& loop = plat::RunLoop::main();
  std::vector<std::string> ran;
  bool answered = false;
  loop.post([&] {
    ran.push_back("waiting");
    loop.post([&] { ran.push_back("posted while waiting"); });
    // The inner turn: the answer, posted before the outer turn began, runs here.
    loop.runOneTurn();
    ran.push_back(answered ? "got the answer" : "no answer");
  });
  loop.post([&] {
    answered = true;
    ran.push_back("answer");
  });
  loop.post([&] { ran.push_back("after the answer"); });
  loop.runOneTurn();
  EXPECT_EQ(ran, (std::vector<std::string>{"waiting", "answer", "after the answer", "posted while waiting", "got the answer"}));
}

}  // namespace
