#include "MIPPicker.h"

#include "HBRPluginResult.h"
#include "HBRTemporaryFiles.h"
#include "MIPAlbumPickerController.h"
#include "plat/foundation/Log.h"
#include "plat/foundation/NSFileManager.h"
#include "plat/foundation/NSPathUtilities.h"
#include "plat/foundation/Strings.h"
#include "plat/uikit/UIGraphics.h"

namespace harbor {
namespace {

constexpr char kFilePrefix[] = "hbr_photo_";

long integerOf(const plat::Dictionary& options, const char* key) {
  const plat::Value& value = options.get(key);
  if (value.isString()) return std::strtol(value.asString().c_str(), nullptr, 10);
  return static_cast<long>(value.asInt());
}

}  // namespace

MIPPicker::MIPPicker() { registerAction("getPictures", &MIPPicker::getPictures); }

void MIPPicker::getPictures(const HBRInvokedUrlCommandPtr& command) {
  const plat::Value& argument = command->argumentAtIndex(0);
  if (!argument.isDictionary()) {
    commandDelegate()->sendPluginResult(
        HBRPluginResult::resultWithStatusMessageAsString(HBRCommandStatus::Error, "The picker's options are missing."),
        command->callbackId());
    return;
  }
  auto presenter = viewController();
  if (presenter && std::dynamic_pointer_cast<MIPImagePickerController>(presenter->presentedViewController())) {
    // The open picker still answers the page's first call.
    commandDelegate()->sendPluginResult(
        HBRPluginResult::resultWithStatusMessageAsString(HBRCommandStatus::Error, "A picker is already open."),
        command->callbackId());
    return;
  }
  const plat::Dictionary& options = argument.asDictionary();
  long maximum = integerOf(options, "maximumImagesCount");
  width = integerOf(options, "width");
  height = integerOf(options, "height");
  quality = integerOf(options, "quality");

  auto albums = std::make_shared<MIPAlbumPickerController>();
  albums->immediateReturn = albums->singleSelection = maximum == 1;
  auto picker = std::make_shared<MIPImagePickerController>();
  picker->initWithRootViewController(albums);
  picker->maximumImagesCount = maximum;
  picker->returnsOriginalImage = true;
  picker->imagePickerDelegate = std::static_pointer_cast<MIPImagePickerControllerDelegate>(
      std::static_pointer_cast<MIPPicker>(shared_from_this()));
  albums->parent = std::static_pointer_cast<MIPAssetSelectionDelegate>(picker);

  callbackId = command->callbackId();
  if (!presenter || !presenter->presentViewController(picker, true, nullptr)) {
    plat::NSLog("ImagePicker.getPictures: the picker could not be shown.");
    commandDelegate()->sendPluginResult(
        HBRPluginResult::resultWithStatusMessageAsString(HBRCommandStatus::Error, "The picker could not be shown."),
        callbackId);
  }
}

void MIPPicker::mipImagePickerControllerDidFinishPickingMediaWithInfo(MIPImagePickerController& picker,
                                                                      const std::vector<MIPPickedInfo>& info) {
  plat::Array files;
  HBRPluginResultPtr failure;
  for (const auto& item : info) {
    auto fail = [&](std::string text) {
      failure = HBRPluginResult::resultWithStatusMessageAsString(HBRCommandStatus::IOException, std::move(text));
    };
    std::string path = HBRNumberedTemporaryFilePath(kFilePrefix, "jpg");
    auto representation = item.asset ? item.asset->defaultRepresentation() : nullptr;
    std::shared_ptr<plat::UIImage> image;
    if (representation) {
      if (picker.returnsOriginalImage) {
        image = plat::UIImage::imageWithCGImage(representation->fullResolutionImage(), 1.0,
                                                static_cast<plat::UIImageOrientation>(representation->orientation()));
      } else {
        image = plat::UIImage::imageWithCGImage(representation->fullScreenImage(), 1.0, plat::UIImageOrientationUp);
      }
    }
    if (!image) {
      fail("The photo could not be read.");
      break;
    }
    if (width != 0 || height != 0) {
      image = imageByScalingNotCroppingForSize(*image, {double(width), double(height)});
      if (!image) {
        fail("The photo could not be scaled.");
        break;
      }
    }
    plat::Data bytes = plat::UIImageJPEGRepresentation(*image, static_cast<float>(quality) / 100.0f);
    if (bytes.empty()) {
      fail("The photo could not be encoded.");
      break;
    }
    plat::NSError error;
    if (!plat::NSFileManager::defaultManager().createFileAtPath(path, bytes, &error)) {
      fail(error.localizedDescription);
      break;
    }
    files.emplace_back(plat::NSURL::fileURLWithPath(path)->absoluteString());
  }
  if (auto presenter = viewController()) presenter->dismissViewControllerAnimated(true, nullptr);
  commandDelegate()->sendPluginResult(
      failure ? failure : HBRPluginResult::resultWithStatusMessageAsArray(HBRCommandStatus::OK, std::move(files)),
      callbackId);
}

void MIPPicker::mipImagePickerControllerDidCancel(MIPImagePickerController& picker) {
  if (auto presenter = viewController()) presenter->dismissViewControllerAnimated(true, nullptr);
  commandDelegate()->sendPluginResult(HBRPluginResult::resultWithStatusMessageAsArray(HBRCommandStatus::OK, {}),
                                      callbackId);
}

std::shared_ptr<plat::UIImage> MIPPicker::imageByScalingNotCroppingForSize(const plat::UIImage& image,
                                                                          plat::CGSize targetSize) {
  plat::CGSize size = image.size();
  plat::CGSize newSize = targetSize;
  if (!(size == targetSize)) {
    double fw = targetSize.width / size.width;
    double fh = targetSize.height / size.height;
    double scale = fw == 0 ? fh : fh == 0 ? fw : (fw > fh ? fh : fw);
    newSize = {size.width * scale, size.height * scale};
  }
  plat::UIGraphicsBeginImageContext(newSize);
  image.drawInRect({{0, 0}, newSize});
  auto scaled = plat::UIGraphicsGetImageFromCurrentImageContext();
  plat::UIGraphicsEndImageContext();
  if (!scaled) plat::NSLog("could not scale image");
  return scaled;
}

}  // namespace harbor
