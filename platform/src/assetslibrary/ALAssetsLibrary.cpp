#include "plat/assetslibrary/ALAssetsLibrary.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <initializer_list>

#include "plat/dispatch/Queues.h"
#include "plat/foundation/NSFileManager.h"
#include "plat/foundation/NSPathUtilities.h"
#include "plat/foundation/NSUUID.h"
#include "plat/foundation/Strings.h"
#include "plat/imageio/ImageMetadata.h"
#include "plat/mobilecoreservices/UTType.h"
#include "plat/foundation/PropertyList.h"
#include "plat/uikit/UIGraphics.h"
#include "plat/uikit/UIImage.h"
#include "plat/uikit/UIScreen.h"

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

constexpr char kAlbumsFile[] = "Media/PhotoData/Albums";

std::string albumsPath() { return stringByAppendingPathComponent(NSHomeDirectory(), kAlbumsFile); }

// Every asset id of the library, oldest first (then by id, so the order is stable).
std::vector<std::string> savedPhotoIds() {
  std::vector<std::pair<double, std::string>> dated;
  auto names = NSFileManager::defaultManager().contentsOfDirectoryAtPath(SimulatedPhotoLibrary::folderPath());
  for (const auto& name : names.value_or(std::vector<std::string>{})) {
    std::string id = upper(stringByDeletingPathExtension(name));
    if (!isIdentifier(id) || !isPlainExtension(pathExtension(name))) continue;
    auto attributes =
        NSFileManager::defaultManager().attributesOfItemAtPath(stringByAppendingPathComponent(SimulatedPhotoLibrary::folderPath(), name));
    dated.emplace_back(attributes ? attributes->modificationDate : 0.0, id);
  }
  std::sort(dated.begin(), dated.end());
  std::vector<std::string> ids;
  for (auto& [date, id] : dated) ids.push_back(std::move(id));
  return ids;
}

Data assetBytes(const ALAssetRepresentation& representation) {
  Data bytes(static_cast<std::size_t>(std::max<std::int64_t>(0, representation.size())));
  bytes.resize(representation.getBytes(bytes.data(), 0, bytes.size()));
  return bytes;
}

std::shared_ptr<UIImage> drawn(const UIImage& image, CGSize size, CGRect rect) {
  UIGraphicsBeginImageContext(size);
  image.drawInRect(rect);
  auto result = UIGraphicsGetImageFromCurrentImageContext();
  UIGraphicsEndImageContext();
  return result;
}

}  // namespace

std::shared_ptr<const CGImage> ALAssetRepresentation::fullResolutionImage() const {
  auto image = UIImage::imageWithData(assetBytes(*this));
  return image ? image->CGImage() : nullptr;
}

long ALAssetRepresentation::orientation() const {
  auto properties = CGImageSourceCopyProperties(assetBytes(*this));
  if (!properties) return UIImageOrientationUp;
  const Value& exif = (*properties)[kCGImagePropertyTIFFDictionary]["Orientation"];
  return UIImageOrientationFromExif(exif.isNumber() ? static_cast<long>(exif.asInt()) : 0);
}

std::shared_ptr<const CGImage> ALAssetRepresentation::fullScreenImage() const {
  auto bitmap = fullResolutionImage();
  if (!bitmap) return nullptr;
  auto image = UIImage::imageWithCGImage(bitmap, 1.0, static_cast<UIImageOrientation>(orientation()));
  CGSize size = image->size();
  CGSize screen = UIScreen::mainScreen().bounds().size;
  double scale = std::min({1.0, screen.width / size.width, screen.height / size.height});
  CGSize fitted{std::max(1.0, std::floor(size.width * scale)), std::max(1.0, std::floor(size.height * scale))};
  auto result = drawn(*image, fitted, {{0, 0}, fitted});
  return result ? result->CGImage() : nullptr;
}

std::shared_ptr<UIImage> ALAsset::thumbnail() const {
  if (type_ != ALAssetTypePhoto) return nullptr;
  auto bitmap = representation_->fullResolutionImage();
  if (!bitmap) return nullptr;
  auto image = UIImage::imageWithCGImage(bitmap, 1.0, static_cast<UIImageOrientation>(representation_->orientation()));
  CGSize size = image->size();
  double scale = 75.0 / std::min(size.width, size.height);
  CGSize scaled{size.width * scale, size.height * scale};
  return drawn(*image, {75, 75}, {{(75 - scaled.width) * 0.5, (75 - scaled.height) * 0.5}, scaled});
}

ALAssetsGroup::ALAssetsGroup(unsigned long type, std::string name, std::vector<std::string> ids)
    : type_(type), name_(std::move(name)), ids_(std::move(ids)) {}

std::vector<ALAssetPtr> ALAssetsGroup::assets() const {
  std::vector<ALAssetPtr> found;
  for (const auto& id : ids_) {
    auto asset = findAsset(id);
    if (!asset) continue;
    if (filter_ == AllPhotos && asset->type() != ALAssetTypePhoto) continue;
    if (filter_ == AllVideos && asset->type() != ALAssetTypeVideo) continue;
    found.push_back(std::move(asset));
  }
  return found;
}

long ALAssetsGroup::numberOfAssets() const { return static_cast<long>(assets().size()); }

std::shared_ptr<UIImage> ALAssetsGroup::posterImage() const {
  auto all = assets();
  return all.empty() ? nullptr : all.back()->thumbnail();
}

void ALAssetsGroup::enumerateAssetsUsingBlock(
    const std::function<void(const ALAssetPtr& asset, std::size_t index, bool& stop)>& block) const {
  bool stop = false;
  auto all = assets();
  for (std::size_t i = 0; i < all.size() && !stop; ++i) block(all[i], i, stop);
  if (!stop) block(nullptr, all.size(), stop);
}

void ALAssetsLibrary::enumerateGroupsWithTypes(unsigned long types, GroupBlock block, FailureBlock failureBlock) {
  if (auto error = accessError()) {
    dispatch::mainAsync([failureBlock = std::move(failureBlock), error = *error] {
      if (failureBlock) failureBlock(error);
    });
    return;
  }
  std::vector<ALAssetsGroupPtr> groups;
  if (types & ALAssetsGroupAlbum) {
    auto albums = plist::readFromFile(albumsPath());
    if (albums && albums->isArray()) {
      for (const auto& album : albums->asArray()) {
        std::vector<std::string> ids;
        for (const auto& id : album["assets"].isArray() ? album["assets"].asArray() : Array{})
          if (id.isString() && isIdentifier(id.asString())) ids.push_back(upper(id.asString()));
        groups.push_back(std::make_shared<ALAssetsGroup>(ALAssetsGroupAlbum, album["name"].stringOr(), std::move(ids)));
      }
    }
  }
  if (types & ALAssetsGroupSavedPhotos)
    groups.push_back(std::make_shared<ALAssetsGroup>(ALAssetsGroupSavedPhotos, "Camera Roll", savedPhotoIds()));
  dispatch::mainAsync([groups = std::move(groups), block = std::move(block)] {
    if (!block) return;
    bool stop = false;
    for (const auto& group : groups) {
      block(group, stop);
      if (stop) return;
    }
    block(nullptr, stop);
  });
}

bool SimulatedPhotoLibrary::addAlbum(const std::string& name, const std::vector<NSURLPtr>& assetURLs) {
  Array albums;
  if (auto stored = plist::readFromFile(albumsPath()); stored && stored->isArray()) albums = stored->asArray();
  Array ids;
  for (const auto& url : assetURLs)
    if (auto id = identifierOf(url)) ids.emplace_back(*id);
  albums.emplace_back(Dictionary{{"name", Value(name)}, {"assets", Value(std::move(ids))}});
  NSFileManager::defaultManager().createDirectoryAtPath(stringByDeletingLastPathComponent(albumsPath()), true);
  return plist::writeToFile(Value(std::move(albums)), albumsPath());
}

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

long ALAssetRepresentation::readBytes(std::uint8_t* buffer, std::int64_t offset, std::size_t length) const {
  NSError error;
  std::size_t count = getBytes(buffer, offset, length, &error);
  return error.domain.empty() ? static_cast<long>(count) : -1;
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

void SimulatedPhotoLibrary::removeAllAssets() {
  NSFileManager::defaultManager().removeItemAtPath(folderPath());
  NSFileManager::defaultManager().removeItemAtPath(albumsPath());
}

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
