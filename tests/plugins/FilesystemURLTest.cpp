// Parsing hbrfile and assets-library URLs into a file system name and a full path.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "HBRFilesystemURL.h"

using harbor::HBRFilesystemURL;

namespace {

struct ParseCase {
  const char* text;
  std::optional<std::string> fileSystemName;
  std::optional<std::string> fullPath;
};

class FilesystemURLParse : public ::testing::TestWithParam<ParseCase> {};

TEST_P(FilesystemURLParse, NameAndFullPath) {
  const auto& c = GetParam();
  auto url = HBRFilesystemURL::fileSystemURLWithString(c.text);
  EXPECT_EQ(url->fileSystemName(), c.fileSystemName) << c.text;
  EXPECT_EQ(url->fullPath(), c.fullPath) << c.text;
}

const std::optional<std::string> none;

INSTANTIATE_TEST_SUITE_P(
    Cases, FilesystemURLParse,
    ::testing::Values(ParseCase{"hbrfile://localhost/persistent/notes/a.txt", "persistent", "/notes/a.txt"},
                      ParseCase{"hbrfile://localhost/persistent/", "persistent", ""},
                      ParseCase{"hbrfile://localhost/persistent", "persistent", ""},
                      ParseCase{"hbrfile://localhost/persistent/dir/", "persistent", "/dir"},
                      ParseCase{"hbrfile://localhost/temporary/a%20b.txt", "temporary", "/a b.txt"},
                      // Decoded exactly once: "%2541" stays "%41".
                      ParseCase{"hbrfile://localhost/temporary/x%2541", "temporary", "/x%41"},
                      ParseCase{"hbrfile://localhost/persistent/a.jpg?x=1", "persistent", "/a.jpg?x=1"},
                      ParseCase{"hbrfile://localhost/persistent/a%2F..%2F..%2Fetc", "persistent", "/a/../../etc"},
                      ParseCase{"hbrfile://localhost/", none, none}, ParseCase{"hbrfile://localhost", none, none},
                      ParseCase{"hbrfile://otherhost/persistent/a.txt", none, none},
                      ParseCase{"HBRFILE://localhost/persistent/a.txt", none, none},
                      ParseCase{"hbrfile://LOCALHOST/persistent/a.txt", none, none},
                      ParseCase{"file:///persistent/a.txt", none, none},
                      ParseCase{"http://localhost/persistent/a.txt", none, none},
                      ParseCase{"not a url", none, none},
                      ParseCase{"assets-library://asset/asset.JPG?id=1000&ext=JPG", "assets-library",
                                "/asset/asset.JPG?id=1000&ext=JPG"}));

TEST(FilesystemURL, AbsoluteURLAddsNoEscaping) {
  auto url = HBRFilesystemURL::fileSystemURLWithString("hbrfile://localhost/temporary/a%20b.txt");
  EXPECT_EQ(url->absoluteURL(), "hbrfile://localhost/temporary/a b.txt");
  auto root = HBRFilesystemURL::fileSystemURLWithString("hbrfile://localhost/persistent/");
  EXPECT_EQ(root->absoluteURL(), "hbrfile://localhost/persistent");
}

TEST(FilesystemURL, InvalidTextKeepsNoURL) {
  auto url = HBRFilesystemURL::fileSystemURLWithString("hbrfile://localhost/a b");
  EXPECT_EQ(url->url(), nullptr);
  EXPECT_FALSE(url->fileSystemName());
  EXPECT_EQ(HBRFilesystemURL::fileSystemURLWithURL(nullptr)->fullPath(), std::nullopt);
}

TEST(FilesystemURL, KeepsTheURLItWasMadeFrom) {
  auto nsurl = plat::NSURL::URLWithString("hbrfile://localhost/persistent/a.txt");
  auto url = HBRFilesystemURL::fileSystemURLWithURL(nsurl);
  EXPECT_EQ(url->url(), nsurl);
  EXPECT_EQ(url->fullPath(), "/a.txt");
}

}  // namespace
