// Feeds arbitrary text to the File plugin's URL parser and to the mapping from full paths to
// local paths, as a hostile page would send them. Whatever the text, parsing must not crash,
// and a local path that comes out must lie inside the file system's root once its links are
// resolved: a path that leaves the root is a finding, not just a crash.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <unistd.h>

#include "HBRFile.h"
#include "HBRFilesystemURL.h"
#include "HBRLocalFilesystem.h"
#include "plat/foundation/Log.h"
#include "plat/foundation/NSPathUtilities.h"

namespace {

// A root of its own with a few entries and a link that points out, made once per process.
std::string& root() {
  static std::string path;
  return path;
}

std::string& folder() {
  static std::string path;
  return path;
}

std::shared_ptr<harbor::HBRLocalFilesystem>& fileSystem() {
  static std::shared_ptr<harbor::HBRLocalFilesystem> fs;
  return fs;
}

bool insideRoot(const std::string& path) {
  std::error_code ec;
  auto resolved = std::filesystem::weakly_canonical(path, ec);
  // A link that cannot be resolved at all, and a name longer than the file system takes
  // (ENAMETOOLONG), are refused by the mapping; reaching here with either is treated as
  // outside. The seed "long-name" holds such a name.
  if (ec) return false;
  return plat::pathIsInsideFolder(resolved.string(), root());
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  plat::setLogSink([](std::string_view) {});
  std::string pattern = (std::filesystem::temp_directory_path() / "harbor-fuzz-file-XXXXXX").string();
  if (!::mkdtemp(pattern.data())) std::abort();
  folder() = std::filesystem::canonical(pattern).string();
  std::atexit([] {
    std::error_code ec;
    std::filesystem::remove_all(folder(), ec);
  });
  root() = folder() + "/root";
  std::filesystem::create_directories(root() + "/dir/sub");
  std::filesystem::create_symlink(pattern, root() + "/out");
  std::filesystem::create_symlink(pattern + "/not-yet", root() + "/dangling");
  fileSystem() = std::make_shared<harbor::HBRLocalFilesystem>();
  fileSystem()->initWithName("persistent", root());
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  auto& fs = *fileSystem();

  // The text as a whole URL, and behind the file system's own prefix.
  for (const std::string& candidate : {text, "hbrfile://localhost/persistent/" + text}) {
    auto url = harbor::HBRFilesystemURL::fileSystemURLWithString(candidate);
    url->absoluteURL();
    if (auto path = fs.filesystemPathForURL(url)) {
      if (!insideRoot(*path)) __builtin_trap();
    }
    if (auto encoded = harbor::HBRFile::encodePath(candidate)) {
      harbor::HBRFilesystemURL::fileSystemURLWithString(*encoded);
    }
  }

  // The text as a full path, and as a path relative to a folder the way getFile joins it.
  if (auto path = fs.filesystemPathForFullPath(text)) {
    if (!insideRoot(*path)) __builtin_trap();
  }
  std::string normalized = harbor::HBRLocalFilesystem::normalizePath("/dir/" + text);
  if (normalized.find("/../") != std::string::npos) __builtin_trap();
  if (auto path = fs.filesystemPathForFullPath(normalized)) {
    if (!insideRoot(*path)) __builtin_trap();
  }
  if (auto full = fs.fullPathForFileSystemPath(root() + text)) {
    fs.URLforFullPath(full);
  }
  return 0;
}
