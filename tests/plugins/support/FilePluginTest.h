#pragma once
// The File plugin in a sandbox: created through the registry with a view controller whose
// settings a test chooses, page actions sent through the command queue, and the answer read
// back once the background reads and writes and the photo library have delivered it.
#include <memory>
#include <string>

#include "HBRFile.h"
#include "HBRViewController.h"
#include "support/PluginTest.h"

namespace harbor::testing {

// The statuses the File plugin answers with.
inline constexpr int kFileNoResult = 0;
inline constexpr int kFileOK = 1;
inline constexpr int kFileMalformed = 5;
inline constexpr int kFileIOError = 6;
inline constexpr int kFileError = 9;

class FilePluginTest : public PluginTest {
 protected:
  void SetUp() override;
  void TearDown() override;

  // (Re)creates the plugin with these preferences (lower-cased names) on its view controller.
  void makePlugin(const plat::Dictionary& settings = {});

  // Sends the action and waits for its one answer; a failed expectation and status -1 when
  // none or several came.
  PageCallback call(const std::string& action, const plat::Array& arguments = {});

  // "hbrfile://localhost/<fs><fullPath>".
  static std::string fileURL(const std::string& fileSystem, const std::string& fullPath) {
    return "hbrfile://localhost/" + fileSystem + fullPath;
  }
  std::string documents(const std::string& relative) const { return inHome("Documents/" + relative); }

  std::shared_ptr<HBRViewController> viewController;
  std::shared_ptr<HBRFile> file;
};

// Expects status and a bare integer message.
void expectCode(const PageCallback& answer, int status, int code);

}  // namespace harbor::testing
