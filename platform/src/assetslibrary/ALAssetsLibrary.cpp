#include "plat/assetslibrary/ALAssetsLibrary.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <initializer_list>

#include "plat/dispatch/Queues.h"
#include "plat/foundation/NSFileManager.h"
#include "plat/foundation/NSPathUtilities.h"
#include "plat/foundation/NSUUID.h"
#include "plat/foundation/Strings.h"
#include "plat/imageio/ImageMetadata.h"
#include "plat/mobilecoreservices/UTType.h"
#include "plat/uikit/UIImage.h"

namespace plat {
namespace {

constexpr char kLibraryScheme[] = "assets-library";
constexpr char kAuthorizationFile[] = "Media/PhotoData/Authorization";

NSError libraryError(long code, std::string description) {
  NSError error;
  error.domain = ALAssetsLibraryErrorDomain;
  error.code = code;
  error.localizedDescription = std::move(description);
  return error;
}

std::string authorizationPath() { return stringByAppendingPathComponent(NSHomeDirectory(), kAuthorizationFile); }

std::optional<NSError> accessError() {
  switch (ALAssetsLibrary::authorizationStatus()) {
    case ALAuthorizationStatus::Denied:
      return libraryError(ALAssetsLibraryAccessUserDeniedError, "User denied access");
    case ALAuthorizationStatus::Restricted:
      return libraryError(ALAssetsLibraryAccessGloballyDeniedError, "Global denied access");
    default:
      return std::nullopt;
  }
}

bool isPlainExtension(std::string_view extension) {
  if (extension.empty() || extension.size() > 8) return false;
  for (char c : extension)
    if (!std::isalnum(static_cast<unsigned char>(c))) return false;
  return true;
}

bool isIdentifier(std::string_view id) {
  if (id.empty() || id.size() > 64) return false;
  for (char c : id)
    if (!std::isxdigit(static_cast<unsigned char>(c)) && c != '-') return false;
  return true;
}

std::string upper(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return out;
}

NSURLPtr assetURLFor(std::string_view id, std::string_view extension) {
  std::string ext = upper(extension);
  return NSURL::URLWithString(std::string(kLibraryScheme) + "://asset/asset." + ext + "?id=" + std::string(id) +
                              "&ext=" + ext);
}

// The id an asset URL names, or nothing when the URL is not one of the library's.
std::optional<std::string> identifierOf(const NSURLPtr& url) {
  if (!url || !url->scheme() || !equalsIgnoringCaseASCII(*url->scheme(), kLibraryScheme)) return std::nullopt;
  if (url->host() != std::optional<std::string>("asset") || !url->query()) return std::nullopt;
  std::string_view query = *url->query();
  while (!query.empty()) {
    std::size_t amp = query.find('&');
    std::string_view pair = query.substr(0, amp);
    if (pair.starts_with("id=")) {
      std::string_view id = pair.substr(3);
      if (!isIdentifier(id)) return std::nullopt;
      return upper(id);
    }
    if (amp == std::string_view::npos) break;
    query.remove_prefix(amp + 1);
  }
  return std::nullopt;
}

std::string typeForUTI(const std::string& uti) {
  if (UTTypeConformsTo(uti, kUTTypeImage)) return ALAssetTypePhoto;
  if (UTTypeConformsTo(uti, kUTTypeMovie)) return ALAssetTypeVideo;
  return ALAssetTypeUnknown;
}

// Looks the asset up by listing the folder, so that nothing taken from a URL is ever used to
// build a path.
ALAssetPtr findAsset(const std::string& id) {
  auto names = NSFileManager::defaultManager().contentsOfDirectoryAtPath(SimulatedPhotoLibrary::folderPath());
  if (!names) return nullptr;
  for (const auto& name : *names) {
    std::string extension = pathExtension(name);
    std::string stem = stringByDeletingPathExtension(name);
    if (!isPlainExtension(extension) || upper(stem) != id) continue;
    std::string path = stringByAppendingPathComponent(SimulatedPhotoLibrary::folderPath(), name);
    bool isDirectory = false;
    if (!NSFileManager::defaultManager().fileExistsAtPath(path, &isDirectory) || isDirectory) continue;
    std::string uti = UTTypeCreatePreferredIdentifierForTag(kUTTagClassFilenameExtension, extension).value_or("");
    NSURLPtr url = assetURLFor(id, extension);
    auto representation = std::make_shared<ALAssetRepresentation>(path, uti, name, url);
    return std::make_shared<ALAsset>(id, typeForUTI(uti), path, url, representation);
  }
  return nullptr;
}

std::optional<std::string> imageExtensionOf(const Data& data) {
  auto startsWith = [&](std::initializer_list<std::uint8_t> signature) {
    if (data.size() < signature.size()) return false;
    return std::equal(signature.begin(), signature.end(), data.begin());
  };
  if (startsWith({0xFF, 0xD8, 0xFF})) return "JPG";
  if (startsWith({0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A})) return "PNG";
  if (startsWith({'G', 'I', 'F', '8'})) return "GIF";
  return std::nullopt;
}

}  // namespace

ALAssetRepresentation::ALAssetRepresentation(std::string path, std::string uti, std::string filename, NSURLPtr url)
    : path_(std::move(path)), uti_(std::move(uti)), filename_(std::move(filename)), url_(std::move(url)) {}

std::int64_t ALAssetRepresentation::size() const {
  auto attributes = NSFileManager::defaultManager().attributesOfItemAtPath(path_);
  return attributes ? static_cast<std::int64_t>(attributes->size) : 0;
}

std::size_t ALAssetRepresentation::getBytes(std::uint8_t* buffer, std::int64_t offset, std::size_t length,
                                            NSError* error) const {
  auto fail = [&](std::string description) -> std::size_t {
    if (error) *error = libraryError(ALAssetsLibraryDataUnavailableError, std::move(description));
    return 0;
  };
  if (offset < 0) return fail("The offset is before the start of the asset.");
  if (length == 0) return 0;
  if (!buffer) return fail("No buffer to read into.");
  int fd = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return fail("The asset cannot be read: " + std::string(std::strerror(errno)) + ".");
  std::size_t total = 0;
  while (total < length) {
    ssize_t n = ::pread(fd, buffer + total, length - total, static_cast<off_t>(offset) + static_cast<off_t>(total));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      int err = errno;
      ::close(fd);
      return fail("The asset cannot be read: " + std::string(std::strerror(err)) + ".");
    }
    if (n == 0) break;
    total += static_cast<std::size_t>(n);
  }
  ::close(fd);
  return total;
}

ALAsset::ALAsset(std::string id, std::string type, std::string path, NSURLPtr url,
                 ALAssetRepresentationPtr representation)
    : id_(std::move(id)),
      type_(std::move(type)),
      path_(std::move(path)),
      url_(std::move(url)),
      representation_(std::move(representation)) {}

std::optional<double> ALAsset::date() const {
  auto attributes = NSFileManager::defaultManager().attributesOfItemAtPath(path_);
  if (!attributes) return std::nullopt;
  return attributes->modificationDate;
}

ALAuthorizationStatus ALAssetsLibrary::authorizationStatus() {
  auto text = readFileContents(authorizationPath());
  if (!text) return ALAuthorizationStatus::Authorized;
  if (*text == "denied") return ALAuthorizationStatus::Denied;
  if (*text == "restricted") return ALAuthorizationStatus::Restricted;
  if (*text == "notDetermined") return ALAuthorizationStatus::NotDetermined;
  return ALAuthorizationStatus::Authorized;
}

void ALAssetsLibrary::assetForURL(const NSURLPtr& assetURL, AssetResultBlock resultBlock, FailureBlock failureBlock) {
  if (auto error = accessError()) {
    dispatch::mainAsync([failureBlock = std::move(failureBlock), error = *error] {
      if (failureBlock) failureBlock(error);
    });
    return;
  }
  auto id = identifierOf(assetURL);
  ALAssetPtr asset = id ? findAsset(*id) : nullptr;
  dispatch::mainAsync([resultBlock = std::move(resultBlock), asset] {
    if (resultBlock) resultBlock(asset);
  });
}

void ALAssetsLibrary::writeImageDataToSavedPhotosAlbum(const Data& imageData, const Value& metadata,
                                                       WriteCompletionBlock completion) {
  NSURLPtr url;
  std::optional<NSError> error = accessError();
  if (!error) {
    if (auto extension = imageExtensionOf(imageData)) {
      const Data* bytes = &imageData;
      Result<Data> merged = Failure{""};
      if (*extension == "JPG" && metadata.isDictionary() && !metadata.asDictionary().empty()) {
        merged = CGImageDestinationCopyJPEGWithMetadata(imageData, metadata.asDictionary());
        if (merged) bytes = &*merged;
      }
      url = SimulatedPhotoLibrary::addAsset(*bytes, *extension);
      if (!url) error = libraryError(ALAssetsLibraryWriteFailedError, "Write failed");
    } else {
      error = libraryError(ALAssetsLibraryWriteInvalidDataError, "Invalid data");
    }
  }
  dispatch::mainAsync([completion = std::move(completion), url, error] {
    if (completion) completion(url, error);
  });
}

void ALAssetsLibrary::writeImageToSavedPhotosAlbum(const std::shared_ptr<const struct CGImage>& image,
                                                   long orientation, WriteCompletionBlock completion) {
  auto picture = UIImage::imageWithCGImage(image, 1.0, static_cast<UIImageOrientation>(orientation < 0 || orientation > 7 ? 0 : orientation));
  Data bytes = picture ? UIImageJPEGRepresentation(*picture, 1.0) : Data{};
  writeImageDataToSavedPhotosAlbum(bytes, Value(), std::move(completion));
}

std::string SimulatedPhotoLibrary::folderPath() {
  return stringByAppendingPathComponent(NSHomeDirectory(), "Media/DCIM");
}

NSURLPtr SimulatedPhotoLibrary::addAsset(const Data& bytes, std::string_view extension, std::optional<double> date) {
  if (!isPlainExtension(extension)) return nullptr;
  auto& files = NSFileManager::defaultManager();
  if (!files.createDirectoryAtPath(folderPath(), true)) return nullptr;
  std::string id = NSUUIDString();
  std::string path = stringByAppendingPathComponent(folderPath(), id + "." + upper(extension));
  if (!files.createFileAtPath(path, bytes)) return nullptr;
  if (date) files.setModificationDate(*date, path);
  return assetURLFor(id, extension);
}

bool SimulatedPhotoLibrary::removeAsset(const NSURLPtr& assetURL) {
  auto id = identifierOf(assetURL);
  if (!id) return false;
  auto asset = findAsset(*id);
  if (!asset) return false;
  return NSFileManager::defaultManager().removeItemAtPath(
      stringByAppendingPathComponent(folderPath(), asset->defaultRepresentation()->filename()));
}

void SimulatedPhotoLibrary::removeAllAssets() { NSFileManager::defaultManager().removeItemAtPath(folderPath()); }

void SimulatedPhotoLibrary::setAuthorizationStatus(ALAuthorizationStatus status) {
  std::string path = authorizationPath();
  if (status == ALAuthorizationStatus::Authorized) {
    NSFileManager::defaultManager().removeItemAtPath(path);
    return;
  }
  const char* text = status == ALAuthorizationStatus::Denied       ? "denied"
                     : status == ALAuthorizationStatus::Restricted ? "restricted"
                                                                   : "notDetermined";
  NSFileManager::defaultManager().createDirectoryAtPath(stringByDeletingLastPathComponent(path), true);
  writeFileContentsAtomically(path, text);
}

}  // namespace plat
