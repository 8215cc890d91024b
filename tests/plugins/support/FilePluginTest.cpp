#include "support/FilePluginTest.h"

#include <gtest/gtest.h>

#include "FilePlugin.h"
#include "plat/dispatch/Queues.h"

namespace harbor::testing {

void FilePluginTest::SetUp() {
  PluginTest::SetUp();
  registerFilePlugin();
  makePlugin();
}

void FilePluginTest::TearDown() {
  plat::dispatch::GlobalQueue::shared().waitIdle();
  runUntilIdle();
  file.reset();
  viewController.reset();
  PluginTest::TearDown();
}

void FilePluginTest::makePlugin(const plat::Dictionary& settings) {
  viewController = std::make_shared<HBRViewController>();
  viewController->init();
  viewController->mutableSettings() = settings;
  file = create<HBRFile>("HBRFile", "File", viewController);
  ASSERT_TRUE(file);
}

PageCallback FilePluginTest::call(const std::string& action, const plat::Array& arguments) {
  exec("File", action, arguments);
  // Reads and writes answer from the global queue, the photo library on a later main-loop turn.
  for (int round = 0; round < 50 && engine->scripts.empty(); ++round) {
    plat::dispatch::GlobalQueue::shared().waitIdle();
    runUntilIdle();
  }
  auto answers = takeCallbacks();
  EXPECT_EQ(answers.size(), 1u) << action;
  return answers.size() == 1 ? answers.front() : PageCallback{};
}

void expectCode(const PageCallback& answer, int status, int code) {
  EXPECT_EQ(answer.status, status) << answer.message.description();
  EXPECT_TRUE(answer.message.isInteger()) << answer.message.description();
  EXPECT_EQ(answer.message.asInt(), code) << answer.message.description();
}

}  // namespace harbor::testing
