#include "plat/testing/SandboxTest.h"

#include <cstdlib>

#include "plat/addressbook/ABAddressBook.h"
#include "plat/foundation/NSBundle.h"
#include "plat/foundation/NSException.h"
#include "plat/foundation/NSFileManager.h"
#include "plat/foundation/NSLocale.h"
#include "plat/foundation/NSPathUtilities.h"
#include "plat/foundation/NSTimeZone.h"
#include "plat/foundation/NSUserDefaults.h"
#include "plat/foundation/PropertyList.h"
#include "plat/testing/KilledWriter.h"
#include "plat/uikit/UIApplication.h"
#include "plat/uikit/UIScreen.h"
#include "plat/uikit/UIDevice.h"

namespace plat::testing {

void SandboxTest::SetUp() {
  PlatformTest::SetUp();
  umaskBefore_ = ::umask(022);
  const char* folder = std::getenv(kTestFolderVariable);
  std::string pattern = std::string(folder && *folder ? folder : "/tmp") + "/harbor-test-XXXXXX";
  ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
  root_ = pattern;
  home_ = root_ + "/home";
  bundle_ = home_ + "/Harbor.app";
  ASSERT_TRUE(createSandboxFolders(home_));
  ASSERT_TRUE(NSFileManager::defaultManager().createDirectoryAtPath(bundle_, true));
  setHomeDirectory(home_);
  writeInfoPlist(Dictionary{{"CFBundleIdentifier", kBundleIdentifier}, {"CFBundleName", "Harbor"}});
  NSUserDefaults::resetStandardUserDefaults();
  UIDevice::resetCurrentDevice();
  UIApplication::resetSharedApplication();
  // A fresh device: nobody has been asked for the address book yet.
  SimulatedAddressBookAccess::reset();
  UIScreen::mainScreen().reset();
  NSLocale::setCurrentLocaleIdentifier("en_US");
  NSLocale::setPreferredLanguages(std::nullopt);
  // A zone with daylight-saving time, whatever the host's zone is.
  NSTimeZone::setDefaultTimeZone(NSTimeZone::timeZoneWithName("America/New_York"));
  setAssertionHandler(throwingAssertionHandler());
}

void SandboxTest::TearDown() {
  setAssertionHandler(nullptr);
  SimulatedAddressBookAccess::reset();
  NSUserDefaults::resetStandardUserDefaults();
  NSBundle::setMainBundlePath({});
  setHomeDirectory({});
  NSLocale::setCurrentLocaleIdentifier("en_US");
  NSLocale::setPreferredLanguages(std::nullopt);
  NSTimeZone::setDefaultTimeZone(nullptr);
  if (!root_.empty()) NSFileManager::defaultManager().removeItemAtPath(root_);
  ::umask(umaskBefore_);
  PlatformTest::TearDown();
}

std::string SandboxTest::inHome(std::string_view relative) const {
  return stringByAppendingPathComponent(home_, relative);
}

std::string SandboxTest::inBundle(std::string_view relative) const {
  return stringByAppendingPathComponent(bundle_, relative);
}

void SandboxTest::writeFile(const std::string& path, std::string_view contents) {
  NSError error;
  ASSERT_TRUE(NSFileManager::defaultManager().createDirectoryAtPath(stringByDeletingLastPathComponent(path), true,
                                                                   &error))
      << error.description();
  ASSERT_TRUE(writeFileContentsAtomically(path, contents, &error)) << error.description();
}

std::string SandboxTest::readFile(const std::string& path) { return readFileContents(path).value_or("<missing>"); }

bool SandboxTest::exists(const std::string& path) { return NSFileManager::defaultManager().fileExistsAtPath(path); }

void SandboxTest::setModificationDate(const std::string& path, double date) {
  NSError error;
  ASSERT_TRUE(NSFileManager::defaultManager().setModificationDate(date, path, &error)) << error.description();
}

double SandboxTest::modificationDate(const std::string& path) {
  auto attributes = NSFileManager::defaultManager().attributesOfItemAtPath(path);
  return attributes ? attributes->modificationDate : -1;
}

void SandboxTest::writeInfoPlist(const Dictionary& info) {
  NSError error;
  ASSERT_TRUE(plist::writeToFile(Value(info), inBundle("Info.plist"), &error)) << error.description();
  NSBundle::setMainBundlePath(bundle_);
}

}  // namespace plat::testing
