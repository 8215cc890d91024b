#pragma once
// Fixture for tests that touch files: on top of PlatformTest, a fresh sandbox home in a
// temporary folder (Documents, Library/Caches, Library/Preferences, tmp) with an application
// bundle "Harbor.app" inside it (Info.plist with CFBundleIdentifier "org.harbor.tests"), set as
// the process's home and main bundle. User defaults, device, locale (en_US, its language
// preferred) and application start fresh, in the time zone America/New_York, under the usual
// umask 022 (whatever the process had); assertion failures throw plat::NSException. Everything
// is removed afterwards.
#include <sys/stat.h>

#include <string>
#include <string_view>

#include "plat/foundation/NSException.h"
#include "plat/foundation/Value.h"
#include "plat/testing/PlatformTest.h"

namespace plat::testing {

// Another umask for the life of the object (new files and folders follow it).
class ScopedUmask {
 public:
  explicit ScopedUmask(mode_t mask) : old_(::umask(mask)) {}
  ~ScopedUmask() { ::umask(old_); }
  ScopedUmask(const ScopedUmask&) = delete;
  ScopedUmask& operator=(const ScopedUmask&) = delete;

 private:
  mode_t old_;
};

class SandboxTest : public PlatformTest {
 protected:
  static constexpr char kBundleIdentifier[] = "org.harbor.tests";

  void SetUp() override;
  void TearDown() override;

  const std::string& home() const { return home_; }
  const std::string& bundlePath() const { return bundle_; }
  // home() joined with a relative path.
  std::string inHome(std::string_view relative) const;
  std::string inBundle(std::string_view relative) const;

  // Writes a whole file, creating missing folders. Fails the test on error.
  void writeFile(const std::string& path, std::string_view contents);
  // The file's contents, or "<missing>" when it cannot be read.
  std::string readFile(const std::string& path);
  bool exists(const std::string& path);
  void setModificationDate(const std::string& path, double date);
  double modificationDate(const std::string& path);
  // Rewrites Info.plist of the main bundle and reloads the bundle.
  void writeInfoPlist(const Dictionary& info);

  // The reason of the assertion failure that f raised, or "" when there was none (assertion
  // failures throw in tests).
  template <class F>
  static std::string assertionOf(F&& f) {
    try {
      f();
    } catch (const NSException& e) {
      return e.reason();
    }
    return {};
  }

 private:
  mode_t umaskBefore_ = 022;
  std::string root_;
  std::string home_;
  std::string bundle_;
};

}  // namespace plat::testing
