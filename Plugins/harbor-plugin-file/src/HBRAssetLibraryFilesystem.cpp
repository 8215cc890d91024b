#include "HBRAssetLibraryFilesystem.h"

#include <algorithm>

#include "HBRLocalFilesystem.h"
#include "plat/assetslibrary/ALAssetsLibrary.h"
#include "plat/foundation/Log.h"
#include "plat/foundation/NSPathUtilities.h"
#include "plat/foundation/Strings.h"
#include "plat/mobilecoreservices/UTType.h"

namespace harbor {
namespace {

// "hbrfile://localhost/assets-library": what an hbrfile URL of the library begins with.
constexpr std::size_t kLocalURLPrefixLength = 34;
// Seconds from 1970-01-01 to the platform's reference date 2001-01-01.
constexpr double kReferenceDateOffset = 978307200.0;

HBRPluginResultPtr ioError(HBRFileError code) { return fileErrorResult(HBRCommandStatus::IOException, code); }
HBRPluginResultPtr unsupported(const char* what) {
  std::string text = std::string(what) + " not supported for assets-library URLs.";
  return HBRPluginResult::resultWithStatusMessageAsString(HBRCommandStatus::MalformedUrlException, std::move(text));
}

// A range of one asset's bytes.
class AssetReader : public HBRFileReader {
 public:
  AssetReader(plat::ALAssetRepresentationPtr representation, std::int64_t from, std::int64_t length)
      : representation_(std::move(representation)), from_(from), length_(static_cast<std::uint64_t>(length)) {}
  std::uint64_t length() const override { return length_; }
  long read(std::uint64_t offset, std::uint8_t* buffer, std::size_t size) override {
    if (offset >= length_) return 0;
    auto count = static_cast<std::size_t>(std::min<std::uint64_t>(size, length_ - offset));
    return representation_->readBytes(buffer, from_ + static_cast<std::int64_t>(offset), count);
  }

 private:
  plat::ALAssetRepresentationPtr representation_;
  std::int64_t from_;
  std::uint64_t length_;
};

}  // namespace

void HBRAssetLibraryFilesystem::initWithName(std::string name) { setName(std::move(name)); }

plat::NSURLPtr HBRAssetLibraryFilesystem::assetLibraryURLForLocalURL(const HBRFilesystemURLPtr& url) {
  auto source = url ? url->url() : nullptr;
  if (!source) return nullptr;
  if (source->scheme() == kHBRFileScheme) {
    const std::string& text = source->absoluteString();
    if (text.size() < kLocalURLPrefixLength) return nullptr;
    return plat::NSURL::URLWithString("assets-library:/" + text.substr(kLocalURLPrefixLength));
  }
  return source;
}

std::optional<std::string> HBRAssetLibraryFilesystem::getMimeTypeFromPath(const std::optional<std::string>& path) {
  return HBRLocalFilesystem::getMimeTypeFromPath(path);
}

// --- Entries ---

plat::Dictionary HBRAssetLibraryFilesystem::makeEntryForPath(const std::string& fullPath, bool isDirectory) {
  std::string entryPath = fullPath;
  if (isDirectory && (entryPath.empty() || entryPath.back() != '/')) entryPath += '/';
  std::string nativeURL = transformedURLText(plat::NSURL::URLWithString("assets-library:/" + fullPath));
  return plat::Dictionary{
      {"isFile", !isDirectory},
      {"isDirectory", isDirectory},
      {"fullPath", entryPath},
      // The query stays part of the name: it is what tells one asset from another.
      {"name", plat::lastPathComponent(fullPath)},
      {"filesystemName", name()},
      {"nativeURL", nativeURL},
  };
}

std::optional<plat::Dictionary> HBRAssetLibraryFilesystem::makeEntryForLocalURL(const HBRFilesystemURLPtr& url) {
  if (!url || !url->fullPath()) return std::nullopt;
  return makeEntryForPath(*url->fullPath(), false);
}

HBRPluginResultPtr HBRAssetLibraryFilesystem::entryForLocalURI(const HBRFilesystemURLPtr& url) {
  auto entry = makeEntryForLocalURL(url);
  if (!entry) return ioError(NOT_FOUND_ERR);
  return HBRPluginResult::resultWithStatusMessageAsDictionary(HBRCommandStatus::OK, std::move(*entry));
}

std::optional<std::string> HBRAssetLibraryFilesystem::filesystemPathForURL(const HBRFilesystemURLPtr& url) {
  auto source = url ? url->url() : nullptr;
  if (!source) return std::nullopt;
  std::string path;
  if (source->scheme() == kHBRAssetsLibraryScheme) {
    path = source->path();
  } else if (auto fullPath = url->fullPath()) {
    path = *fullPath;
  } else {
    return std::nullopt;
  }
  if (!path.empty() && path.back() == '/') path.pop_back();
  return path;
}

// --- Refusals ---

HBRPluginResultPtr HBRAssetLibraryFilesystem::getFileForURL(const HBRFilesystemURLPtr&,
                                                             const std::optional<std::string>&,
                                                             const plat::Dictionary&) {
  return unsupported("getFile");
}

HBRPluginResultPtr HBRAssetLibraryFilesystem::getParentForURL(const HBRFilesystemURLPtr&) {
  return ioError(NOT_READABLE_ERR);
}

HBRPluginResultPtr HBRAssetLibraryFilesystem::setMetadataForURL(const HBRFilesystemURLPtr&, const plat::Dictionary&) {
  return HBRPluginResult::resultWithStatus(HBRCommandStatus::Error);
}

HBRPluginResultPtr HBRAssetLibraryFilesystem::removeFileAtURL(const HBRFilesystemURLPtr&) {
  return ioError(INVALID_MODIFICATION_ERR);
}

HBRPluginResultPtr HBRAssetLibraryFilesystem::recursiveRemoveFileAtURL(const HBRFilesystemURLPtr&) {
  return unsupported("removeRecursively");
}

HBRPluginResultPtr HBRAssetLibraryFilesystem::readEntriesAtURL(const HBRFilesystemURLPtr&) {
  return unsupported("readEntries");
}

HBRPluginResultPtr HBRAssetLibraryFilesystem::truncateFileAtURL(const HBRFilesystemURLPtr&, std::uint64_t) {
  return ioError(NO_MODIFICATION_ALLOWED_ERR);
}

HBRPluginResultPtr HBRAssetLibraryFilesystem::writeToFileAtURL(const HBRFilesystemURLPtr&, const plat::Data&, bool) {
  return ioError(NO_MODIFICATION_ALLOWED_ERR);
}

void HBRAssetLibraryFilesystem::copyFileToURL(const HBRFilesystemURLPtr&, const std::optional<std::string>&,
                                              const HBRFileSystemPtr&, const HBRFilesystemURLPtr&, bool,
                                              HBRResultCallback callback) {
  callback(ioError(INVALID_MODIFICATION_ERR));
}

// --- Reading ---

void HBRAssetLibraryFilesystem::readFileAtURL(const HBRFilesystemURLPtr& url, std::int64_t start, std::int64_t end,
                                              HBRReadCallback callback) {
  readThroughReader(*this, url, start, end, std::move(callback));
}

void HBRAssetLibraryFilesystem::openFileAtURL(const HBRFilesystemURLPtr& url, std::int64_t start, std::int64_t end,
                                              HBROpenCallback callback) {
  auto library = std::make_shared<plat::ALAssetsLibrary>();
  library->assetForURL(
      assetLibraryURLForLocalURL(url),
      [start, end, callback](const plat::ALAssetPtr& asset) {
        auto representation = asset ? asset->defaultRepresentation() : nullptr;
        if (!representation) return callback(nullptr, std::nullopt, NOT_FOUND_ERR);
        // The page's range is clamped to the asset first, so neither a negative start nor a huge
        // end can size a read.
        std::int64_t size = std::max<std::int64_t>(representation->size(), 0);
        std::int64_t from = std::clamp<std::int64_t>(start, 0, size);
        std::int64_t length = end > from ? end - from : size;
        length = std::clamp<std::int64_t>(length, 0, size - from);
        auto mimeType = plat::UTTypeCopyPreferredTagWithClass(representation->UTI(), plat::kUTTagClassMIMEType);
        callback(std::make_shared<AssetReader>(representation, from, length), std::move(mimeType), 0);
      },
      [callback](const plat::NSError& error) {
        plat::NSLog("Error: " + error.description());
        callback(nullptr, std::nullopt, SECURITY_ERR);
      });
}

void HBRAssetLibraryFilesystem::getFileMetadataForURL(const HBRFilesystemURLPtr& url, HBRResultCallback callback) {
  auto library = std::make_shared<plat::ALAssetsLibrary>();
  std::string fullPath = url && url->fullPath() ? *url->fullPath() : std::string();
  library->assetForURL(
      assetLibraryURLForLocalURL(url),
      [fullPath, callback](const plat::ALAssetPtr& asset) {
        auto representation = asset ? asset->defaultRepresentation() : nullptr;
        if (!representation) return callback(ioError(NOT_FOUND_ERR));
        auto date = asset->date();
        auto type = getMimeTypeFromPath(representation->filename());
        plat::Dictionary metadata{
            {"size", std::max<std::int64_t>(representation->size(), 0)},
            {"fullPath", fullPath},
            {"name", representation->filename()},
            {"type", type ? plat::Value(*type) : plat::Value::null()},
            {"lastModifiedDate", date ? (*date + kReferenceDateOffset) * 1000.0 : 0.0},
        };
        callback(HBRPluginResult::resultWithStatusMessageAsDictionary(HBRCommandStatus::OK, std::move(metadata)));
      },
      [callback](const plat::NSError& error) {
        callback(HBRPluginResult::resultWithStatusMessageAsString(HBRCommandStatus::IOException,
                                                                  error.localizedDescription));
      });
}

}  // namespace harbor
