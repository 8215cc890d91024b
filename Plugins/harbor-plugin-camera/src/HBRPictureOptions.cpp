#include "HBRPictureOptions.h"

namespace harbor {
namespace {

// The argument's number, or the default when it is absent, null or not a number.
const plat::Value& numberOr(const HBRInvokedUrlCommand& command, std::size_t index, const plat::Value& fallback) {
  const plat::Value& value = command.argumentAtIndex(index);
  return value.isNumber() ? value : fallback;
}

unsigned long unsignedArgument(const HBRInvokedUrlCommand& command, std::size_t index, unsigned long fallback) {
  const plat::Value& value = command.argumentAtIndex(index);
  if (!value.isNumber()) return fallback;
  // A negative number stands for no known value, never for a huge one.
  double d = value.asDouble();
  return d < 0 ? ~0UL : static_cast<unsigned long>(value.asUInt());
}

}  // namespace

std::shared_ptr<HBRPictureOptions> HBRPictureOptions::createFromTakePictureArguments(
    const HBRInvokedUrlCommand& command) {
  auto options = std::make_shared<HBRPictureOptions>();
  options->quality = numberOr(command, 0, plat::Value(50)).asDouble();
  options->destinationType = unsignedArgument(command, 1, DestinationTypeFileUri);
  options->sourceType = static_cast<long>(unsignedArgument(command, 2, 1));
  const plat::Value& width = command.argumentAtIndex(3);
  const plat::Value& height = command.argumentAtIndex(4);
  if (width.isNumber() && height.isNumber())
    options->setTargetSize({static_cast<float>(width.asDouble()), static_cast<float>(height.asDouble())});
  options->encodingType = unsignedArgument(command, 5, EncodingTypeJPEG);
  options->mediaType = unsignedArgument(command, 6, MediaTypePicture);
  options->allowsEditing = command.argumentAtIndex(7).asBool();
  options->correctOrientation = command.argumentAtIndex(8).asBool();
  options->saveToPhotoAlbum = command.argumentAtIndex(9).asBool();
  const plat::Value& popover = command.argumentAtIndex(10);
  if (popover.isDictionary()) options->popoverOptions = popover.asDictionary();
  options->cameraDirection = static_cast<long>(unsignedArgument(command, 11, 0));
  return options;
}

plat::CGSize HBRPictureOptions::targetSize() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return targetSize_;
}

void HBRPictureOptions::setTargetSize(plat::CGSize size) {
  std::lock_guard<std::mutex> lock(mutex_);
  targetSize_ = size;
}

}  // namespace harbor
