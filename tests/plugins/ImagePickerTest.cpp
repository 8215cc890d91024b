// The multi-image picker over the simulated photo library: album order and titles, the
// selection limits and their alert, the grid's columns and rows, the result files' names,
// sizes and orientation, cancel, and the refusals.
#include <gtest/gtest.h>

#include "ImagePickerPlugin.h"
#include "MIPAlbumPickerController.h"
#include "MIPAssetTablePicker.h"
#include "MIPPicker.h"
#include "plat/assetslibrary/ALAssetsLibrary.h"
#include "plat/dispatch/Queues.h"
#include "plat/foundation/NSFileManager.h"
#include "plat/foundation/NSPathUtilities.h"
#include "plat/foundation/Strings.h"
#include "plat/testing/OrientedPictures.h"
#include "plat/uikit/UIDriver.h"
#include "plat/uikit/UIImagePickerController.h"
#include "plat/uikit/UIScreen.h"
#include "support/PluginTest.h"

using namespace harbor;
using plat::Value;

namespace {

class ImagePicker : public harbor::testing::PluginTest {
 protected:
  void SetUp() override {
    PluginTest::SetUp();
    plat::UIDriver::shared().reset();
    registerImagePickerPlugin();
    presenter = std::make_shared<plat::UIViewController>();
    plugin = create<MIPPicker>("MIPPicker", "ImagePicker", presenter);
    ASSERT_TRUE(plugin);
  }
  void TearDown() override {
    plugin.reset();
    plat::UIDriver::shared().reset();
    PluginTest::TearDown();
  }
  void settle() {
    for (int i = 0; i < 3; ++i) {
      plat::dispatch::GlobalQueue::shared().waitIdle();
      runUntilIdle();
    }
  }
  // Photos of the camera roll, oldest first, each w x h.
  std::vector<plat::NSURLPtr> addPhotos(int count, std::size_t w = 32, std::size_t h = 24) {
    std::vector<plat::NSURLPtr> urls;
    for (int i = 0; i < count; ++i) {
      urls.push_back(plat::SimulatedPhotoLibrary::addAsset(
          plat::UIImageJPEGRepresentation(*plat::SimulatedTestPicture(w, h), 0.8), "JPG", 1000.0 + i));
    }
    return urls;
  }
  void open(plat::Dictionary options) {
    exec("ImagePicker", "getPictures", {Value(std::move(options))});
    settle();
  }
  std::shared_ptr<MIPImagePickerController> picker() {
    return std::dynamic_pointer_cast<MIPImagePickerController>(presenter->presentedViewController());
  }
  std::shared_ptr<MIPAlbumPickerController> albums() {
    auto p = picker();
    return p ? std::dynamic_pointer_cast<MIPAlbumPickerController>(p->viewControllers().front()) : nullptr;
  }
  std::shared_ptr<MIPAssetTablePicker> openAlbum(long row) {
    albums()->didSelectRowAtIndexPath({0, row});
    settle();
    return std::dynamic_pointer_cast<MIPAssetTablePicker>(picker()->topViewController());
  }
  // Taps the thumbnail of the item at index, as a finger on its row's cell.
  static void tap(MIPAssetTablePicker& grid, std::size_t index) {
    auto cell = std::static_pointer_cast<MIPAssetCell>(
        grid.cellForRowAtIndexPath({0, static_cast<long>(index / static_cast<std::size_t>(grid.columns))}));
    auto frame = cell->imageViewArray[index % static_cast<std::size_t>(grid.columns)]->frame();
    cell->cellTapped({frame.origin.x + 10, frame.origin.y + 10});
  }
  static void done(MIPAssetTablePicker& grid) {
    auto item = std::dynamic_pointer_cast<plat::UIBarButtonItem>(grid.rightBarButtonItem());
    ASSERT_TRUE(item);
    item->tap();
  }
  harbor::testing::PageCallback onlyCallback() {
    auto callbacks = takeCallbacks();
    EXPECT_EQ(callbacks.size(), 1u);
    return callbacks.empty() ? harbor::testing::PageCallback{} : callbacks.front();
  }
  std::string tmp() const { return plat::stringByStandardizingPath(plat::NSTemporaryDirectory()); }
  std::shared_ptr<plat::UIImage> imageOfURL(const Value& url) {
    auto parsed = plat::NSURL::URLWithString(url.stringOr());
    if (!parsed) return nullptr;
    return plat::UIImage::imageWithData(plat::NSFileManager::defaultManager().contentsAtPath(parsed->path()).value_or(plat::Data{}));
  }

  std::shared_ptr<plat::UIViewController> presenter;
  std::shared_ptr<MIPPicker> plugin;
};

TEST_F(ImagePicker, AlbumsListTheCameraRollFirst) {
  auto photos = addPhotos(3);
  ASSERT_TRUE(plat::SimulatedPhotoLibrary::addAlbum("Trips", {photos[2]}));
  exec("ImagePicker", "getPictures", {Value(plat::Dictionary{{"maximumImagesCount", Value(2)}})});
  settle();
  auto list = albums();
  EXPECT_EQ(list->title(), std::optional<std::string>("Select an Album"));
  ASSERT_EQ(list->numberOfRowsInSection(0), 2);
  EXPECT_EQ(list->heightForRowAtIndexPath({0, 0}), 57);
  auto first = list->cellForRowAtIndexPath({0, 0});
  EXPECT_EQ(first->text(), std::optional<std::string>("Camera Roll (3)"));
  EXPECT_EQ(first->reuseIdentifier(), "Cell");
  EXPECT_EQ(first->accessoryType(), plat::UITableViewCellAccessoryDisclosureIndicator);
  ASSERT_TRUE(first->image());
  EXPECT_EQ(first->image()->size(), (plat::CGSize{75, 75}));
  EXPECT_EQ(list->cellForRowAtIndexPath({0, 1})->text(), std::optional<std::string>("Trips (1)"));

  auto grid = openAlbum(1);
  ASSERT_TRUE(grid);
  EXPECT_EQ(grid->mipAssets.size(), 1u);
  EXPECT_EQ(grid->title(), std::optional<std::string>("Pick Photos"));

  // Cancel from the album list answers an empty list.
  auto cancel = std::dynamic_pointer_cast<plat::UIBarButtonItem>(list->rightBarButtonItem());
  ASSERT_TRUE(cancel);
  EXPECT_EQ(cancel->systemItem(), plat::UIBarButtonItem::Cancel);
  cancel->tap();
  settle();
  auto c = onlyCallback();
  EXPECT_EQ(c.status, 1);
  EXPECT_EQ(c.message, Value(plat::Array{}));
  EXPECT_FALSE(presenter->presentedViewController());
}

TEST_F(ImagePicker, SelectionLimitRefusesWithTheAlertAndDoneAnswersInAlbumOrder) {
  addPhotos(5);
  open({{"maximumImagesCount", Value(3)}});
  auto grid = openAlbum(0);
  ASSERT_TRUE(grid);
  for (std::size_t i : {4u, 0u, 2u}) tap(*grid, i);
  EXPECT_EQ(grid->totalSelectedAssets(), 3u);
  tap(*grid, 1);
  EXPECT_FALSE(grid->mipAssets[1]->selected());
  auto& driver = plat::UIDriver::shared();
  ASSERT_EQ(driver.alertCount(), 1u);
  EXPECT_EQ(driver.topAlert()->alertTitle(), std::optional<std::string>("Maximum 3 photos."));
  EXPECT_EQ(driver.topAlert()->alertMessage(), std::optional<std::string>("You can only select 3 photos at a time."));
  EXPECT_EQ(driver.topAlert()->buttonTitles(), std::vector<std::string>{"Okay"});
  driver.tapButton(0);

  done(*grid);
  settle();
  auto c = onlyCallback();
  ASSERT_EQ(c.status, 1);
  ASSERT_EQ(c.message.asArray().size(), 3u);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(c.message.at(i).stringOr(),
              plat::NSURL::fileURLWithPath(tmp() + plat::format("/hbr_photo_%03d.jpg", i + 1))->absoluteString());
  }
  EXPECT_FALSE(presenter->presentedViewController());
}

TEST_F(ImagePicker, MaximumOfOneReturnsTheFirstTapAtOnce) {
  addPhotos(2);
  exec("ImagePicker", "getPictures", {Value(plat::Dictionary{{"maximumImagesCount", Value(1)}, {"quality", Value(90)}})},
       "first");
  settle();
  // A second call while the picker is open is refused; the open one answers the first.
  exec("ImagePicker", "getPictures", {Value(plat::Dictionary{{"maximumImagesCount", Value(3)}})}, "second");
  auto refused = onlyCallback();
  EXPECT_EQ(refused.callbackId, "second");
  EXPECT_EQ(refused.status, 9);
  auto grid = openAlbum(0);
  ASSERT_TRUE(grid);
  EXPECT_FALSE(grid->rightBarButtonItem());
  EXPECT_EQ(grid->title(), std::optional<std::string>("Pick Photo"));
  tap(*grid, 1);
  settle();
  auto c = onlyCallback();
  ASSERT_EQ(c.status, 1);
  EXPECT_EQ(c.callbackId, "first");
  EXPECT_EQ(c.message.asArray().size(), 1u);
}

TEST_F(ImagePicker, AbsentMaximumRefusesEverySelection) {
  addPhotos(2);
  open({});
  auto grid = openAlbum(0);
  ASSERT_TRUE(grid);
  tap(*grid, 0);
  EXPECT_FALSE(grid->mipAssets[0]->selected());
  EXPECT_EQ(plat::UIDriver::shared().topAlert()->alertTitle(), std::optional<std::string>("Maximum 0 photos."));
  done(*grid);
  settle();
  EXPECT_EQ(onlyCallback().message, Value(plat::Array{}));
}

TEST_F(ImagePicker, OutputSizesFollowTheTarget) {
  struct Case {
    long width, height;
    plat::CGSize expected;
  } cases[] = {
      {800, 0, {800, 600}},  // by the width alone
      {0, 0, {1600, 1200}},  // full resolution
      {400, 400, {400, 300}},
      {0, 300, {400, 300}},  // by the height alone
  };
  addPhotos(1, 1600, 1200);
  for (const auto& k : cases) {
    SCOPED_TRACE(k.width * 10000 + k.height);
    open({{"maximumImagesCount", Value(1)}, {"width", Value(k.width)}, {"height", Value(k.height)},
          {"quality", Value(50)}});
    auto grid = openAlbum(0);
    ASSERT_TRUE(grid);
    tap(*grid, 0);
    settle();
    auto c = onlyCallback();
    ASSERT_EQ(c.status, 1);
    auto image = imageOfURL(c.message.at(0));
    ASSERT_TRUE(image);
    EXPECT_EQ(image->size(), k.expected);
  }
}

// A photo a camera held sideways (400 x 300 stored, Exif orientation 6) shows upright in the
// file: at full resolution its stored pixels with the orientation in the JPEG's Exif data; scaled,
// redrawn upright at the size it shows. The grid's thumbnail is upright as well.
TEST_F(ImagePicker, TurnedPhotoShowsUprightInItsFile) {
  ASSERT_TRUE(plat::SimulatedPhotoLibrary::addAsset(plat::testing::JpegWithExifOrientation(400, 300, 6), "JPG"));
  struct Case {
    long width, height;
    std::array<std::size_t, 2> stored;
    int exif;
    plat::CGSize shown;
  } cases[] = {
      {0, 0, {400, 300}, 6, {300, 400}},
      {150, 0, {150, 200}, 0, {150, 200}},
      {600, 200, {150, 200}, 0, {150, 200}},
  };
  for (const auto& k : cases) {
    SCOPED_TRACE(k.width * 10000 + k.height);
    open({{"maximumImagesCount", Value(1)}, {"width", Value(k.width)}, {"height", Value(k.height)},
          {"quality", Value(90)}});
    auto grid = openAlbum(0);
    ASSERT_TRUE(grid);
    ASSERT_EQ(grid->mipAssets.size(), 1u);
    auto thumbnail = grid->mipAssets[0]->asset->thumbnail();
    ASSERT_TRUE(thumbnail);
    EXPECT_EQ(plat::testing::CornersOf(*thumbnail), plat::testing::DisplayedCorners(6));
    tap(*grid, 0);
    settle();
    auto c = onlyCallback();
    ASSERT_EQ(c.status, 1);
    auto parsed = plat::NSURL::URLWithString(c.message.at(0).stringOr());
    ASSERT_TRUE(parsed);
    auto bytes = plat::NSFileManager::defaultManager().contentsAtPath(parsed->path()).value_or(plat::Data{});
    EXPECT_EQ(plat::testing::JpegFrameSize(bytes), k.stored);
    EXPECT_EQ(plat::testing::ExifOrientationOf(bytes), k.exif);
    auto image = plat::UIImage::imageWithData(bytes);
    ASSERT_TRUE(image);
    EXPECT_EQ(image->size(), k.shown);
    EXPECT_EQ(plat::testing::CornersOf(*image), plat::testing::DisplayedCorners(6));
  }
}

TEST_F(ImagePicker, GridColumnsFollowTheScreenWidth) {
  addPhotos(10, 8, 8);
  struct Case {
    double width;
    std::int32_t columns;
    long rows;
    std::size_t lastRow;
  } cases[] = {{320, 4, 3, 2}, {768, 9, 2, 1}, {100, 1, 10, 1}};
  for (const auto& k : cases) {
    SCOPED_TRACE(k.width);
    plat::UIScreen::mainScreen().setBounds({{0, 0}, {k.width, 480}});
    open({{"maximumImagesCount", Value(20)}});
    auto grid = openAlbum(0);
    ASSERT_TRUE(grid);
    EXPECT_EQ(grid->columns, k.columns);
    EXPECT_EQ(grid->numberOfRowsInSection(0), k.rows);
    EXPECT_EQ(grid->assetsForIndexPath({0, k.rows - 1}).size(), k.lastRow);
    EXPECT_EQ(grid->tableView()->scrolledTo(), (plat::NSIndexPath{0, k.rows - 1}));
    presenter->dismissViewControllerAnimated(false, nullptr);
  }
  plat::UIScreen::mainScreen().setBounds({{0, 0}, {320, 480}});
}

TEST_F(ImagePicker, RefusalsSayWhy) {
  exec("ImagePicker", "getPictures", {});
  auto c = onlyCallback();
  EXPECT_EQ(c.status, 9);
  EXPECT_FALSE(presenter->presentedViewController());

  // A temporary folder that cannot take files: the write's error, and nothing after it.
  addPhotos(2);
  ASSERT_TRUE(plat::NSFileManager::defaultManager().removeItemAtPath(tmp()));
  writeFile(tmp(), "not a folder");
  open({{"maximumImagesCount", Value(2)}});
  auto grid = openAlbum(0);
  ASSERT_TRUE(grid);
  tap(*grid, 0);
  tap(*grid, 1);
  done(*grid);
  settle();
  c = onlyCallback();
  EXPECT_EQ(c.status, 6);
  EXPECT_FALSE(c.message.stringOr().empty());

  // Access to the library refused: the album alert, and the user can still cancel.
  plat::NSFileManager::defaultManager().removeItemAtPath(tmp());
  plat::SimulatedPhotoLibrary::setAuthorizationStatus(plat::ALAuthorizationStatus::Denied);
  open({{"maximumImagesCount", Value(2)}});
  auto& driver = plat::UIDriver::shared();
  ASSERT_TRUE(driver.topAlert());
  EXPECT_EQ(driver.topAlert()->alertTitle(), std::optional<std::string>("Error"));
  EXPECT_TRUE(log_->contains("A problem occured"));
  EXPECT_EQ(albums()->numberOfRowsInSection(0), 0);
}

TEST_F(ImagePicker, ScalingUsesTheSmallerFactorWithoutRounding) {
  auto image = plat::SimulatedTestPicture(3264, 2448);
  ASSERT_TRUE(image);
  struct Case {
    plat::CGSize target, expected;
  } cases[] = {{{800, 0}, {800, 600}}, {{0, 612}, {816, 612}}, {{3264, 2448}, {3264, 2448}}, {{100, 100}, {100, 75}}};
  for (const auto& k : cases) {
    auto scaled = MIPPicker::imageByScalingNotCroppingForSize(*image, k.target);
    ASSERT_TRUE(scaled);
    EXPECT_EQ(scaled->size(), k.expected);
  }
}

}  // namespace

// The screens offer themselves to the UI driver once they are on screen and read, so that the
// runner (or a test) can answer them as a person would; the picker answers the page once.
TEST_F(ImagePicker, TheScreensAreDrivenAsAPersonWould) {
  auto photos = addPhotos(5);
  auto& driver = plat::UIDriver::shared();
  open({{"maximumImagesCount", 2}});
  auto albumScreen = driver.topScreen();
  ASSERT_TRUE(albumScreen);
  EXPECT_EQ(albumScreen->screenTitle(), "Select an Album");
  ASSERT_FALSE(albumScreen->rows().empty());
  EXPECT_EQ(albumScreen->rows().front().text, "Camera Roll (5)");
  EXPECT_EQ(albumScreen->buttonTitles(), std::vector<std::string>{"Cancel"});
  ASSERT_TRUE(driver.selectRow(albumScreen->rows().front().id));
  settle();
  auto grid = driver.topScreen();
  ASSERT_TRUE(grid);
  EXPECT_EQ(grid->screenTitle(), "Pick Photos");
  EXPECT_EQ(grid->selectionLimit(), std::optional<long>(2));
  auto rows = grid->rows();
  ASSERT_EQ(rows.size(), 5u);
  EXPECT_EQ(rows.back().text, photos.back()->absoluteString());
  ASSERT_TRUE(driver.selectRow(rows[4].id));
  ASSERT_TRUE(driver.selectRow(rows[3].id));
  ASSERT_TRUE(driver.tapScreenButton("Done"));
  settle();
  auto answer = onlyCallback();
  ASSERT_EQ(answer.status, 1);
  EXPECT_EQ(answer.message.asArray().size(), 2u);
  EXPECT_EQ(driver.topScreen(), nullptr);  // both screens went with the picker

  // The next request is served (not "A picker is already open."), and Cancel answers [].
  open({{"maximumImagesCount", 1}});
  ASSERT_TRUE(driver.topScreen());
  ASSERT_TRUE(driver.tapScreenButton("Cancel"));
  settle();
  auto cancelled = onlyCallback();
  EXPECT_EQ(cancelled.status, 1);
  EXPECT_TRUE(cancelled.message.asArray().empty());
}
