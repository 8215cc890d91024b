#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "plat/assetslibrary/ALAssetsLibrary.h"
#include "plat/foundation/NSPathUtilities.h"
#include "plat/foundation/NSURLResponse.h"
#include "plat/mobilecoreservices/UTType.h"
#include "plat/testing/SandboxTest.h"

using namespace plat;

namespace {

Data bytesOf(std::string_view text) { return Data(text.begin(), text.end()); }

class AssetsLibraryTest : public plat::testing::SandboxTest {
 protected:
  struct Lookup {
    bool answered = false;
    ALAssetPtr asset;
    std::optional<NSError> error;
  };

  Lookup lookUp(const NSURLPtr& url) {
    Lookup lookup;
    auto library = std::make_shared<ALAssetsLibrary>();
    library->assetForURL(
        url,
        [&](const ALAssetPtr& asset) {
          lookup.answered = true;
          lookup.asset = asset;
        },
        [&](const NSError& error) {
          lookup.answered = true;
          lookup.error = error;
        });
    // Answers come on a later turn, never from inside the call.
    EXPECT_FALSE(lookup.answered);
    runUntilIdle();
    EXPECT_TRUE(lookup.answered);
    return lookup;
  }

  Data readAll(const ALAssetRepresentationPtr& representation) {
    Data data(static_cast<std::size_t>(representation->size()));
    NSError error;
    std::size_t n = representation->getBytes(data.data(), 0, data.size(), &error);
    EXPECT_EQ(n, data.size()) << error.localizedDescription;
    return data;
  }
};

}  // namespace

TEST(UTType, MapsExtensionsAndMimeTypes) {
  struct Case {
    const char* extension;
    const char* uti;
    std::optional<std::string> mime;
    bool image, movie;
  };
  const Case cases[] = {
      {"JPG", "public.jpeg", "image/jpeg", true, false},
      {"jpeg", "public.jpeg", "image/jpeg", true, false},
      {"png", "public.png", "image/png", true, false},
      {"Gif", "com.compuserve.gif", "image/gif", true, false},
      {"MOV", "com.apple.quicktime-movie", "video/quicktime", false, true},
      {"mp4", "public.mpeg-4", "video/mp4", false, true},
      {"xyz", "dyn.ext.xyz", std::nullopt, false, false},
  };
  for (const auto& c : cases) {
    auto uti = UTTypeCreatePreferredIdentifierForTag(kUTTagClassFilenameExtension, c.extension);
    ASSERT_TRUE(uti) << c.extension;
    EXPECT_EQ(*uti, c.uti);
    EXPECT_EQ(UTTypeCopyPreferredTagWithClass(*uti, kUTTagClassMIMEType), c.mime) << c.extension;
    EXPECT_EQ(UTTypeConformsTo(*uti, kUTTypeImage), c.image) << c.extension;
    EXPECT_EQ(UTTypeConformsTo(*uti, kUTTypeMovie), c.movie) << c.extension;
    EXPECT_TRUE(UTTypeConformsTo(*uti, *uti));
  }
  EXPECT_EQ(UTTypeCreatePreferredIdentifierForTag(kUTTagClassMIMEType, "IMAGE/PNG"), "public.png");
  EXPECT_EQ(UTTypeCopyPreferredTagWithClass("public.jpeg", kUTTagClassFilenameExtension), "jpeg");
  EXPECT_FALSE(UTTypeCreatePreferredIdentifierForTag(kUTTagClassFilenameExtension, ""));
  EXPECT_FALSE(UTTypeCreatePreferredIdentifierForTag("public.other-class", "jpg"));
}

TEST(UTType, TheUrlLoaderTakesItsMimeTypesFromTheRegistry) {
  const std::pair<const char*, const char*> cases[] = {
      {"html", "text/html"},     {"JS", "application/javascript"}, {"jpg", "image/jpeg"},
      {"mov", "video/quicktime"}, {"woff2", "font/woff2"},          {"xyz", "application/octet-stream"},
      {"", "application/octet-stream"},
  };
  for (const auto& [extension, mime] : cases) EXPECT_EQ(MIMETypeForPathExtension(extension), mime) << extension;
  // Types outside the photo library's photos and videos are neither.
  auto html = UTTypeCreatePreferredIdentifierForTag(kUTTagClassFilenameExtension, "html");
  ASSERT_TRUE(html);
  EXPECT_FALSE(UTTypeConformsTo(*html, kUTTypeImage));
  EXPECT_FALSE(UTTypeConformsTo(*html, kUTTypeMovie));
}

TEST_F(AssetsLibraryTest, FindsAnAddedPhotoWithItsBytesTypeAndDate) {
  Data jpeg = bytesOf("\xFF\xD8\xFF\xE0 not really a picture \x00\x01\x02");
  auto url = SimulatedPhotoLibrary::addAsset(jpeg, "jpg", 700000123.0);
  ASSERT_TRUE(url);
  const std::string& text = url->absoluteString();
  ASSERT_TRUE(text.starts_with("assets-library://asset/asset.JPG?id=")) << text;
  ASSERT_TRUE(text.ends_with("&ext=JPG")) << text;

  auto found = lookUp(url);
  ASSERT_TRUE(found.asset);
  EXPECT_FALSE(found.error);
  EXPECT_EQ(found.asset->type(), ALAssetTypePhoto);
  EXPECT_EQ(found.asset->assetURL()->absoluteString(), text);
  EXPECT_EQ(found.asset->date(), 700000123.0);
  auto representation = found.asset->defaultRepresentation();
  ASSERT_TRUE(representation);
  EXPECT_EQ(representation->UTI(), "public.jpeg");
  EXPECT_EQ(representation->size(), static_cast<std::int64_t>(jpeg.size()));
  EXPECT_EQ(representation->filename(), found.asset->identifier() + ".JPG");
  EXPECT_EQ(readAll(representation), jpeg);
  // Stored under the library folder of the sandbox home.
  EXPECT_TRUE(exists(inHome("Media/DCIM/" + representation->filename())));

  // The id may be written in any case; the query order does not matter.
  auto id = found.asset->identifier();
  std::string lower;
  for (char c : id) lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  auto other = lookUp(NSURL::URLWithString("assets-library://asset/asset.JPG?ext=JPG&id=" + lower));
  ASSERT_TRUE(other.asset);
  EXPECT_EQ(other.asset->identifier(), id);
}

TEST_F(AssetsLibraryTest, ReadsPartsOfAnAsset) {
  auto url = SimulatedPhotoLibrary::addAsset(bytesOf("0123456789"), "PNG");
  auto asset = lookUp(url).asset;
  ASSERT_TRUE(asset);
  auto representation = asset->defaultRepresentation();
  struct Case {
    std::int64_t offset;
    std::size_t length;
    std::string expected;
    bool error;
  };
  const Case cases[] = {
      {0, 10, "0123456789", false}, {3, 4, "3456", false}, {8, 10, "89", false},
      {10, 5, "", false},           {50, 5, "", false},    {-1, 5, "", true},
  };
  for (const auto& c : cases) {
    std::vector<std::uint8_t> buffer(c.length, 0);
    NSError error;
    std::size_t n = representation->getBytes(buffer.data(), c.offset, buffer.size(), &error);
    EXPECT_EQ(std::string(buffer.begin(), buffer.begin() + static_cast<long>(n)), c.expected) << c.offset;
    EXPECT_EQ(!error.domain.empty(), c.error) << c.offset;
    // A stream's piece of the same: the count, 0 at the end, -1 for the error.
    std::vector<std::uint8_t> piece(c.length, 0);
    long count = representation->readBytes(piece.data(), c.offset, piece.size());
    EXPECT_EQ(count, c.error ? -1L : static_cast<long>(c.expected.size())) << c.offset;
    EXPECT_EQ(piece, buffer) << c.offset;
  }
  // A removed asset reads as an error, not as stale bytes.
  ASSERT_TRUE(SimulatedPhotoLibrary::removeAsset(url));
  std::uint8_t byte = 0;
  EXPECT_EQ(representation->readBytes(&byte, 0, 1), -1);
  NSError error;
  EXPECT_EQ(representation->getBytes(&byte, 0, 1, &error), 0u);
  EXPECT_EQ(error.domain, ALAssetsLibraryErrorDomain);
  EXPECT_EQ(representation->size(), 0);
  EXPECT_FALSE(lookUp(url).asset);
}

TEST_F(AssetsLibraryTest, VideosAndUnknownTypes) {
  auto movie = lookUp(SimulatedPhotoLibrary::addAsset(bytesOf("moov"), "MOV")).asset;
  ASSERT_TRUE(movie);
  EXPECT_EQ(movie->type(), ALAssetTypeVideo);
  EXPECT_EQ(UTTypeCopyPreferredTagWithClass(movie->defaultRepresentation()->UTI(), kUTTagClassMIMEType),
            "video/quicktime");
  auto odd = lookUp(SimulatedPhotoLibrary::addAsset(bytesOf("?"), "xyz")).asset;
  ASSERT_TRUE(odd);
  EXPECT_EQ(odd->type(), ALAssetTypeUnknown);
  EXPECT_FALSE(UTTypeCopyPreferredTagWithClass(odd->defaultRepresentation()->UTI(), kUTTagClassMIMEType));
  // Extensions that are not plain names are refused.
  for (const char* extension : {"", "../x", "a/b", "toolongextension", "j.pg"})
    EXPECT_FALSE(SimulatedPhotoLibrary::addAsset(bytesOf("x"), extension)) << extension;
}

TEST_F(AssetsLibraryTest, UrlsThatNameNoAssetFindNothing) {
  auto url = SimulatedPhotoLibrary::addAsset(bytesOf("photo"), "JPG");
  ASSERT_TRUE(url);
  writeFile(inHome("secret.txt"), "secret");
  const char* urls[] = {
      "assets-library://asset/asset.JPG?id=00000000-0000-0000-0000-000000000000&ext=JPG",
      "assets-library://asset/asset.JPG",
      "assets-library://asset/asset.JPG?ext=JPG",
      "assets-library://asset/asset.JPG?id=&ext=JPG",
      "assets-library://asset/asset.JPG?id=../../secret&ext=txt",
      "assets-library://asset/asset.JPG?id=..%2F..%2Fsecret&ext=txt",
      "assets-library://other/asset.JPG?id=ABC&ext=JPG",
      "file:///etc/passwd",
      "https://example.com/asset.JPG?id=ABC",
  };
  for (const char* text : urls) {
    auto found = lookUp(NSURL::URLWithString(text));
    EXPECT_FALSE(found.asset) << text;
    EXPECT_FALSE(found.error) << text;
  }
  EXPECT_FALSE(lookUp(nullptr).asset);
}

TEST_F(AssetsLibraryTest, RefusedAccessFailsTheLookup) {
  auto url = SimulatedPhotoLibrary::addAsset(bytesOf("photo"), "JPG");
  struct Case {
    ALAuthorizationStatus status;
    std::optional<long> code;
  };
  const Case cases[] = {
      {ALAuthorizationStatus::Denied, ALAssetsLibraryAccessUserDeniedError},
      {ALAuthorizationStatus::Restricted, ALAssetsLibraryAccessGloballyDeniedError},
      {ALAuthorizationStatus::NotDetermined, std::nullopt},
      {ALAuthorizationStatus::Authorized, std::nullopt},
  };
  for (const auto& c : cases) {
    SimulatedPhotoLibrary::setAuthorizationStatus(c.status);
    EXPECT_EQ(ALAssetsLibrary::authorizationStatus(), c.status);
    auto found = lookUp(url);
    if (c.code) {
      ASSERT_TRUE(found.error);
      EXPECT_EQ(found.error->domain, ALAssetsLibraryErrorDomain);
      EXPECT_EQ(found.error->code, *c.code);
      EXPECT_FALSE(found.asset);
    } else {
      EXPECT_FALSE(found.error);
      EXPECT_TRUE(found.asset);
    }
  }
}

TEST_F(AssetsLibraryTest, WritesImageDataAsNewPhotos) {
  auto library = std::make_shared<ALAssetsLibrary>();
  struct Case {
    Data data;
    const char* extension;  // nullptr: refused
  };
  const Case cases[] = {
      {bytesOf("\xFF\xD8\xFF\xDB....."), "JPG"},
      {bytesOf("\x89PNG\r\n\x1A\n...."), "PNG"},
      {bytesOf("GIF89a...."), "GIF"},
      {bytesOf("plain text"), nullptr},
      {Data{}, nullptr},
  };
  for (const auto& c : cases) {
    NSURLPtr written;
    std::optional<NSError> error;
    bool called = false;
    auto completion = [&](const NSURLPtr& url, const std::optional<NSError>& e) {
      called = true;
      written = url;
      error = e;
    };
    library->writeImageDataToSavedPhotosAlbum(c.data, Value(), completion);
    runUntilIdle();
    ASSERT_TRUE(called);
    if (!c.extension) {
      EXPECT_FALSE(written);
      ASSERT_TRUE(error);
      EXPECT_EQ(error->code, ALAssetsLibraryWriteInvalidDataError);
      continue;
    }
    ASSERT_TRUE(written) << c.extension;
    EXPECT_TRUE(written->absoluteString().ends_with(std::string("&ext=") + c.extension));
    auto asset = lookUp(written).asset;
    ASSERT_TRUE(asset);
    EXPECT_EQ(asset->type(), ALAssetTypePhoto);
    EXPECT_EQ(readAll(asset->defaultRepresentation()), c.data);
  }
  SimulatedPhotoLibrary::setAuthorizationStatus(ALAuthorizationStatus::Denied);
  std::optional<NSError> error;
  library->writeImageDataToSavedPhotosAlbum(bytesOf("\xFF\xD8\xFF"), Value(),
                                            [&](const NSURLPtr&, const std::optional<NSError>& e) { error = e; });
  runUntilIdle();
  ASSERT_TRUE(error);
  EXPECT_EQ(error->code, ALAssetsLibraryAccessUserDeniedError);

  SimulatedPhotoLibrary::removeAllAssets();
  EXPECT_FALSE(exists(SimulatedPhotoLibrary::folderPath()));
}
