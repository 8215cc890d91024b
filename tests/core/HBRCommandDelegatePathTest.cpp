#include <gtest/gtest.h>

#include "HBRCommandDelegateImpl.h"
#include "plat/testing/SandboxTest.h"

using namespace harbor;

namespace {

class StubController : public HBRCommandBridgeController {
 public:
  std::string www = "www";
  plat::ObjectPtr getCommandInstance(const std::string&) override { return nullptr; }
  std::shared_ptr<HBRCommandQueue> commandQueue() override { return nullptr; }
  std::shared_ptr<HBRCommandDelegate> commandDelegate() override { return nullptr; }
  std::shared_ptr<HBRWebViewEngineProtocol> webViewEngine() override { return nullptr; }
  std::string wwwFolderName() override { return www; }
  std::string userAgent() override { return {}; }
  const plat::Dictionary& settings() override { return settings_; }

 private:
  plat::Dictionary settings_;
};

class PathForResourceTest : public plat::testing::SandboxTest {};

}  // namespace

TEST_F(PathForResourceTest, FindsFilesUnderTheWwwFolderOnly) {
  writeFile(inBundle("www/index.html"), "");
  writeFile(inBundle("www/js/plugins/app.js"), "");
  writeFile(inBundle("config.xml"), "");
  writeFile(inBundle("public/start.html"), "");
  auto controller = std::make_shared<StubController>();
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
  controller->www = "public";
  EXPECT_EQ(delegate->pathForResource("start.html").value_or("<none>"), inBundle("public/start.html"));
  controller.reset();
  EXPECT_FALSE(delegate->pathForResource("start.html")) << "no controller, no folder";
}
