// The camera plugin over the simulated picker, camera, photo library and location service: the
// request's options, the quality rule, file numbering, the three destinations from camera and
// library, a turned picture's orientation (corrected, or kept in the JPEG's Exif data), cancel
// and refusal texts, popovers, the geotagged JPEG read back with libexif, and cleanup.
#include <gtest/gtest.h>
#include <libexif/exif-data.h>

#include "CameraPlugin.h"
#include "HBRCamera.h"
#include "plat/assetslibrary/ALAssetsLibrary.h"
#include "plat/corelocation/CLLocationManager.h"
#include "plat/dispatch/Queues.h"
#include "plat/foundation/NSFileManager.h"
#include "plat/foundation/NSPathUtilities.h"
#include "plat/foundation/Strings.h"
#include "plat/imageio/ImageMetadata.h"
#include "plat/testing/OrientedPictures.h"
#include "plat/uikit/UIApplication.h"
#include "plat/uikit/UIDevice.h"
#include "plat/uikit/UIDriver.h"
#include "plat/uikit/UIImagePickerController.h"
#include "plat/uikit/UIView.h"
#include "support/PluginTest.h"

using namespace harbor;
using plat::Array;
using plat::Value;

namespace {

class Camera : public harbor::testing::PluginTest {
 protected:
  void SetUp() override {
    PluginTest::SetUp();
    plat::UIDriver::shared().reset();
    plat::SimulatedCamera::reset();
    plat::SimulatedLocation::reset();
    registerCameraPlugin();
    presenter = std::make_shared<plat::UIViewController>();
    plugin = create<HBRCamera>("HBRCamera", "Camera", presenter);
    ASSERT_TRUE(plugin);
  }
  void TearDown() override {
    plugin.reset();
    plat::UIDriver::shared().reset();
    plat::SimulatedCamera::reset();
    plat::SimulatedLocation::reset();
    PluginTest::TearDown();
  }
  // Sends takePicture and waits for the preparation on the global queue and what it posts back.
  void takePicture(const Array& args) {
    exec("Camera", "takePicture", args);
    settle();
  }
  void settle() {
    for (int i = 0; i < 3; ++i) {
      plat::dispatch::GlobalQueue::shared().waitIdle();
      runUntilIdle();
    }
  }
  harbor::testing::PageCallback onlyCallback() {
    auto callbacks = takeCallbacks();
    EXPECT_EQ(callbacks.size(), 1u);
    return callbacks.empty() ? harbor::testing::PageCallback{} : callbacks.front();
  }
  static std::shared_ptr<plat::UIImage> picture(std::size_t w = 64, std::size_t h = 48) {
    return plat::SimulatedTestPicture(w, h);
  }
  std::string tmp() const { return plat::stringByStandardizingPath(plat::NSTemporaryDirectory()); }
  plat::Data readData(const std::string& path) {
    return plat::NSFileManager::defaultManager().contentsAtPath(path).value_or(plat::Data{});
  }
  // The file a file URL names, read whole.
  plat::Data fileOfURL(const std::string& url) {
    auto parsed = plat::NSURL::URLWithString(url);
    return parsed ? readData(parsed->path()) : plat::Data{};
  }
  std::size_t libraryCount() {
    auto names = plat::NSFileManager::defaultManager().contentsOfDirectoryAtPath(
        plat::SimulatedPhotoLibrary::folderPath());
    return names ? names->size() : 0;
  }

  std::shared_ptr<plat::UIViewController> presenter;
  std::shared_ptr<HBRCamera> plugin;
};

TEST_F(Camera, ArgumentsBecomeOptionsWithTheirDefaults) {
  auto make = [](Array args) {
    auto command = HBRInvokedUrlCommand::commandFromJson(
        Value(Array{Value("cb"), Value("Camera"), Value("takePicture"), Value(std::move(args))}));
    return HBRPictureOptions::createFromTakePictureArguments(*command);
  };
  auto defaults = make({});
  EXPECT_EQ(defaults->quality, 50);
  EXPECT_EQ(defaults->destinationType, 1u);
  EXPECT_EQ(defaults->sourceType, 1);
  EXPECT_EQ(defaults->encodingType, 0u);
  EXPECT_EQ(defaults->mediaType, 0u);
  EXPECT_FALSE(defaults->allowsEditing || defaults->correctOrientation || defaults->saveToPhotoAlbum);
  EXPECT_FALSE(defaults->popoverOptions);
  EXPECT_EQ(defaults->cameraDirection, 0);
  EXPECT_EQ(defaults->targetSize(), (plat::CGSize{0, 0}));

  auto nulls = make({Value::null(), Value::null(), Value::null()});
  EXPECT_EQ(nulls->quality, 50);
  EXPECT_EQ(nulls->destinationType, 1u);

  // A width without a height is ignored.
  EXPECT_EQ(make({Value(80), Value(1), Value(1), Value(640)})->targetSize(), (plat::CGSize{0, 0}));
  auto full = make({Value(80), Value(0), Value(0), Value(640), Value(480), Value(1), Value(2), Value(true),
                    Value(true), Value(true), Value(plat::Dictionary{{"x", Value(5)}}), Value(1)});
  EXPECT_EQ(full->quality, 80);
  EXPECT_EQ(full->destinationType, 0u);
  EXPECT_EQ(full->sourceType, 0);
  EXPECT_EQ(full->targetSize(), (plat::CGSize{640, 480}));
  EXPECT_EQ(full->encodingType, 1u);
  EXPECT_EQ(full->mediaType, 2u);
  EXPECT_TRUE(full->allowsEditing && full->correctOrientation && full->saveToPhotoAlbum);
  ASSERT_TRUE(full->popoverOptions);
  EXPECT_EQ(full->cameraDirection, 1);
}

TEST_F(Camera, JpegQualityFollowsTheRule) {
  auto image = picture();
  struct Case {
    const char* name;
    long source;
    double quality;
    plat::CGSize target;
    bool editing;
    bool correct;
    double expected;
  };
  const Case cases[] = {
      {"library, untouched: full quality whatever was asked", 0, 30, {0, 0}, false, false, 1.0},
      {"album, untouched", 2, 50, {0, 0}, false, false, 1.0},
      {"camera at 100", 1, 100, {0, 0}, false, false, 1.0},
      {"camera at 50", 1, 50, {0, 0}, false, false, 0.5},
      {"library with a target size", 0, 30, {32, 32}, false, false, 0.3},
      {"library with editing", 0, 30, {0, 0}, true, false, 0.3},
      {"library with orientation correction", 0, 30, {0, 0}, false, true, 0.3},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    HBRPictureOptions options;
    options.sourceType = c.source;
    options.quality = c.quality;
    options.setTargetSize(c.target);
    options.allowsEditing = c.editing;
    options.correctOrientation = c.correct;
    plat::UIImagePickerMediaInfo info;
    auto bytes = plugin->processImage(*image, info, options);
    ASSERT_TRUE(bytes);
    EXPECT_EQ(*bytes, plat::UIImageJPEGRepresentation(*image, static_cast<float>(c.expected)));
  }
  HBRPictureOptions png;
  png.encodingType = EncodingTypePNG;
  EXPECT_EQ(*plugin->processImage(*image, {}, png), plat::UIImagePNGRepresentation(*image));
  HBRPictureOptions unknown;
  unknown.encodingType = 7;
  EXPECT_FALSE(plugin->processImage(*image, {}, unknown));
}

TEST_F(Camera, FilesAreNumberedFromTheFirstFreeNumber) {
  EXPECT_EQ(HBRCamera::tempFilePath("jpg"), tmp() + "/hbr_photo_001.jpg");
  writeFile(tmp() + "/hbr_photo_001.jpg", "x");
  writeFile(tmp() + "/hbr_photo_003.jpg", "x");
  EXPECT_EQ(HBRCamera::tempFilePath("jpg"), tmp() + "/hbr_photo_002.jpg");
  EXPECT_EQ(HBRCamera::tempFilePath("png"), tmp() + "/hbr_photo_001.png");
}

TEST_F(Camera, CameraPictureReachesThePageInEachDestination) {
  // File URL (the default).
  takePicture({});
  ASSERT_EQ(plat::UIDriver::shared().pickerCount(), 1u);
  EXPECT_FALSE(plugin->hasPendingOperation());
  ASSERT_TRUE(plat::UIDriver::shared().pickImage(picture(64, 48)));
  settle();
  auto c = onlyCallback();
  EXPECT_EQ(c.status, 1);
  EXPECT_EQ(c.message.stringOr(), plat::NSURL::fileURLWithPath(tmp() + "/hbr_photo_001.jpg")->absoluteString());
  auto decoded = plat::UIImage::imageWithData(fileOfURL(c.message.stringOr()));
  ASSERT_TRUE(decoded);
  EXPECT_EQ(decoded->size(), (plat::CGSize{64, 48}));
  EXPECT_FALSE(plugin->pickerController());
  EXPECT_EQ(plat::UIDriver::shared().pickerCount(), 0u);

  // Base64 PNG at a target size.
  takePicture({Value(50), Value(0), Value(1), Value(32), Value(32), Value(1)});
  ASSERT_TRUE(plat::UIDriver::shared().pickImage(picture(64, 48)));
  settle();
  c = onlyCallback();
  EXPECT_EQ(c.status, 1);
  auto bytes = plat::base64Decode(c.message.stringOr());
  ASSERT_TRUE(bytes);
  decoded = plat::UIImage::imageWithData(*bytes);
  ASSERT_TRUE(decoded);
  EXPECT_EQ(decoded->size(), (plat::CGSize{32, 24}));

  // The album's asset URL: a new camera picture is written to the album.
  takePicture({Value(50), Value(2)});
  ASSERT_TRUE(plat::UIDriver::shared().pickImage(picture()));
  settle();
  c = onlyCallback();
  EXPECT_EQ(c.status, 1);
  EXPECT_TRUE(plat::startsWith(c.message.stringOr(), "assets-library://asset/asset.JPG?id="));
  EXPECT_EQ(libraryCount(), 1u);
}

TEST_F(Camera, LibraryPickReturnsItsReferenceAndWritesNothing) {
  auto url = plat::SimulatedPhotoLibrary::addAsset(plat::UIImageJPEGRepresentation(*picture(80, 60), 0.9), "JPG");
  ASSERT_TRUE(url);
  takePicture({Value(50), Value(2), Value(0), Value::null(), Value::null(), Value(0), Value(0), Value(false),
               Value(false), Value(true)});
  ASSERT_TRUE(plat::UIDriver::shared().pickAsset(url));
  settle();
  auto c = onlyCallback();
  EXPECT_EQ(c.status, 1);
  EXPECT_EQ(c.message.stringOr(), url->absoluteString());
  EXPECT_EQ(libraryCount(), 1u);

  // A file at a target size, with an album copy.
  takePicture({Value(50), Value(1), Value(0), Value(40), Value(40), Value(0), Value(0), Value(false), Value(false),
               Value(true)});
  ASSERT_TRUE(plat::UIDriver::shared().pickAsset(url));
  settle();
  c = onlyCallback();
  EXPECT_EQ(c.status, 1);
  auto decoded = plat::UIImage::imageWithData(fileOfURL(c.message.stringOr()));
  ASSERT_TRUE(decoded);
  EXPECT_EQ(decoded->size(), (plat::CGSize{40, 30}));
  EXPECT_EQ(libraryCount(), 2u);
}

// A picture a camera held sideways (400 x 300 stored, Exif orientation 6) from the library or
// the camera: with correctOrientation the page gets upright pixels (300 x 400, no orientation);
// without it the stored pixels with the orientation in the JPEG's Exif data, so it shows upright
// wherever the tag is honoured. A PNG (no Exif data) comes back as it is; a turned picture asked
// for as PNG is drawn upright, PNG having no orientation to carry.
TEST_F(Camera, TurnedPictureComesBackUprightOrTaggedInEveryDestination) {
  using plat::testing::DisplayedCorners;
  auto turnedURL = plat::SimulatedPhotoLibrary::addAsset(plat::testing::JpegWithExifOrientation(400, 300, 6), "JPG");
  auto pngURL = plat::SimulatedPhotoLibrary::addAsset(
      plat::UIImagePNGRepresentation(*plat::testing::QuadrantPicture(400, 300)), "PNG");
  auto turnedImage = plat::UIImage::imageWithData(plat::testing::JpegWithExifOrientation(400, 300, 6));
  ASSERT_TRUE(turnedURL && pngURL && turnedImage);
  struct Case {
    const char* name;
    long source;  // 0 library, 1 camera
    plat::NSURLPtr asset;
    bool correct;
    long encoding;
    std::array<std::size_t, 2> stored;  // of the answered picture
    int exif;                            // its Exif orientation; 0 for none
    int shown;                           // the Exif orientation its corners show under
  };
  const Case cases[] = {
      {"library, corrected", 0, turnedURL, true, 0, {300, 400}, 0, 6},
      {"library, as taken", 0, turnedURL, false, 0, {400, 300}, 6, 6},
      {"camera, corrected", 1, nullptr, true, 0, {300, 400}, 0, 6},
      {"camera, as taken", 1, nullptr, false, 0, {400, 300}, 6, 6},
      {"library PNG, corrected", 0, pngURL, true, 0, {400, 300}, 0, 1},
      {"library PNG, as taken", 0, pngURL, false, 0, {400, 300}, 0, 1},
      {"library, as taken, asked for as PNG", 0, turnedURL, false, 1, {300, 400}, 0, 6},
  };
  for (const auto& c : cases) {
    for (long destination : {0L, 1L}) {
      SCOPED_TRACE(std::string(c.name) + (destination == 0 ? ", base64" : ", file"));
      takePicture({Value(50), Value(destination), Value(c.source), Value::null(), Value::null(), Value(c.encoding),
                   Value(0), Value(false), Value(c.correct)});
      ASSERT_TRUE(c.source == 0 ? plat::UIDriver::shared().pickAsset(c.asset)
                                : plat::UIDriver::shared().pickImage(turnedImage));
      settle();
      auto answer = onlyCallback();
      ASSERT_EQ(answer.status, 1) << answer.message.stringOr();
      plat::Data bytes = destination == 0 ? plat::base64Decode(answer.message.stringOr()).value_or(plat::Data{})
                                          : fileOfURL(answer.message.stringOr());
      auto decoded = plat::UIImage::imageWithData(bytes);
      ASSERT_TRUE(decoded);
      EXPECT_EQ(decoded->CGImage()->width, c.stored[0]);
      EXPECT_EQ(decoded->CGImage()->height, c.stored[1]);
      if (c.encoding == 0) {
        EXPECT_EQ(plat::testing::JpegFrameSize(bytes), c.stored);
        EXPECT_EQ(plat::testing::ExifOrientationOf(bytes), c.exif);
      }
      EXPECT_EQ(decoded->size(), c.shown == 6 ? (plat::CGSize{300, 400}) : (plat::CGSize{400, 300}));
      EXPECT_EQ(plat::testing::CornersOf(*decoded), DisplayedCorners(c.shown));
    }
  }
}

// The album copy of a picture taken sideways keeps its orientation too.
TEST_F(Camera, AlbumCopyOfATurnedPictureShowsUpright) {
  auto turned = plat::UIImage::imageWithData(plat::testing::JpegWithExifOrientation(400, 300, 6));
  ASSERT_TRUE(turned);
  for (long destination : {0L, 2L}) {
    SCOPED_TRACE(destination);
    plat::SimulatedPhotoLibrary::removeAllAssets();
    takePicture({Value(50), Value(destination), Value(1), Value::null(), Value::null(), Value(0), Value(0),
                 Value(false), Value(false), Value(true)});
    ASSERT_TRUE(plat::UIDriver::shared().pickImage(turned));
    settle();
    ASSERT_EQ(onlyCallback().status, 1);
    const std::string folder = plat::SimulatedPhotoLibrary::folderPath();
    auto names = plat::NSFileManager::defaultManager().contentsOfDirectoryAtPath(folder);
    ASSERT_TRUE(names);
    ASSERT_EQ(names->size(), 1u);
    auto copy = plat::UIImage::imageWithData(readData(folder + "/" + names->front()));
    ASSERT_TRUE(copy);
    EXPECT_EQ(copy->size(), (plat::CGSize{300, 400}));
    EXPECT_EQ(plat::testing::CornersOf(*copy), plat::testing::DisplayedCorners(6));
  }
}

TEST_F(Camera, UnknownTypesAreAnsweredWithAnError) {
  struct Case {
    Array args;
    const char* text;
  } cases[] = {
      {{Value(50), Value(7)}, "Invalid destination type"},
      {{Value(50), Value(1), Value(1), Value::null(), Value::null(), Value(5)}, "Invalid encoding type"},
      {{Value(50), Value(0), Value(1), Value::null(), Value::null(), Value(9)}, "Invalid encoding type"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    takePicture(c.args);
    ASSERT_TRUE(plat::UIDriver::shared().pickImage(picture()));
    settle();
    auto answer = onlyCallback();
    EXPECT_EQ(answer.status, 9);
    EXPECT_EQ(answer.message.stringOr(), c.text);
    EXPECT_FALSE(plugin->pickerController());
  }
}

TEST_F(Camera, RefusalsAndCancelsSayWhy) {
  plat::SimulatedCamera::setAvailable(false);
  takePicture({});
  auto c = onlyCallback();
  EXPECT_EQ(c.status, 9);
  EXPECT_EQ(c.message.stringOr(), "No camera available");
  EXPECT_TRUE(log_->contains("Camera.getPicture: source type 1 not available."));
  EXPECT_FALSE(plugin->hasPendingOperation());
  plat::SimulatedCamera::setAvailable(true);

  struct Case {
    const char* name;
    long source;
    plat::ALAuthorizationStatus library;
    const char* text;
  } cases[] = {
      {"camera", 1, plat::ALAuthorizationStatus::Denied, "no image selected"},
      {"library allowed", 0, plat::ALAuthorizationStatus::Authorized, "no image selected"},
      {"library refused", 0, plat::ALAuthorizationStatus::Denied, "has no access to assets"},
      {"album restricted", 2, plat::ALAuthorizationStatus::Restricted, "has no access to assets"},
  };
  for (const auto& k : cases) {
    SCOPED_TRACE(k.name);
    plat::SimulatedPhotoLibrary::setAuthorizationStatus(k.library);
    takePicture({Value(50), Value(1), Value(k.source)});
    ASSERT_TRUE(plat::UIDriver::shared().cancelPicker());
    settle();
    c = onlyCallback();
    EXPECT_EQ(c.status, 9);
    EXPECT_EQ(c.message.stringOr(), k.text);
    EXPECT_FALSE(plugin->pickerController());
  }
}

TEST_F(Camera, RefusedCameraShowsTheAlertOverThePicker) {
  writeInfoPlist({{"CFBundleIdentifier", kBundleIdentifier}, {"CFBundleDisplayName", "Hello"}});
  for (std::size_t button : {0u, 1u}) {
    SCOPED_TRACE(button);
    plat::SimulatedCamera::setAuthorizationStatus(plat::AVAuthorizationStatusDenied);
    takePicture({});
    auto& driver = plat::UIDriver::shared();
    ASSERT_EQ(driver.alertCount(), 1u);
    auto alert = driver.topAlert();
    EXPECT_EQ(alert->alertTitle(), std::optional<std::string>("Hello"));
    EXPECT_EQ(alert->alertMessage(), std::optional<std::string>("Access to the camera has been prohibited; please "
                                                                "enable it in the Settings app to continue."));
    EXPECT_EQ(alert->buttonTitles(), (std::vector<std::string>{"OK", "Settings"}));
    EXPECT_EQ(driver.pickerCount(), 1u);
    ASSERT_TRUE(driver.tapButton(button));
    settle();
    auto c = onlyCallback();
    EXPECT_EQ(c.status, 9);
    EXPECT_EQ(c.message.stringOr(), "has no access to camera");
    EXPECT_EQ(driver.pickerCount(), 0u);
  }
  auto requests = plat::UIApplication::sharedApplication()->urlRequests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].url->absoluteString(), "app-settings:");
}

TEST_F(Camera, TabletLibraryPickerShowsInAPopover) {
  plat::UIDevice::currentDevice()->setUserInterfaceIdiom(plat::UIUserInterfaceIdiomPad);
  auto superview = std::make_shared<plat::UIView>();
  auto webView = std::make_shared<plat::UIView>();
  superview->addSubview(webView);
  engine->setView(webView);

  takePicture({Value(50), Value(1), Value(0), Value::null(), Value::null(), Value(0), Value(0), Value(false),
               Value(false), Value(false), Value(plat::Dictionary{{"x", Value(10)}, {"arrowDir", Value(3)}})});
  auto picker = plugin->pickerController();
  ASSERT_TRUE(picker && picker->pickerPopoverController);
  auto popover = picker->pickerPopoverController;
  EXPECT_TRUE(popover->isPopoverVisible());
  EXPECT_EQ(popover->presentedRect(), (plat::CGRect{{10, 32}, {320, 480}}));
  EXPECT_EQ(popover->arrowDirections(), 15u);
  EXPECT_EQ(popover->presentedInView(), superview);
  EXPECT_FALSE(plugin->hasPendingOperation());
  EXPECT_EQ(picker->topViewController()->title(), std::optional<std::string>("Photos"));

  exec("Camera", "repositionPopover", {Value(plat::Dictionary{{"y", Value(100)}, {"arrowDir", Value(4)}})});
  EXPECT_EQ(popover->presentedRect(), (plat::CGRect{{0, 100}, {320, 480}}));
  EXPECT_EQ(popover->arrowDirections(), 4u);
  EXPECT_TRUE(takeCallbacks().empty());

  ASSERT_TRUE(plat::UIDriver::shared().tapOutsidePopover());
  runUntilIdle();
  auto c = onlyCallback();
  EXPECT_EQ(c.status, 9);
  EXPECT_EQ(c.message.stringOr(), "no image selected");

  // A pick from the popover answers without a modal dismissal.
  auto url = plat::SimulatedPhotoLibrary::addAsset(plat::UIImagePNGRepresentation(*picture()), "png");
  takePicture({Value(50), Value(2), Value(0)});
  ASSERT_TRUE(plat::UIDriver::shared().pickAsset(url));
  settle();
  c = onlyCallback();
  EXPECT_EQ(c.message.stringOr(), url->absoluteString());
}

TEST_F(Camera, MoviesAreAnsweredWithTheirURLAndListedAsVideos) {
  takePicture({Value(50), Value(1), Value(0), Value::null(), Value::null(), Value(0), Value(1)});
  auto picker = plugin->pickerController();
  ASSERT_TRUE(picker);
  EXPECT_EQ(picker->topViewController()->title(), std::optional<std::string>("Videos"));
  ASSERT_TRUE(plat::UIDriver::shared().pickMovie(tmp() + "/clip.MOV"));
  settle();
  auto c = onlyCallback();
  EXPECT_EQ(c.status, 1);
  EXPECT_EQ(c.message.stringOr(), plat::NSURL::fileURLWithPath(tmp() + "/clip.MOV")->absoluteString());
}

// libexif's text for an entry of the picture's GPS block.
std::string gpsText(ExifData* exif, int tag) {
  ExifEntry* e = exif_content_get_entry(exif->ifd[EXIF_IFD_GPS], static_cast<ExifTag>(tag));
  if (!e) return "<missing>";
  char text[128];
  exif_entry_get_value(e, text, sizeof text);
  return text;
}

TEST_F(Camera, GeotaggedPictureWaitsForThePositionAndReadsBackWhole) {
  controller->mutableSettings().set("camerausesgeolocation", Value(true));
  plat::SimulatedLocation::setServicesEnabled(true);
  plat::SimulatedLocation::setAuthorizationStatus(plat::kCLAuthorizationStatusAuthorizedWhenInUse);
  runUntilIdle();
  // 2026-12-07 10:00:00.25 UTC.
  clock_->set(1796637600.25 - plat::kReferenceDateOffset);

  takePicture({Value(50), Value(1), Value(1), Value::null(), Value::null(), Value(0), Value(0), Value(false),
               Value(false), Value(true)});
  ASSERT_TRUE(plat::UIDriver::shared().pickImage(picture(64, 48)));
  settle();
  EXPECT_TRUE(takeCallbacks().empty()) << "answered before the position";
  EXPECT_TRUE(plugin->geotagPending());
  EXPECT_TRUE(plugin->pickerController());

  // A new request meanwhile does not take the waiting answer.
  exec("Camera", "takePicture", {Value(50), Value(0), Value(0)}, "later");
  settle();
  EXPECT_TRUE(takeCallbacks().empty());

  plat::SimulatedLocation::pushLocation(plat::SimulatedFix{-33.8568, 151.2153, -12.5});
  settle();
  plat::SimulatedLocation::pushLocation(plat::SimulatedFix{10, 10});
  settle();
  auto c = onlyCallback();
  ASSERT_EQ(c.status, 1);
  EXPECT_EQ(c.callbackId, "cb");
  plat::Data jpeg = fileOfURL(c.message.stringOr());
  ASSERT_FALSE(jpeg.empty());
  ASSERT_TRUE(plugin->pickerController()) << "the later request keeps its picker";
  EXPECT_EQ(plugin->pickerController()->callbackId, std::optional<std::string>("later"));
  EXPECT_FALSE(plugin->geotagPending());

  // Decodes whole, and libexif finds the GPS block beside the camera's Exif data.
  auto decoded = plat::UIImage::imageWithData(jpeg);
  ASSERT_TRUE(decoded);
  EXPECT_EQ(decoded->size(), (plat::CGSize{64, 48}));
  ExifData* exif = exif_data_new_from_data(jpeg.data(), static_cast<unsigned int>(jpeg.size()));
  ASSERT_TRUE(exif);
  EXPECT_EQ(gpsText(exif, EXIF_TAG_GPS_LATITUDE_REF), "S");
  EXPECT_EQ(gpsText(exif, EXIF_TAG_GPS_LONGITUDE_REF), "E");
  EXPECT_EQ(gpsText(exif, EXIF_TAG_GPS_LATITUDE).substr(0, 7), "33, 51,");
  EXPECT_EQ(gpsText(exif, EXIF_TAG_GPS_LONGITUDE).substr(0, 8), "151, 12,");
  EXPECT_EQ(gpsText(exif, EXIF_TAG_GPS_DATE_STAMP), "2026:12:07");
  EXPECT_EQ(gpsText(exif, EXIF_TAG_GPS_TIME_STAMP).substr(0, 8), "10:00:00");
  ExifEntry* altitudeRef =
      exif_content_get_entry(exif->ifd[EXIF_IFD_GPS], static_cast<ExifTag>(EXIF_TAG_GPS_ALTITUDE_REF));
  ASSERT_TRUE(altitudeRef);
  EXPECT_EQ(altitudeRef->data[0], 1);
  EXPECT_TRUE(exif_content_get_entry(exif->ifd[EXIF_IFD_EXIF], EXIF_TAG_DATE_TIME_ORIGINAL));
  exif_data_unref(exif);

  // One album copy, carrying the same position.
  ASSERT_EQ(libraryCount(), 1u);
  auto names = plat::NSFileManager::defaultManager().contentsOfDirectoryAtPath(plat::SimulatedPhotoLibrary::folderPath());
  auto album = readData(plat::SimulatedPhotoLibrary::folderPath() + "/" + names->front());
  auto properties = plat::CGImageSourceCopyProperties(album);
  ASSERT_TRUE(properties);
  EXPECT_EQ((*properties)["{GPS}"].asDictionary().get("LatitudeRef").stringOr(), "S");
}

// The merge of the position into a picture taken sideways keeps its orientation.
TEST_F(Camera, GeotaggedTurnedPictureKeepsItsOrientation) {
  controller->mutableSettings().set("camerausesgeolocation", Value(true));
  plat::SimulatedLocation::setServicesEnabled(true);
  plat::SimulatedLocation::setAuthorizationStatus(plat::kCLAuthorizationStatusAuthorizedWhenInUse);
  runUntilIdle();
  auto turned = plat::UIImage::imageWithData(plat::testing::JpegWithExifOrientation(40, 30, 8));
  ASSERT_TRUE(turned);
  takePicture({Value(50), Value(0), Value(1)});
  ASSERT_TRUE(plat::UIDriver::shared().pickImage(turned));
  settle();
  plat::SimulatedLocation::pushLocation(plat::SimulatedFix{48.8584, 2.2945});
  settle();
  auto c = onlyCallback();
  ASSERT_EQ(c.status, 1);
  auto jpeg = plat::base64Decode(c.message.stringOr());
  ASSERT_TRUE(jpeg);
  EXPECT_EQ(plat::testing::ExifOrientationOf(*jpeg), 8);
  auto properties = plat::CGImageSourceCopyProperties(*jpeg);
  ASSERT_TRUE(properties);
  EXPECT_EQ((*properties)["{GPS}"].asDictionary().get("LatitudeRef").stringOr(), "N");
  auto decoded = plat::UIImage::imageWithData(*jpeg);
  ASSERT_TRUE(decoded);
  EXPECT_EQ(plat::testing::CornersOf(*decoded), plat::testing::DisplayedCorners(8));
}

TEST_F(Camera, GeotaggedPictureIsAnsweredAtOnceWithoutLocation) {
  controller->mutableSettings().set("camerausesgeolocation", Value("true"));
  struct Case {
    const char* name;
    bool services;
    plat::CLAuthorizationStatus status;
  } cases[] = {
      {"services off", false, plat::kCLAuthorizationStatusAuthorizedWhenInUse},
      {"denied", true, plat::kCLAuthorizationStatusDenied},
      {"restricted", true, plat::kCLAuthorizationStatusRestricted},
      {"undecided, no usage description", true, plat::kCLAuthorizationStatusNotDetermined},
  };
  for (const auto& k : cases) {
    SCOPED_TRACE(k.name);
    plat::SimulatedLocation::setServicesEnabled(k.services);
    plat::SimulatedLocation::setAuthorizationStatus(k.status);
    runUntilIdle();
    takePicture({Value(50), Value(0)});
    ASSERT_TRUE(plat::UIDriver::shared().pickImage(picture()));
    settle();
    auto c = onlyCallback();
    ASSERT_EQ(c.status, 1);
    auto bytes = plat::base64Decode(c.message.stringOr());
    ASSERT_TRUE(bytes);
    auto properties = plat::CGImageSourceCopyProperties(*bytes);
    ASSERT_TRUE(properties);
    EXPECT_FALSE(properties->contains("{GPS}"));
    EXPECT_TRUE(properties->contains("{Exif}"));
    EXPECT_FALSE(plugin->geotagPending());
  }
}

TEST_F(Camera, CleanupRemovesOnlyTheCameraFiles) {
  exec("Camera", "cleanup");
  EXPECT_EQ(onlyCallback().status, 1);

  writeFile(tmp() + "/hbr_photo_001.jpg", "a");
  writeFile(tmp() + "/hbr_photo_002.png", "b");
  writeFile(tmp() + "/hbr_photo_dir/inner.jpg", "c");
  writeFile(tmp() + "/other.jpg", "d");
  writeFile(tmp() + "/keep/hbr_photo_009.jpg", "e");
  exec("Camera", "cleanup");
  auto c = onlyCallback();
  EXPECT_EQ(c.status, 1);
  EXPECT_TRUE(c.message.isNil());
  EXPECT_FALSE(exists(tmp() + "/hbr_photo_001.jpg"));
  EXPECT_FALSE(exists(tmp() + "/hbr_photo_002.png"));
  EXPECT_FALSE(exists(tmp() + "/hbr_photo_dir"));
  EXPECT_TRUE(exists(tmp() + "/other.jpg"));
  EXPECT_TRUE(exists(tmp() + "/keep/hbr_photo_009.jpg"));
  EXPECT_FALSE(log_->contains("Failed to delete"));
}

}  // namespace
