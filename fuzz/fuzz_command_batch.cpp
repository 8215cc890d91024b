// Feeds arbitrary bytes to the command queue as one batch, the way the page's fetch result
// arrives, and executes it against a stub controller with an echo plugin whose answers go to a
// recording engine. A crash, a sanitizer report, a hang or a batch left in the queue is a finding.
#include <cstddef>
#include <cstdint>
#include <string>

#include "HBRCommandQueue.h"
#include "plat/dispatch/Queues.h"
#include "plat/dispatch/RunLoop.h"
#include "plat/foundation/Log.h"
#include "support/EchoPlugin.h"
#include "support/ScriptRecordingEngine.h"
#include "support/StubBridgeController.h"

namespace {

using namespace harbor::testing;

struct Harness {
  std::shared_ptr<ScriptRecordingEngine> engine = std::make_shared<ScriptRecordingEngine>();
  std::shared_ptr<StubBridgeController> controller = std::make_shared<StubBridgeController>();

  Harness() {
    plat::RunLoop::main().bindToCurrentThread();
    // Every malformed batch is logged; the fuzzer's own output is what matters here.
    plat::setLogSink([](std::string_view) {});
    engine->record = false;
    controller->initWithWebViewEngine(engine);
    controller->addPlugin<EchoPlugin>("Echo")->setRecording(false);
    controller->registerObject("NotAPlugin", std::make_shared<plat::Object>());
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static Harness harness;
  auto queue = harness.controller->commandQueue();
  queue->enqueueCommandBatch(std::string(reinterpret_cast<const char*>(data), size));
  queue->executePending();
  // Large batches are parsed on a worker and background answers come from one: wait for the
  // workers, then run what they posted, until nothing is left.
  plat::RunLoop& loop = plat::RunLoop::main();
  for (int round = 0; round < 1000 && (queue->pendingBatchCount() > 0 || loop.hasReadyWork()); ++round) {
    plat::dispatch::GlobalQueue::shared().waitIdle();
    loop.runUntilIdle();
  }
  if (queue->pendingBatchCount() != 0) __builtin_trap();  // a batch that never leaves the queue
  return 0;
}
