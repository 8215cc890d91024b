// The bound on the addresses a page's navigations leave with the runner, which both the WebKit
// engine and its extension apply: the last navigations, and those of the last seconds.
#include "plat/web/RecentAddresses.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using plat::web::RecentAddresses;

constexpr std::size_t kBound = RecentAddresses::kAddressBytes;

// A run of navigations of one size, `apart` seconds from each other.
struct Navigations {
  std::size_t count;
  std::size_t bytes;
  double apart;
};

TEST(RecentAddressesTest, ThePagesLastAndRecentNavigationsMeetTheBound) {
  const std::string last = "WebKit: the page's last addresses hold ";
  const std::string recent = "WebKit: the page's addresses of the last 10 seconds hold ";
  const struct {
    const char* what;
    std::vector<Navigations> runs;
    std::size_t endsAt;  // the navigation past the bound (1 for the first), 0 for none
    std::string why;
  } cases[] = {
      {"an application changing its fragment twice a second for ten minutes", {{1200, 120, 0.5}}, 0, ""},
      {"an application changing a 2 KB fragment five times a second for five minutes", {{1500, 2048, 0.2}}, 0, ""},
      {"short fragments in a loop", {{200000, 12, 0.0001}}, 0, ""},
      {"three changes beside a 1 MiB frame", {{3, (std::size_t{1} << 20) + 100, 0.2}}, 0, ""},
      {"a fourth holds the frame's address once more, past the bound",
       {{4, (std::size_t{1} << 20) + 100, 0.2}}, 4, last},
      {"100 long fragments at once, at the bound", {{100, kBound / 100, 0}}, 0, ""},
      {"one more at once is past it", {{101, kBound / 100, 0}}, 101, recent},
      {"40 KB fragments five a second stay within it", {{3000, 40000, 0.2}}, 0, ""},
      {"40 KB fragments in a loop", {{3000, 40000, 0.001}}, 105, recent},
      {"40 KB fragments 20 a second", {{3000, 40000, 0.05}}, 105, recent},
      {"1 KB fragments a hundred a second stay within it", {{3000, 1024, 0.01}}, 0, ""},
      {"1 KB fragments in a loop, on a frame", {{40000, 1024, 0.0001}}, 4097, recent},
      {"two long ones a minute apart are still among the last 100", {{2, kBound / 2 + 1, 60}}, 2, last},
      {"a long one, then 100 short ones, then another long one",
       {{1, kBound / 2 + 1, 0}, {100, 10, 0}, {1, kBound / 2 + 1, 0}}, 0, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    RecentAddresses addresses;
    double now = 1000.5;
    std::size_t made = 0, endedAt = 0;
    for (const Navigations& run : c.runs) {
      for (std::size_t i = 0; i < run.count && !endedAt; ++i) {
        now += run.apart;
        if (addresses.add(run.bytes, now)) endedAt = made + 1;
        ++made;
      }
      // A pause of ten seconds between runs.
      now += RecentAddresses::kRecentSeconds;
    }
    EXPECT_EQ(endedAt, c.endsAt);
    if (endedAt) {
      EXPECT_EQ(addresses.whyTheProcessEnds().rfind(c.why, 0), 0u) << addresses.whyTheProcessEnds();
    }
  }
}

TEST(RecentAddressesTest, ANewProcessStartsWithNoNavigations) {
  RecentAddresses addresses;
  EXPECT_FALSE(addresses.add(kBound, 5));
  EXPECT_TRUE(addresses.add(1, 5));
  addresses.clear();
  EXPECT_FALSE(addresses.add(kBound, 5));
  EXPECT_TRUE(addresses.add(1, 5));
  EXPECT_EQ(addresses.whyTheProcessEnds(), "WebKit: the page's last addresses hold 4194305 bytes, more than 4 MiB; its content process ends");
}

}  // namespace
