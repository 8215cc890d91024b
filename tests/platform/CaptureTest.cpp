// Image and movie headers, and the camera screen driven as the user would.
#include <gtest/gtest.h>

#include "plat/avfoundation/MediaFormat.h"
#include "plat/imageio/ImageMetadata.h"
#include "plat/testing/OrientedPictures.h"
#include "plat/testing/SandboxTest.h"
#include "plat/uikit/UIDriver.h"
#include "plat/uikit/UIImagePickerController.h"

using namespace plat;

class Capture : public plat::testing::SandboxTest {
 protected:
  void SetUp() override {
    SandboxTest::SetUp();
    SimulatedCamera::setAvailable(false);  // a device without a camera until a test gives it one
  }
  void TearDown() override {
    UIDriver::shared().reset();
    SimulatedCamera::reset();
    SandboxTest::TearDown();
  }
};

TEST_F(Capture, ImageSizesComeFromTheHeaders) {
  auto image = UIImage::imageWithCGImage(CGImageCreateBlank(37, 21));
  const Data png = UIImagePNGRepresentation(*image);
  const Data jpeg = UIImageJPEGRepresentation(*image, 0.5);
  writeFile(inHome("a.png"), std::string(png.begin(), png.end()));
  writeFile(inHome("a.jpg"), std::string(jpeg.begin(), jpeg.end()));
  writeFile(inHome("a.gif"), std::string("GIF89a\x05\x00\x03\x00", 10));
  for (const char* name : {"a.png", "a.jpg"}) {
    auto size = readImageSize(inHome(name));
    ASSERT_TRUE(size.ok()) << name << ": " << size.error();
    EXPECT_EQ(size->width, 37u) << name;
    EXPECT_EQ(size->height, 21u) << name;
  }
  EXPECT_EQ(readImageSize(inHome("a.gif"))->width, 5u);
  writeFile(inHome("text.png"), "not a picture");
  writeFile(inHome("cut.jpg"), std::string("\xFF\xD8\xFF\xE0\x00", 5));
  for (const char* name : {"text.png", "cut.jpg", "none.png"}) EXPECT_FALSE(readImageSize(inHome(name)).ok()) << name;
}

TEST_F(Capture, MovieLengthAndPictureSize) {
  ASSERT_TRUE(writeMovieFile(inHome("m.mp4"), 3.5, 320, 240));
  auto info = readMovieInfo(inHome("m.mp4"));
  ASSERT_TRUE(info.ok()) << info.error();
  EXPECT_NEAR(info->duration, 3.5, 1e-3);
  EXPECT_TRUE(info->hasVideoTrack);
  EXPECT_EQ(info->width, 320);
  EXPECT_EQ(info->height, 240);
  // Cut anywhere, the header is refused or read without running past the end.
  const std::string whole = readFile(inHome("m.mp4"));
  for (std::size_t cut = 0; cut < whole.size(); cut += 7) {
    writeFile(inHome("cut.mp4"), whole.substr(0, cut));
    auto partial = readMovieInfo(inHome("cut.mp4"));
    if (partial.ok()) {
      EXPECT_LE(partial->duration, 3.5);
    }
  }
  writeFile(inHome("x.mp4"), "hello");
  EXPECT_FALSE(readMovieInfo(inHome("x.mp4")).ok());
}

namespace {
struct Picked : UIImagePickerControllerDelegate {
  std::vector<UIImagePickerMediaInfo> infos;
  int cancels = 0;
  void imagePickerControllerDidFinishPickingMediaWithInfo(UIImagePickerController&, const UIImagePickerMediaInfo& i) override {
    infos.push_back(i);
  }
  void imagePickerControllerDidCancel(UIImagePickerController&) override { ++cancels; }
};
}  // namespace

TEST_F(Capture, TheDriverPhotographsFilmsAndCancels) {
  EXPECT_FALSE(UIImagePickerController::isSourceTypeAvailable(UIImagePickerControllerSourceTypeCamera));
  EXPECT_TRUE(UIImagePickerController::availableMediaTypesForSourceType(UIImagePickerControllerSourceTypeCamera).empty());
  SimulatedCamera::setAvailable(true, false);
  EXPECT_EQ(UIImagePickerController::availableMediaTypesForSourceType(UIImagePickerControllerSourceTypeCamera),
            std::vector<std::string>{kUTTypeImage});
  SimulatedCamera::setAvailable(true);

  auto root = std::make_shared<UIViewController>();
  auto picker = std::make_shared<UIImagePickerController>();
  auto delegate = std::make_shared<Picked>();
  picker->setDelegate(delegate);
  picker->setSourceType(UIImagePickerControllerSourceTypeCamera);
  EXPECT_FALSE(UIDriver::shared().takePicture());  // not on screen yet
  root->presentViewController(picker, true, nullptr);
  runUntilIdle();
  ASSERT_EQ(UIDriver::shared().topPicker(), picker);
  EXPECT_TRUE(UIDriver::shared().takePicture());
  ASSERT_EQ(delegate->infos.size(), 1u);
  EXPECT_EQ(delegate->infos[0].originalImage->size().width, 640);

  picker->setMediaTypes({kUTTypeMovie});
  picker->setCameraCaptureMode(UIImagePickerControllerCameraCaptureModeVideo);
  picker->setVideoMaximumDuration(2);
  EXPECT_FALSE(UIDriver::shared().takePicture());
  EXPECT_TRUE(UIDriver::shared().recordVideo(5));
  ASSERT_EQ(delegate->infos.size(), 2u);
  EXPECT_NEAR(readMovieInfo(delegate->infos[1].mediaURL->path())->duration, 2.0, 1e-2);
  EXPECT_TRUE(UIDriver::shared().cancelPicker());
  EXPECT_EQ(delegate->cancels, 1);
  root->dismissViewControllerAnimated(false, nullptr);
  EXPECT_EQ(UIDriver::shared().topPicker(), nullptr);
}

// A picture taken with the camera held sideways: its capture metadata says how it was held, as a
// camera's Exif data does, beside the stored pixel dimensions.
TEST_F(Capture, CaptureMetadataStatesHowThePictureWasHeld) {
  SimulatedCamera::setAvailable(true);
  auto root = std::make_shared<UIViewController>();
  auto picker = std::make_shared<UIImagePickerController>();
  auto delegate = std::make_shared<Picked>();
  picker->setDelegate(delegate);
  picker->setSourceType(UIImagePickerControllerSourceTypeCamera);
  root->presentViewController(picker, true, nullptr);
  runUntilIdle();
  for (int exif : {6, 1}) {
    SCOPED_TRACE(exif);
    ASSERT_TRUE(UIDriver::shared().pickImage(UIImage::imageWithData(plat::testing::JpegWithExifOrientation(40, 30, exif))));
    ASSERT_FALSE(delegate->infos.empty());
    const auto& metadata = delegate->infos.back().mediaMetadata;
    ASSERT_TRUE(metadata);
    EXPECT_EQ(Value(*metadata)[kCGImagePropertyTIFFDictionary]["Orientation"].asInt(), exif);
    EXPECT_EQ(Value(*metadata)[kCGImagePropertyExifDictionary]["PixelXDimension"].asInt(), 40);
    EXPECT_EQ(Value(*metadata)[kCGImagePropertyExifDictionary]["PixelYDimension"].asInt(), 30);
  }
  root->dismissViewControllerAnimated(false, nullptr);
}
