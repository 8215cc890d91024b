// What the plugin base finds for a plugin beyond its engine: its own resource bundle's localized
// strings and images, and the application delegate.
#include <gtest/gtest.h>

#include "HBRPlugin.h"
#include "plat/foundation/NSLocale.h"
#include "plat/testing/SandboxTest.h"
#include "plat/uikit/UIApplication.h"
#include "plat/uikit/UIApplicationDelegate.h"
#include "plat/uikit/UIImage.h"
#include "plat/uikit/UIScreen.h"

using namespace harbor;

namespace {

// Its resources are "ResourcePlugin.bundle", after its class name.
class ResourcePlugin : public HBRPlugin {};
// Has no bundle of its own.
class BarePlugin : public HBRPlugin {};

class PlainAppDelegate : public plat::Object, public plat::UIApplicationDelegate {};

std::string png(std::size_t width, std::size_t height) {
  auto image = plat::UIImage::imageWithCGImage(plat::CGImageCreateBlank(width, height));
  plat::Data bytes = plat::UIImagePNGRepresentation(*image);
  return std::string(bytes.begin(), bytes.end());
}

class PluginResourcesTest : public plat::testing::SandboxTest {
 protected:
  void SetUp() override {
    SandboxTest::SetUp();
    plugin = std::make_shared<ResourcePlugin>();
    plugin->initWithWebViewEngine(nullptr);
  }
  void TearDown() override {
    plat::UIScreen::mainScreen().setScale(2);
    plat::UIApplication::resetSharedApplication();
    SandboxTest::TearDown();
  }
  std::shared_ptr<ResourcePlugin> plugin;
};

TEST_F(PluginResourcesTest, LocalizedStringsComeFromThePluginsOwnBundle) {
  writeFile(inBundle("ResourcePlugin.bundle/en.lproj/Localizable.strings"),
            "\"stop\" = \"Stop recording\";\n\"only-en\" = \"English only\";\n");
  writeFile(inBundle("ResourcePlugin.bundle/de.lproj/Localizable.strings"), "\"stop\" = \"Aufnahme beenden\";\n");
  // The application's own table is not the plugin's.
  writeFile(inBundle("en.lproj/Localizable.strings"), "\"app\" = \"From the application\";\n");
  auto bare = std::make_shared<BarePlugin>();
  bare->initWithWebViewEngine(nullptr);

  struct Case {
    const char* locale;
    const std::shared_ptr<HBRPlugin>& plugin;
    const char* key;
    const char* expected;
  } cases[] = {
      {"en_US", plugin, "stop", "Stop recording"},
      {"de_DE", plugin, "stop", "Aufnahme beenden"},
      {"de_DE", plugin, "only-en", "English only"},  // the development region fills gaps
      {"en_US", plugin, "missing", "missing"},
      {"en_US", plugin, "app", "app"},
      {"en_US", bare, "stop", "stop"},
  };
  for (const Case& c : cases) {
    plat::NSLocale::setCurrentLocaleIdentifier(c.locale);
    EXPECT_EQ(c.plugin->pluginLocalizedString(c.key), c.expected) << c.locale << " " << c.key;
  }
}

TEST_F(PluginResourcesTest, ImagesComeFromThePluginsOwnBundleAtTheScreensScale) {
  writeFile(inBundle("ResourcePlugin.bundle/icon.png"), png(1, 1));
  writeFile(inBundle("ResourcePlugin.bundle/icon@2x.png"), png(2, 2));
  writeFile(inBundle("ResourcePlugin.bundle/plain.png"), png(3, 3));
  writeFile(inBundle("ResourcePlugin.bundle/broken.png"), "not a picture");
  writeFile(inBundle("ResourcePlugin.bundle/named.png.txt"), png(1, 1));
  // Beside the application bundle, out of any plugin's reach.
  writeFile(bundlePath() + "/../escape.png", png(1, 1));

  struct Case {
    double screenScale;
    const char* name;
    std::size_t width;  // 0: no image
    double scale;
  } cases[] = {
      {2, "icon", 2, 2},          {1, "icon", 1, 1},    {3, "icon", 1, 1},
      {2, "icon.png", 1, 1},      {2, "plain", 3, 1},   {2, "missing", 0, 0},
      {2, "broken", 0, 0},        {2, "named.png.txt", 1, 1},
      {2, "../../escape", 0, 0},
  };
  for (const Case& c : cases) {
    plat::UIScreen::mainScreen().setScale(c.screenScale);
    auto image = plugin->pluginImageResource(c.name);
    if (c.width == 0) {
      EXPECT_FALSE(image) << c.name;
      continue;
    }
    ASSERT_TRUE(image) << c.name << " at scale " << c.screenScale;
    EXPECT_EQ(image->CGImage()->width, c.width) << c.name;
    EXPECT_EQ(image->scale(), c.scale) << c.name;
  }
}

TEST_F(PluginResourcesTest, TheAppDelegateIsTheSharedApplications) {
  EXPECT_FALSE(plugin->appDelegate());
  auto delegate = std::make_shared<PlainAppDelegate>();
  plat::UIApplication::sharedApplication()->setDelegate(delegate);
  EXPECT_EQ(plugin->appDelegate(), delegate);
}

}  // namespace
