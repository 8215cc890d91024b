#include <gtest/gtest.h>

#include "HBRCommandDelegateImpl.h"
#include "plat/testing/SandboxTest.h"
#include "support/StubBridgeController.h"

using namespace harbor;
using harbor::testing::StubBridgeController;

namespace {

class PathForResourceTest : public plat::testing::SandboxTest {};

}  // namespace

TEST_F(PathForResourceTest, FindsFilesUnderTheWwwFolderOnly) {
  writeFile(inBundle("www/index.html"), "");
  writeFile(inBundle("www/js/plugins/app.js"), "");
  writeFile(inBundle("config.xml"), "");
  writeFile(inBundle("public/start.html"), "");
  auto controller = std::make_shared<StubBridgeController>();
  auto delegate = std::make_shared<HBRCommandDelegateImpl>();
  delegate->initWithViewController(controller);
  const std::pair<const char*, const char*> cases[] = {
      {"index.html", "www/index.html"},
      {"js/plugins/app.js", "www/js/plugins/app.js"},
      {"js//plugins/app.js", "www/js/plugins/app.js"},
      {"missing.html", nullptr},
      {"js/", nullptr},
      {"", nullptr},
      {"../config.xml", nullptr},
      {"js/../../config.xml", nullptr},
  };
  for (const auto& [resource, expected] : cases) {
    auto path = delegate->pathForResource(resource);
    if (expected)
      EXPECT_EQ(path.value_or("<none>"), inBundle(expected)) << resource;
    else
      EXPECT_FALSE(path) << resource << " gave " << *path;
  }
  controller->setWwwFolderName("public");
  EXPECT_EQ(delegate->pathForResource("start.html").value_or("<none>"), inBundle("public/start.html"));
  controller.reset();
  EXPECT_FALSE(delegate->pathForResource("start.html")) << "no controller, no folder";
}
