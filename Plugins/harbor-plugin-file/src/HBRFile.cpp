#include "HBRFile.h"

#include <algorithm>
#include <filesystem>
#include <new>
#include <utility>

#include "HBRAssetLibraryFilesystem.h"
#include "HBRFilesystemURLProtocol.h"
#include "HBRLocalFilesystem.h"
#include "HBRPreferences.h"
#include "HBRViewController.h"
#include "plat/foundation/JSON.h"
#include "plat/foundation/Log.h"
#include "plat/foundation/NSBundle.h"
#include "plat/foundation/NSException.h"
#include "plat/foundation/NSFileManager.h"
#include "plat/foundation/NSPathUtilities.h"
#include "plat/foundation/Strings.h"

namespace harbor {
namespace {

constexpr char kPersistentLocationSetting[] = "iospersistentfilelocation";
constexpr char kExtraFileSystemsSetting[] = "iosextrafilesystems";
constexpr char kFileURLPrefix[] = "file://";
// Characters a URL may carry unescaped once encodePath has redone its escapes: the unreserved
// ones and the delimiters a URL is made of, but not "#": a "#" in a name would end the path.
constexpr char kURLAllowed[] = "!$&'()*+,;=:@/?";

std::mutex& filePluginMutex() {
  static auto* m = new std::mutex;
  return *m;
}

// Held for the life of the process, never destroyed: the protocol may ask for it while the
// process ends.
HBRFilePtr& filePluginReference() {
  static auto* plugin = new HBRFilePtr;
  return *plugin;
}

HBRPluginResultPtr ioError(HBRFileError code) { return fileErrorResult(HBRCommandStatus::IOException, code); }
// A read that failed, with the read's code.
HBRPluginResultPtr readError(std::int32_t code) { return ioError(static_cast<HBRFileError>(code)); }

std::string firstDirectory(plat::NSSearchPathDirectory directory) {
  auto paths = plat::NSSearchPathForDirectoriesInDomains(directory, plat::NSUserDomainMask, true);
  return paths.empty() ? std::string() : paths.front();
}

// The path with its symbolic links resolved as far as it exists, so that the roots and the
// resolved paths of file: URLs compare as plain text.
std::string resolved(const std::string& path) {
  std::error_code ec;
  auto real = std::filesystem::weakly_canonical(path, ec);
  return ec ? path : plat::stringByStandardizingPath(real.string());
}

HBRLocalFilesystemPtr localFilesystem(const std::string& name, const std::string& root) {
  auto fileSystem = std::make_shared<HBRLocalFilesystem>();
  fileSystem->initWithName(name, resolved(root));
  return fileSystem;
}

std::vector<std::string> splitAtCommas(const std::string& text) {
  std::vector<std::string> pieces;
  std::size_t start = 0;
  for (;;) {
    auto comma = text.find(',', start);
    pieces.push_back(text.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
    if (comma == std::string::npos) return pieces;
    start = comma + 1;
  }
}

// The command's string argument, or nothing when it is missing or of another kind.
std::optional<std::string> stringArgument(const HBRInvokedUrlCommandPtr& command, std::size_t index) {
  const plat::Value& value = command->argumentAtIndex(index);
  if (!value.isString()) return std::nullopt;
  return value.asString();
}

plat::Dictionary dictionaryArgument(const HBRInvokedUrlCommandPtr& command, std::size_t index) {
  const plat::Value& value = command->argumentAtIndex(index);
  return value.isDictionary() ? value.asDictionary() : plat::Dictionary{};
}

std::int64_t integerArgument(const HBRInvokedUrlCommandPtr& command, std::size_t index) {
  return command->argumentAtIndex(index).asInt();
}

std::string fileURLText(const std::string& path) {
  auto url = plat::NSURL::fileURLWithPath(path);
  return url ? url->absoluteString() : std::string();
}

// At least what the JSON text of a Base64 answer holds besides its Base64 and its MIME type.
constexpr std::uint64_t kBase64Surroundings = 64;

// Where the complete UTF-8 sequences among bytes [from, have) end: before the last sequence
// when its bytes may not all be in yet.
std::size_t completeSequencesEnd(std::string_view bytes, std::size_t from, std::size_t have) {
  std::size_t i = have;
  auto byte = [&](std::size_t at) { return static_cast<unsigned char>(bytes[at]); };
  while (i > from && have - i < 3 && (byte(i - 1) & 0xC0) == 0x80) --i;
  if (i > from && byte(i - 1) >= 0xC0) return i - 1;
  return have;
}

}  // namespace

HBRFile::HBRFile() {
  registerAction("requestFileSystem", &HBRFile::requestFileSystem);
  registerAction("requestAllFileSystems", &HBRFile::requestAllFileSystems);
  registerAction("requestAllPaths", &HBRFile::requestAllPaths);
  registerAction("resolveLocalFileSystemURI", &HBRFile::resolveLocalFileSystemURI);
  registerAction("getDirectory", &HBRFile::getDirectory);
  registerAction("getFile", &HBRFile::getFile);
  registerAction("getParent", &HBRFile::getParent);
  registerAction("setMetadata", &HBRFile::setMetadata);
  registerAction("remove", &HBRFile::remove);
  registerAction("removeRecursively", &HBRFile::removeRecursively);
  registerAction("copyTo", &HBRFile::copyTo);
  registerAction("moveTo", &HBRFile::moveTo);
  registerAction("getFileMetadata", &HBRFile::getFileMetadata);
  registerAction("readEntries", &HBRFile::readEntries);
  registerAction("readAsText", &HBRFile::readAsText);
  registerAction("readAsDataURL", &HBRFile::readAsDataURL);
  registerAction("readAsArrayBuffer", &HBRFile::readAsArrayBuffer);
  registerAction("readAsBinaryString", &HBRFile::readAsBinaryString);
  registerAction("truncate", &HBRFile::truncate);
  registerAction("write", &HBRFile::write);
  registerAction("testFileExists", &HBRFile::testFileExists);
  registerAction("testDirectoryExists", &HBRFile::testDirectoryExists);
  registerAction("getFreeDiskSpace", &HBRFile::getFreeDiskSpace);
  registerAction("_getLocalFilesystemPath", &HBRFile::getLocalFilesystemPath);
}

// ---- Registry ----

HBRFilePtr HBRFile::filePlugin() {
  std::lock_guard lock(filePluginMutex());
  return filePluginReference();
}

void HBRFile::pluginInitialize() {
  {
    std::lock_guard lock(filePluginMutex());
    filePluginReference() = self<HBRFile>();
  }
  HBRFilesystemURLProtocol::registerClass();
  {
    std::lock_guard lock(mutex_);
    fileSystems_.clear();
  }

  appLibraryPath_ = plat::stringByAppendingPathComponent(firstDirectory(plat::NSLibraryDirectory), "files");
  appTempPath_ = plat::stringByStandardizingPath(plat::NSTemporaryDirectory());
  rootDocsPath_ = firstDirectory(plat::NSDocumentDirectory);
  appDocsPath_ = plat::stringByAppendingPathComponent(rootDocsPath_, "files");

  std::string location = "compatibility";
  auto controller = std::dynamic_pointer_cast<HBRViewController>(viewController());
  if (controller) {
    const plat::Value& setting = harborSettingForKey(controller->settings(), kPersistentLocationSetting);
    if (setting.isString()) location = plat::toLowerASCII(setting.asString());
  }

  auto& fm = plat::NSFileManager::defaultManager();
  plat::NSError error;
  if (fm.createDirectoryAtPath(appTempPath_, true, &error)) {
    registerFilesystem(localFilesystem("temporary", appTempPath_));
  } else {
    plat::NSLog("Unable to create temporary directory: " + error.description());
  }

  if (location == "library") {
    if (fm.createDirectoryAtPath(appLibraryPath_, true, &error)) {
      registerFilesystem(localFilesystem("persistent", appLibraryPath_));
    } else {
      plat::NSLog("Unable to create library directory: " + error.description());
    }
  } else if (location == "compatibility") {
    registerFilesystem(localFilesystem("persistent", rootDocsPath_));
  } else {
    plat::NSAssertionFailure(kHBRFileConfigurationError);
  }

  auto library = std::make_shared<HBRAssetLibraryFilesystem>();
  library->initWithName(kHBRAssetsLibraryFileSystemName);
  registerFilesystem(library);

  registerExtraFileSystems(getExtraFileSystemsPreference(), getAvailableFileSystems());
}

void HBRFile::registerFilesystem(const HBRFileSystemPtr& fileSystem) {
  if (!fileSystem) return;
  std::weak_ptr<HBRFile> weak = weakSelf<HBRFile>();
  fileSystem->setUrlTransformer([weak](const plat::NSURLPtr& url) -> plat::NSURLPtr {
    auto self = weak.lock();
    auto delegate = self ? self->commandDelegate() : nullptr;
    auto transformer = delegate ? delegate->urlTransformer() : nullptr;
    if (!transformer || !url) return url;
    auto transformed = plat::NSURL::URLWithString(transformer(url->absoluteString()));
    return transformed ? transformed : url;
  });
  std::lock_guard lock(mutex_);
  fileSystems_.push_back(fileSystem);
}

std::vector<HBRFileSystemPtr> HBRFile::fileSystems() const {
  std::lock_guard lock(mutex_);
  return fileSystems_;
}

std::vector<std::string> HBRFile::getExtraFileSystemsPreference() const {
  auto controller = std::dynamic_pointer_cast<HBRViewController>(viewController());
  if (controller) {
    const plat::Value& setting = harborSettingForKey(controller->settings(), kExtraFileSystemsSetting);
    if (setting.isString()) return splitAtCommas(plat::toLowerASCII(setting.asString()));
  }
  return splitAtCommas(kHBRDefaultExtraFileSystems);
}

std::vector<std::pair<std::string, std::string>> HBRFile::getAvailableFileSystems() {
  std::string library = firstDirectory(plat::NSLibraryDirectory);
  std::string documents = firstDirectory(plat::NSDocumentDirectory);
  auto bundle = plat::NSBundle::mainBundle();
  return {
      {"library", library},
      {"library-nosync", plat::stringByAppendingPathComponent(library, "NoCloud")},
      {"documents", documents},
      {"documents-nosync", plat::stringByAppendingPathComponent(documents, "NoCloud")},
      {"cache", firstDirectory(plat::NSCachesDirectory)},
      {"bundle", bundle ? bundle->bundlePath() : std::string()},
      // The device's "/" would hand pages the whole machine: the sandbox home stands in for it.
      {"root", plat::NSHomeDirectory()},
  };
}

void HBRFile::registerExtraFileSystems(const std::vector<std::string>& names,
                                       const std::vector<std::pair<std::string, std::string>>& available) {
  auto rootOf = [&](const std::string& name) -> std::optional<std::string> {
    for (const auto& [candidate, root] : available)
      if (candidate == name) return root;
    return std::nullopt;
  };
  for (const char* nosync : {"library-nosync", "documents-nosync"}) {
    if (std::find(names.begin(), names.end(), nosync) == names.end()) continue;
    if (auto root = rootOf(nosync)) makeNonSyncable(*root);
  }
  std::vector<std::string> installed;
  for (const auto& name : names) {
    if (std::find(installed.begin(), installed.end(), name) != installed.end()) continue;
    auto root = rootOf(name);
    if (!root) {
      plat::NSLog("Unrecognized extra filesystem identifier: " + name);
      continue;
    }
    if (root->empty()) continue;  // a folder this process does not have (no main bundle)
    auto fileSystem = localFilesystem(name, *root);
    // An installed application's bundle is never changed, whatever a page asks.
    fileSystem->setReadOnly(name == "bundle");
    registerFilesystem(fileSystem);
    installed.push_back(name);
  }
}

void HBRFile::makeNonSyncable(const std::string& path) {
  plat::NSFileManager::defaultManager().createDirectoryAtPath(path, true);
  if (auto url = plat::NSURL::fileURLWithPath(path, true)) {
    url->setResourceValue(plat::Value(true), plat::NSURLIsExcludedFromBackupKey);
  }
}

// ---- Shared file service ----

HBRFileSystemPtr HBRFile::fileSystemByName(const std::string& name) const {
  std::lock_guard lock(mutex_);
  for (const auto& fileSystem : fileSystems_)
    if (fileSystem->name() == name) return fileSystem;
  return nullptr;
}

HBRFileSystemPtr HBRFile::filesystemForURL(const HBRFilesystemURLPtr& url) const {
  auto name = url ? url->fileSystemName() : std::nullopt;
  return name ? fileSystemByName(*name) : nullptr;
}

HBRFilesystemURLPtr HBRFile::fileSystemURLforArg(const std::string& arg) const {
  if (plat::startsWith(arg, kFileURLPrefix)) {
    auto url = plat::NSURL::URLWithString(arg);
    if (url && url->isFileURL()) {
      if (auto found = fileSystemURLforLocalPath(resolved(url->path()))) return found;
    }
    // A file URL outside every file system names nothing.
    return HBRFilesystemURL::fileSystemURLWithURL(nullptr);
  }
  return HBRFilesystemURL::fileSystemURLWithString(arg);
}

HBRFilesystemURLPtr HBRFile::fileSystemURLforLocalPath(const std::string& localPath) const {
  HBRFilesystemURLPtr best;
  std::size_t bestLength = 0;
  for (const auto& fileSystem : fileSystems()) {
    auto url = fileSystem->URLforFilesystemPath(localPath);
    if (!url || !url->fullPath()) continue;
    std::size_t length = url->fullPath()->size();
    if (!best || length < bestLength) {
      best = url;
      bestLength = length;
    }
  }
  return best;
}

bool HBRFile::isWritableLocalPath(const std::string& localPath) const {
  bool held = false;
  for (const auto& fileSystem : fileSystems()) {
    auto url = fileSystem->URLforFilesystemPath(localPath);
    if (!url || !url->fullPath()) continue;
    auto local = std::dynamic_pointer_cast<HBRLocalFilesystem>(fileSystem);
    if (local && local->isReadOnly()) return false;
    held = true;
  }
  return held;
}

std::optional<std::string> HBRFile::filesystemPathForURL(const HBRFilesystemURLPtr& url) const {
  auto name = url ? url->fileSystemName() : std::nullopt;
  if (!name) return std::nullopt;
  for (const auto& fileSystem : fileSystems()) {
    if (fileSystem->name() != *name) continue;
    if (auto path = fileSystem->filesystemPathForURL(url)) return path;
  }
  return std::nullopt;
}

std::optional<plat::Dictionary> HBRFile::makeEntryForPath(const std::string& fullPath,
                                                          const std::string& fileSystemName, bool isDirectory) const {
  auto fileSystem = fileSystemByName(fileSystemName);
  if (!fileSystem) return std::nullopt;
  return fileSystem->makeEntryForPath(fullPath, isDirectory);
}

std::optional<plat::Dictionary> HBRFile::makeEntryForLocalURL(const HBRFilesystemURLPtr& url) const {
  auto fileSystem = filesystemForURL(url);
  if (!fileSystem) return std::nullopt;
  return fileSystem->makeEntryForLocalURL(url);
}

std::optional<plat::Dictionary> HBRFile::makeEntryForURL(const plat::NSURLPtr& url) const {
  if (!url) return std::nullopt;
  return makeEntryForLocalURL(fileSystemURLforArg(url->absoluteString()));
}

std::optional<plat::Dictionary> HBRFile::getDirectoryEntry(const std::string& localPath, bool isDirectory) const {
  auto url = fileSystemURLforLocalPath(localPath);
  if (!url || !url->fullPath() || !url->fileSystemName()) return std::nullopt;
  return makeEntryForPath(*url->fullPath(), *url->fileSystemName(), isDirectory);
}

std::optional<std::string> HBRFile::getMimeTypeFromPath(const std::optional<std::string>& path) {
  return HBRLocalFilesystem::getMimeTypeFromPath(path);
}

std::optional<std::uint64_t> HBRFile::checkFreeDiskSpace(const std::string& path) {
  auto attributes = plat::NSFileManager::defaultManager().attributesOfFileSystemForPath(path);
  if (!attributes) return std::nullopt;
  return attributes->freeSize;
}

std::optional<std::string> HBRFile::encodePath(const std::string& text) {
  auto decoded = plat::percentDecode(text);
  if (!decoded || !plat::isValidUTF8(*decoded)) return std::nullopt;
  return plat::percentEscape(*decoded, kURLAllowed);
}

bool HBRFile::isInsideSandbox(const std::string& path) {
  if (!plat::isAbsolutePath(path) || path.find('\0') != std::string::npos) return false;
  std::string real = resolved(path);
  auto bundle = plat::NSBundle::mainBundle();
  return plat::pathIsInsideFolder(real, resolved(plat::NSHomeDirectory())) ||
         (bundle && plat::pathIsInsideFolder(real, resolved(bundle->bundlePath())));
}

// ---- Page actions ----

void HBRFile::send(const HBRInvokedUrlCommandPtr& command, const HBRPluginResultPtr& result) const {
  if (auto delegate = commandDelegate()) delegate->sendPluginResult(result, command->callbackId());
}

HBRFilesystemURLPtr HBRFile::urlArgument(const HBRInvokedUrlCommandPtr& command, std::size_t index) const {
  auto text = stringArgument(command, index);
  return text ? fileSystemURLforArg(*text) : nullptr;
}

void HBRFile::requestFileSystem(const HBRInvokedUrlCommandPtr& command) {
  auto type = static_cast<std::int32_t>(integerArgument(command, 0));
  auto size = integerArgument(command, 1);
  auto systems = fileSystems();
  if (type < 0 || static_cast<std::size_t>(type) >= systems.size()) {
    plat::NSLog("No filesystem of type requested");
    return send(command, fileErrorResult(HBRCommandStatus::Error, NOT_FOUND_ERR));
  }
  // Compared unsigned: a negative size never fits.
  auto free = checkFreeDiskSpace(rootDocsPath_);
  if (free && *free < static_cast<std::uint64_t>(size)) return send(command, ioError(QUOTA_EXCEEDED_ERR));
  const auto& fileSystem = systems[static_cast<std::size_t>(type)];
  plat::Dictionary answer{{"name", fileSystem->name()}, {"root", fileSystem->makeEntryForPath("/", true)}};
  send(command, HBRPluginResult::resultWithStatusMessageAsDictionary(HBRCommandStatus::OK, std::move(answer)));
}

void HBRFile::requestAllFileSystems(const HBRInvokedUrlCommandPtr& command) {
  plat::Array roots;
  for (const auto& fileSystem : fileSystems()) roots.emplace_back(fileSystem->makeEntryForPath("/", true));
  send(command, HBRPluginResult::resultWithStatusMessageAsArray(HBRCommandStatus::OK, std::move(roots)));
}

void HBRFile::requestAllPaths(const HBRInvokedUrlCommandPtr& command) {
  std::string library = firstDirectory(plat::NSLibraryDirectory);
  std::string cloud = plat::stringByAppendingPathComponent(library, "Cloud");
  std::string noCloud = plat::stringByAppendingPathComponent(library, "NoCloud");
  plat::NSFileManager::defaultManager().createDirectoryAtPath(cloud, true);
  makeNonSyncable(noCloud);
  auto bundle = plat::NSBundle::mainBundle();
  plat::Dictionary paths{
      {"applicationDirectory", fileURLText(bundle ? bundle->bundlePath() : std::string())},
      {"applicationStorageDirectory", fileURLText(plat::stringByDeletingLastPathComponent(library))},
      {"dataDirectory", fileURLText(noCloud)},
      {"syncedDataDirectory", fileURLText(cloud)},
      {"documentsDirectory", fileURLText(firstDirectory(plat::NSDocumentDirectory))},
      {"cacheDirectory", fileURLText(firstDirectory(plat::NSCachesDirectory))},
      {"tempDirectory", fileURLText(plat::NSTemporaryDirectory())},
  };
  send(command, HBRPluginResult::resultWithStatusMessageAsDictionary(HBRCommandStatus::OK, std::move(paths)));
}

void HBRFile::resolveLocalFileSystemURI(const HBRInvokedUrlCommandPtr& command) {
  auto text = stringArgument(command, 0);
  auto encoded = text ? encodePath(*text) : std::nullopt;
  auto url = encoded ? fileSystemURLforArg(*encoded) : nullptr;
  auto fileSystem = filesystemForURL(url);
  if (!fileSystem) return send(command, fileErrorResult(HBRCommandStatus::Error, ENCODING_ERR));
  send(command, fileSystem->entryForLocalURI(url));
}

void HBRFile::getDirectory(const HBRInvokedUrlCommandPtr& command) {
  plat::Array arguments = command->arguments();
  plat::Dictionary options = dictionaryArgument(command, 2);
  options.set("getDir", 1);
  // Padded, so that the options land at their own position even when the path is missing.
  while (arguments.size() < 3) arguments.emplace_back(plat::Value::null());
  arguments[2] = plat::Value(std::move(options));
  getFile(std::make_shared<HBRInvokedUrlCommand>(std::move(arguments), command->callbackId(), command->className(),
                                                 command->methodName()));
}

void HBRFile::answerFromFileSystem(const HBRInvokedUrlCommandPtr& command, const FileSystemWork& work) {
  auto url = urlArgument(command, 0);
  if (!url) return send(command, ioError(NOT_FOUND_ERR));
  auto fileSystem = filesystemForURL(url);
  // Answered as hbrfile loading answers such a URL (404): a page waits for every answer.
  if (!fileSystem) return send(command, ioError(NOT_FOUND_ERR));
  send(command, work(url, fileSystem));
}

void HBRFile::getFile(const HBRInvokedUrlCommandPtr& command) {
  answerFromFileSystem(command, [&](const HBRFilesystemURLPtr& url, const HBRFileSystemPtr& fileSystem) {
    return fileSystem->getFileForURL(url, stringArgument(command, 1), dictionaryArgument(command, 2));
  });
}

void HBRFile::getParent(const HBRInvokedUrlCommandPtr& command) {
  answerFromFileSystem(command, [](const HBRFilesystemURLPtr& url, const HBRFileSystemPtr& fileSystem) {
    return fileSystem->getParentForURL(url);
  });
}

void HBRFile::setMetadata(const HBRInvokedUrlCommandPtr& command) {
  answerFromFileSystem(command, [&](const HBRFilesystemURLPtr& url, const HBRFileSystemPtr& fileSystem) {
    return fileSystem->setMetadataForURL(url, dictionaryArgument(command, 1));
  });
}

namespace {
// A file system's root (its full path is empty) is never removed.
bool isRootOfFileSystem(const HBRFilesystemURLPtr& url) { return url->fullPath() && url->fullPath()->empty(); }
}  // namespace

void HBRFile::remove(const HBRInvokedUrlCommandPtr& command) {
  answerFromFileSystem(command, [](const HBRFilesystemURLPtr& url, const HBRFileSystemPtr& fileSystem) {
    return isRootOfFileSystem(url) ? ioError(NO_MODIFICATION_ALLOWED_ERR) : fileSystem->removeFileAtURL(url);
  });
}

void HBRFile::removeRecursively(const HBRInvokedUrlCommandPtr& command) {
  answerFromFileSystem(command, [](const HBRFilesystemURLPtr& url, const HBRFileSystemPtr& fileSystem) {
    return isRootOfFileSystem(url) ? ioError(NO_MODIFICATION_ALLOWED_ERR) : fileSystem->recursiveRemoveFileAtURL(url);
  });
}

void HBRFile::copyTo(const HBRInvokedUrlCommandPtr& command) { doCopyMove(command, true); }

void HBRFile::moveTo(const HBRInvokedUrlCommandPtr& command) { doCopyMove(command, false); }

void HBRFile::doCopyMove(const HBRInvokedUrlCommandPtr& command, bool isCopy) {
  auto srcText = stringArgument(command, 0);
  auto destText = stringArgument(command, 1);
  if (!srcText || !destText) return send(command, ioError(NOT_FOUND_ERR));
  auto srcURL = fileSystemURLforArg(*srcText);
  auto destURL = fileSystemURLforArg(*destText);
  auto srcFs = filesystemForURL(srcURL);
  auto destFs = filesystemForURL(destURL);
  std::optional<std::string> newName;
  if (command->arguments().size() >= 3) {
    newName = stringArgument(command, 2);
  } else if (auto srcPath = srcURL->fullPath()) {
    newName = plat::lastPathComponent(HBRLocalFilesystem::stripQueryParametersFromPath(*srcPath));
  }
  if (newName && newName->find(':') != std::string::npos) return send(command, ioError(ENCODING_ERR));
  if (!srcFs || !destFs) return send(command, ioError(NOT_FOUND_ERR));
  if (!newName) return send(command, ioError(ENCODING_ERR));
  std::weak_ptr<HBRFile> weak = weakSelf<HBRFile>();
  destFs->copyFileToURL(destURL, newName, srcFs, srcURL, isCopy, [weak, command](HBRPluginResultPtr result) {
    if (auto self = weak.lock()) self->send(command, result);
  });
}

void HBRFile::getFileMetadata(const HBRInvokedUrlCommandPtr& command) {
  auto url = urlArgument(command, 0);
  auto fileSystem = filesystemForURL(url);
  if (!fileSystem) return send(command, ioError(NOT_FOUND_ERR));
  std::weak_ptr<HBRFile> weak = weakSelf<HBRFile>();
  fileSystem->getFileMetadataForURL(url, [weak, command](HBRPluginResultPtr result) {
    if (auto self = weak.lock()) self->send(command, result);
  });
}

void HBRFile::readEntries(const HBRInvokedUrlCommandPtr& command) {
  answerFromFileSystem(command, [](const HBRFilesystemURLPtr& url, const HBRFileSystemPtr& fileSystem) {
    return fileSystem->readEntriesAtURL(url);
  });
}

void HBRFile::readAsText(const HBRInvokedUrlCommandPtr& command) { readAs(command, ReadKind::Text); }
void HBRFile::readAsDataURL(const HBRInvokedUrlCommandPtr& command) { readAs(command, ReadKind::DataURL); }
void HBRFile::readAsArrayBuffer(const HBRInvokedUrlCommandPtr& command) { readAs(command, ReadKind::ArrayBuffer); }
void HBRFile::readAsBinaryString(const HBRInvokedUrlCommandPtr& command) { readAs(command, ReadKind::BinaryString); }

void HBRFile::readAs(const HBRInvokedUrlCommandPtr& command, ReadKind kind) {
  auto url = urlArgument(command, 0);
  auto fileSystem = filesystemForURL(url);
  if (!fileSystem) return send(command, ioError(NOT_FOUND_ERR));
  // readAsText carries an encoding before its range.
  std::size_t rangeAt = kind == ReadKind::Text ? 2 : 1;
  if (kind == ReadKind::Text) {
    auto encoding = stringArgument(command, 1);
    if (!encoding || !plat::equalsIgnoringCaseASCII(*encoding, "UTF-8")) {
      plat::NSLog("Only UTF-8 encodings are currently supported by readAsText");
      return send(command, ioError(ENCODING_ERR));
    }
  }
  std::int64_t start = integerArgument(command, rangeAt);
  std::int64_t end = integerArgument(command, rangeAt + 1);
  auto delegate = commandDelegate();
  if (!delegate) return;
  std::weak_ptr<HBRFile> weak = weakSelf<HBRFile>();
  delegate->runInBackground([weak, command, kind, fileSystem, url, start, end] {
    auto answer = [weak, command, kind, url](HBRFileReaderPtr reader, std::optional<std::string> mimeType,
                                             std::int32_t error) {
      auto self = weak.lock();
      if (!self) return;
      if (!reader) return self->send(command, readError(error));
      self->send(command, readWithinBound(kind, *reader, mimeType, [&] {
                   return command->methodName() + " of " + (url && url->url() ? url->url()->absoluteString() : "");
                 }));
    };
    fileSystem->openFileAtURL(url, start, end, answer);
  });
}

HBRPluginResultPtr HBRFile::readWithinBound(ReadKind kind, HBRFileReader& reader,
                                            const std::optional<std::string>& mimeType,
                                            const std::function<std::string()>& what) {
  // What the answer takes as JSON text, the form that crosses the bridge: Base64 forms are
  // known from the length alone; text and binary strings are counted as their bytes come in, a
  // piece at a time, since an escape can take six characters for one byte ("\u0000").
  bool base64 = kind == ReadKind::DataURL || kind == ReadKind::ArrayBuffer;
  std::uint64_t length = reader.length();
  std::uint64_t answer;
  if (base64) {
    // Base64's four characters for three bytes, and room for what surrounds them: the data URL's
    // "data:<type>;base64," or the binary message's {"HBRType":"ArrayBuffer","data":...}.
    answer = kBase64Surroundings + mimeType.value_or("").size() + (length + 2) / 3 * 4;
  } else {
    answer = length + 2;  // no byte takes less than one character, and the quotes
  }
  auto refuse = [&] {
    plat::NSLog("File: " + what() + " refused: its answer would pass the bridge's bound of " +
                std::to_string(HBRPluginResult::kMaxMessageJSONBytes) + " bytes (the range holds " +
                std::to_string(length) + " bytes)");
    return ioError(NOT_READABLE_ERR);
  };
  // Refused before a byte is read, and before the memory for them is asked for.
  if (answer > HBRPluginResult::kMaxMessageJSONBytes) return refuse();
  std::size_t counted = 0;
  std::uint64_t escaped = 2;
  bool past = false;
  // Counts the bytes in so far; a text's last sequence waits for the rest of its bytes, as the
  // escape of U+2028 or U+2029 depends on all three. A text's pieces end only where a sequence
  // begins, so checking each as UTF-8 here checks the whole text: nothing checks it again.
  auto count = [&](std::string_view in, bool last) -> std::int32_t {
    std::size_t upTo = in.size();
    if (kind == ReadKind::Text && !last) upTo = completeSequencesEnd(in, counted, in.size());
    std::string_view piece = in.substr(counted, upTo - counted);
    if (kind == ReadKind::Text && !plat::isValidUTF8(piece)) return ENCODING_ERR;
    escaped += (kind == ReadKind::Text ? plat::json::quotedLength(piece)
                                       : plat::json::quotedLength(plat::latin1ToUTF8(piece))) - 2;
    counted = upTo;
    past = escaped > HBRPluginResult::kMaxMessageJSONBytes;
    return past ? NOT_READABLE_ERR : 0;
  };
  std::int32_t error = 0;
  try {
    if (base64) {
      auto bytes = readWholeRange(reader, error);
      return bytes ? base64Result(kind, *bytes, mimeType) : readError(error);
    }
    // Read straight into the string: a text, checked as it came in, is the answer as it stands.
    auto text = readWholeRange<std::string>(reader, error, [&](std::string_view in) { return count(in, false); });
    if (text) error = count(*text, true);
    if (past) return refuse();
    if (!text || error != 0) return readError(error);
    return HBRPluginResult::resultWithStatusMessageAsString(
        HBRCommandStatus::OK, kind == ReadKind::Text ? std::move(*text) : plat::latin1ToUTF8(*text));
  } catch (const std::bad_alloc&) {
    // The answer's own text (Base64, a binary string's UTF-8) is as large again: refused, not an
    // abort.
    plat::NSLog("File: " + what() + " refused: not enough memory for its answer");
    return ioError(NOT_READABLE_ERR);
  }
}

HBRPluginResultPtr HBRFile::base64Result(ReadKind kind, const plat::Data& bytes,
                                         const std::optional<std::string>& mimeType) {
  if (kind == ReadKind::ArrayBuffer)
    return HBRPluginResult::resultWithStatusMessageAsArrayBuffer(HBRCommandStatus::OK, bytes);
  std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  return HBRPluginResult::resultWithStatusMessageAsString(
      HBRCommandStatus::OK, "data:" + mimeType.value_or("") + ";base64," + plat::base64Encode(text));
}

void HBRFile::truncate(const HBRInvokedUrlCommandPtr& command) {
  answerFromFileSystem(command, [&](const HBRFilesystemURLPtr& url, const HBRFileSystemPtr& fileSystem) {
    return fileSystem->truncateFileAtURL(url, static_cast<std::uint64_t>(integerArgument(command, 1)));
  });
}

void HBRFile::write(const HBRInvokedUrlCommandPtr& command) {
  auto text = stringArgument(command, 0);
  if (!text) return send(command, ioError(NOT_FOUND_ERR));
  auto delegate = commandDelegate();
  if (!delegate) return;
  std::weak_ptr<HBRFile> weak = weakSelf<HBRFile>();
  delegate->runInBackground([weak, command, urlText = *text] {
    auto self = weak.lock();
    if (!self) return;
    auto url = self->fileSystemURLforArg(urlText);
    auto fileSystem = self->filesystemForURL(url);
    const plat::Value& data = command->argumentAtIndex(1);
    auto position = static_cast<std::uint64_t>(integerArgument(command, 2));
    bool valid = data.isString() || data.isData();
    plat::Data bytes;
    if (data.isString()) {
      // Page text is UTF-8 already; anything that is not becomes U+FFFD rather than a refusal.
      const std::string& string = data.asString();
      std::string utf8 = plat::isValidUTF8(string) ? string : plat::sanitizeUTF8(string);
      bytes.assign(utf8.begin(), utf8.end());
    } else if (data.isData()) {
      bytes = data.asData();
    }
    // A write puts its bytes at the position and drops whatever followed, as one change that is
    // whole or not at all at every position (the file system's rule). Data of another kind is
    // refused after the cut, as the cut comes first.
    if (!valid) {
      if (fileSystem) fileSystem->truncateFileAtURL(url, position);
      return self->send(command, HBRPluginResult::resultWithStatusMessageAsString(HBRCommandStatus::Error,
                                                                                 "Invalid parameter type"));
    }
    if (!fileSystem) return self->send(command, ioError(NOT_FOUND_ERR));
    self->send(command, fileSystem->writeToFileAtURLAtPosition(url, bytes, position));
  });
}

void HBRFile::testFileExists(const HBRInvokedUrlCommandPtr& command) {
  auto path = stringArgument(command, 0);
  bool exists = path && isInsideSandbox(*path) && plat::NSFileManager::defaultManager().fileExistsAtPath(*path);
  send(command, HBRPluginResult::resultWithStatusMessageAsInt(HBRCommandStatus::OK, exists ? 1 : 0));
}

void HBRFile::testDirectoryExists(const HBRInvokedUrlCommandPtr& command) {
  auto path = stringArgument(command, 0);
  bool isDirectory = false;
  bool exists = path && isInsideSandbox(*path) &&
                plat::NSFileManager::defaultManager().fileExistsAtPath(*path, &isDirectory);
  send(command, HBRPluginResult::resultWithStatusMessageAsInt(HBRCommandStatus::OK, exists && isDirectory ? 1 : 0));
}

void HBRFile::getFreeDiskSpace(const HBRInvokedUrlCommandPtr& command) {
  auto free = checkFreeDiskSpace(rootDocsPath_);
  std::string bytes = std::to_string(free.value_or(0));
  send(command, HBRPluginResult::resultWithStatusMessageAsString(HBRCommandStatus::OK, std::move(bytes)));
}

void HBRFile::getLocalFilesystemPath(const HBRInvokedUrlCommandPtr& command) {
  auto url = urlArgument(command, 0);
  auto path = filesystemPathForURL(url);
  if (!path) {
    return send(command, HBRPluginResult::resultWithStatusMessageAsString(HBRCommandStatus::Error,
                                                                          "Cannot resolve URL to a file"));
  }
  send(command, HBRPluginResult::resultWithStatusMessageAsString(HBRCommandStatus::OK, *path));
}

}  // namespace harbor
