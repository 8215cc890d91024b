#pragma once
// One picture request of the page, read from the takePicture arguments.
#include <memory>
#include <mutex>
#include <optional>

#include "HBRInvokedUrlCommand.h"
#include "plat/foundation/Object.h"
#include "plat/foundation/Value.h"
#include "plat/uikit/Geometry.h"

namespace harbor {

enum HBRDestinationType : unsigned long {
  DestinationTypeDataUrl = 0,
  DestinationTypeFileUri = 1,
  DestinationTypeNativeUri = 2,
};

enum HBREncodingType : unsigned long {
  EncodingTypeJPEG = 0,
  EncodingTypePNG = 1,
};

enum HBRMediaType : unsigned long {
  MediaTypePicture = 0,
  MediaTypeVideo = 1,
  MediaTypeAll = 2,
};

class HBRPictureOptions : public plat::Object {
 public:
  // Arguments by position: quality (50), destinationType (1), sourceType (1), targetWidth,
  // targetHeight, encodingType (0), mediaType (0), allowsEditing, correctOrientation,
  // saveToPhotoAlbum, popoverOptions, cameraDirection (0). Absent or null takes the default; the
  // target size counts only when both sides are given.
  static std::shared_ptr<HBRPictureOptions> createFromTakePictureArguments(const HBRInvokedUrlCommand& command);

  double quality = 50;
  unsigned long destinationType = DestinationTypeFileUri;
  long sourceType = 1;
  unsigned long encodingType = EncodingTypeJPEG;
  unsigned long mediaType = MediaTypePicture;
  bool allowsEditing = false;
  bool correctOrientation = false;
  bool saveToPhotoAlbum = false;
  std::optional<plat::Dictionary> popoverOptions;
  long cameraDirection = 0;
  bool popoverSupported = false;
  bool usesGeolocation = false;
  bool cropToSize = false;

  // Read and written as one value: the preparation thread sets it, the main thread reads it.
  plat::CGSize targetSize() const;
  void setTargetSize(plat::CGSize size);

 private:
  mutable std::mutex mutex_;
  plat::CGSize targetSize_{0, 0};
};
using HBRPictureOptionsPtr = std::shared_ptr<HBRPictureOptions>;

}  // namespace harbor
