#pragma once
// The device's photo library, simulated: photos and videos kept as files in the folder
// "Media/DCIM" of the sandbox home, one file "<id>.<EXT>" per asset, its date the file's
// modification date. An asset is addressed by its URL,
//   assets-library://asset/asset.<EXT>?id=<id>&ext=<EXT>
// where <id> is an upper-case UUID. Whether the application may read the library is part of the
// simulated device (SimulatedPhotoLibrary below), as the user's answer to the system's prompt.
//
// Lookups answer asynchronously, on a later turn of the main run loop, as the platform does:
// an asset, nothing (no such asset, or not a URL of the library), or a failure when access is
// refused. A URL never names a file outside the library folder: the id and extension must be a
// UUID and a plain extension, and the file is found by listing the folder.
//
// Threads: any thread may ask; answers always arrive on the main thread. Assets and
// representations read their file when asked, so a removed asset reads as an error.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "plat/foundation/NSError.h"
#include "plat/foundation/NSURL.h"
#include "plat/foundation/Object.h"
#include "plat/foundation/Value.h"

namespace plat {

inline constexpr char ALAssetsLibraryErrorDomain[] = "ALAssetsLibraryErrorDomain";
enum ALAssetsLibraryErrorCode : long {
  ALAssetsLibraryUnknownError = -1,
  ALAssetsLibraryWriteFailedError = -3300,
  ALAssetsLibraryWriteBusyError = -3301,
  ALAssetsLibraryWriteInvalidDataError = -3302,
  ALAssetsLibraryDataUnavailableError = -3310,
  ALAssetsLibraryAccessUserDeniedError = -3311,
  ALAssetsLibraryAccessGloballyDeniedError = -3312,
};

inline constexpr char ALAssetTypePhoto[] = "ALAssetTypePhoto";
inline constexpr char ALAssetTypeVideo[] = "ALAssetTypeVideo";
inline constexpr char ALAssetTypeUnknown[] = "ALAssetTypeUnknown";

enum class ALAuthorizationStatus { NotDetermined = 0, Restricted = 1, Denied = 2, Authorized = 3 };

// Kinds of album group, as flags.
enum ALAssetsGroupType : unsigned long {
  ALAssetsGroupLibrary = 1,
  ALAssetsGroupAlbum = 2,
  ALAssetsGroupEvent = 4,
  ALAssetsGroupFaces = 8,
  ALAssetsGroupSavedPhotos = 16,
  ALAssetsGroupPhotoStream = 32,
  ALAssetsGroupAll = 0xFFFFFFFFul,
};

class UIImage;
struct CGImage;
class ALAssetRepresentation;
class ALAsset;
class ALAssetsLibrary;
using ALAssetRepresentationPtr = std::shared_ptr<ALAssetRepresentation>;
using ALAssetPtr = std::shared_ptr<ALAsset>;
using ALAssetsLibraryPtr = std::shared_ptr<ALAssetsLibrary>;

// One stored form of an asset: its bytes, type and file name.
class ALAssetRepresentation : public Object {
 public:
  // The uniform type identifier ("public.jpeg", "com.apple.quicktime-movie", ...).
  const std::string& UTI() const { return uti_; }
  const std::string& filename() const { return filename_; }
  // The size in bytes now; 0 when the file is gone.
  std::int64_t size() const;
  // The asset's URL.
  const NSURLPtr& url() const { return url_; }
  // Copies up to length bytes from offset into buffer and returns how many were copied (fewer at
  // the end of the asset, 0 past it). A negative offset or an unreadable file copies nothing and
  // fills error.
  std::size_t getBytes(std::uint8_t* buffer, std::int64_t offset, std::size_t length, NSError* error = nullptr) const;
  // getBytes as a stream reads a piece, for whoever serves an asset a piece at a time: the
  // count, 0 at the end of the asset, -1 when it cannot be read.
  long readBytes(std::uint8_t* buffer, std::int64_t offset, std::size_t length) const;

  // The picture decoded, as stored (none for a movie or bytes that do not decode), and the
  // UIImageOrientation its Exif data states (up without one).
  std::shared_ptr<const CGImage> fullResolutionImage() const;
  long orientation() const;
  // The picture upright, fitted into the screen.
  std::shared_ptr<const CGImage> fullScreenImage() const;

  // Made by the library.
  ALAssetRepresentation(std::string path, std::string uti, std::string filename, NSURLPtr url);

 private:
  std::string path_;
  std::string uti_;
  std::string filename_;
  NSURLPtr url_;
};

class ALAsset : public Object {
 public:
  const std::string& identifier() const { return id_; }
  // ALAssetTypePhoto, ALAssetTypeVideo or ALAssetTypeUnknown.
  const std::string& type() const { return type_; }
  // Seconds since the reference date; nothing when the date cannot be read.
  std::optional<double> date() const;
  const NSURLPtr& assetURL() const { return url_; }
  ALAssetRepresentationPtr defaultRepresentation() const { return representation_; }
  // A 75 x 75 picture of the middle of the photo; none for a movie.
  std::shared_ptr<UIImage> thumbnail() const;

  // Made by the library.
  ALAsset(std::string id, std::string type, std::string path, NSURLPtr url, ALAssetRepresentationPtr representation);

 private:
  std::string id_;
  std::string type_;
  std::string path_;
  NSURLPtr url_;
  ALAssetRepresentationPtr representation_;
};

// An album: the saved photos ("Camera Roll", oldest first) or one the user made (in the order
// its photos were added). What it holds is read when asked.
class ALAssetsGroup : public Object {
 public:
  enum Filter { AllAssets, AllPhotos, AllVideos };
  unsigned long type() const { return type_; }
  // ALAssetsGroupPropertyName.
  const std::string& name() const { return name_; }
  void setAssetsFilter(Filter filter) { filter_ = filter; }
  long numberOfAssets() const;
  // The thumbnail of its newest asset.
  std::shared_ptr<UIImage> posterImage() const;
  // Each asset the filter lets through, in the album's order, with its index; stop ends the walk.
  // Then once more with null.
  void enumerateAssetsUsingBlock(const std::function<void(const ALAssetPtr& asset, std::size_t index, bool& stop)>& block) const;

  ALAssetsGroup(unsigned long type, std::string name, std::vector<std::string> ids);

 private:
  std::vector<ALAssetPtr> assets() const;
  unsigned long type_;
  std::string name_;
  std::vector<std::string> ids_;
  Filter filter_ = AllAssets;
};
using ALAssetsGroupPtr = std::shared_ptr<ALAssetsGroup>;

class ALAssetsLibrary : public Object {
 public:
  using AssetResultBlock = std::function<void(const ALAssetPtr& asset)>;
  using FailureBlock = std::function<void(const NSError& error)>;
  using WriteCompletionBlock = std::function<void(const NSURLPtr& assetURL, const std::optional<NSError>& error)>;

  static ALAuthorizationStatus authorizationStatus();

  using GroupBlock = std::function<void(const ALAssetsGroupPtr& group, bool& stop)>;
  // On later main-loop turns: each group of the types, the user's albums first, then the saved
  // photos; then once with null. failureBlock instead when the user has refused access.
  void enumerateGroupsWithTypes(unsigned long types, GroupBlock block, FailureBlock failureBlock);

  // On a later main-loop turn: resultBlock with the asset, or with null when the URL names no
  // asset; failureBlock when the user has refused access.
  void assetForURL(const NSURLPtr& assetURL, AssetResultBlock resultBlock, FailureBlock failureBlock);
  // Adds encoded image data as a photo (the type is taken from the data's signature: JPEG, PNG or
  // GIF); the completion, on a later main-loop turn, gets the new asset's URL or an error (access
  // refused, data of no known image type, or a write failure). A JPEG keeps the metadata given
  // (a dictionary of "{Exif}", "{GPS}" and "{TIFF}" blocks, imageio/ImageMetadata.h) in its Exif
  // segment; other types store the bytes as they are.
  void writeImageDataToSavedPhotosAlbum(const Data& imageData, const Value& metadata, WriteCompletionBlock completion);
  // Adds a bitmap as a JPEG photo at full quality, drawn upright from the orientation.
  void writeImageToSavedPhotosAlbum(const std::shared_ptr<const struct CGImage>& image, long orientation,
                                    WriteCompletionBlock completion);
};

// The simulated device's side of the library: tests and the runner fill it and choose the
// user's answer about access. Any thread.
class SimulatedPhotoLibrary {
 public:
  // "<home>/Media/DCIM".
  static std::string folderPath();
  // Stores the bytes as a new asset with the extension ("JPG", "png", "MOV"; kept in upper
  // case) and, when given, the date (seconds since the reference date). Returns the asset's URL,
  // or null when the extension is not a plain one or the file cannot be written.
  static NSURLPtr addAsset(const Data& bytes, std::string_view extension, std::optional<double> date = std::nullopt);
  static bool removeAsset(const NSURLPtr& assetURL);
  // Makes an album of that name holding the assets (kept in "Media/PhotoData/Albums"); false
  // when it cannot be stored.
  static bool addAlbum(const std::string& name, const std::vector<NSURLPtr>& assetURLs);
  static void removeAllAssets();
  // Kept in the sandbox home ("Media/PhotoData"), so a fresh home starts authorized. Not
  // determined counts as the user saying yes when asked.
  static void setAuthorizationStatus(ALAuthorizationStatus status);
};

}  // namespace plat
