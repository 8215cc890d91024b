#pragma once
// Several photos from the device's albums, chosen in native screens (albums, then a grid of
// thumbnails) and returned as JPEG files in the temporary folder, optionally scaled.
//
// Page action (main thread; answers keep-callback off):
//   getPictures [{"maximumImagesCount", "width", "height", "quality"}] (integers; absent is 0)
//     -> OK with the file URLs ("hbr_photo_001.jpg", ...) of the chosen photos in the album's
//        order; OK with [] when the user cancels. IO error (6) with the platform's description
//        when a file cannot be written, or a text when a photo cannot be read, scaled or
//        encoded (files already written stay). Error (9) without the options object, or while
//        a picker is open (which still answers the call that opened it).
// A maximum of 1 returns the first tapped photo at once; a maximum of 0 (absent) refuses every
// selection. A width of 0 scales by the height alone and the reverse; both 0 keep the full
// resolution. The quality is in percent (absent: 0).
#include <memory>
#include <optional>
#include <string>

#include "HBRPlugin.h"
#include "MIPDelegates.h"
#include "MIPImagePickerController.h"
#include "plat/uikit/UIImage.h"

namespace harbor {

class MIPPicker : public HBRPlugin, public MIPImagePickerControllerDelegate, public plat::UINavigationControllerDelegate {
 public:
  MIPPicker();

  void getPictures(const HBRInvokedUrlCommandPtr& command);

  void mipImagePickerControllerDidFinishPickingMediaWithInfo(MIPImagePickerController& picker,
                                                             const std::vector<MIPPickedInfo>& info) override;
  void mipImagePickerControllerDidCancel(MIPImagePickerController& picker) override;

  // Fits the image to the target by the smaller factor (a side of 0 does not count); the size is
  // not rounded. None (logged "could not scale image") when no image can be drawn.
  static std::shared_ptr<plat::UIImage> imageByScalingNotCroppingForSize(const plat::UIImage& image,
                                                                        plat::CGSize targetSize);

  std::optional<std::string> callbackId;
  long width = 0;
  long height = 0;
  long quality = 0;
};

}  // namespace harbor
