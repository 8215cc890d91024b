// The simulated location service: services on and off, the permission, who hears fixes, and
// tracks read from text and replayed on the clock. (Permission requests by usage description and
// the distance filter are tried through the geolocation plugin.)
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "plat/corelocation/CLLocationManager.h"
#include "plat/corelocation/SimulatedTrack.h"
#include "plat/testing/SandboxTest.h"

using namespace plat;

namespace {

class LocationService : public plat::testing::SandboxTest {
 protected:
  void SetUp() override {
    SandboxTest::SetUp();
    SimulatedLocation::reset();
  }
  void TearDown() override {
    SimulatedLocation::reset();
    SandboxTest::TearDown();
  }
  void grantedAndOn() {
    SimulatedLocation::setServicesEnabled(true);
    SimulatedLocation::setAuthorizationStatus(kCLAuthorizationStatusAuthorizedWhenInUse);
    runUntilIdle();
  }
};

// What a delegate heard, in order: "status 4", "fix 48.1,2.2", "error 1".
class Recorder : public CLLocationManagerDelegate {
 public:
  void locationManagerDidUpdateToLocationFromLocation(CLLocationManager&, const CLLocationPtr& location,
                                                      const CLLocationPtr& old) override {
    char line[64];
    std::snprintf(line, sizeof line, "fix %g,%g", location->coordinate().latitude, location->coordinate().longitude);
    heard.push_back(line);
    last = location;
    previous = old;
  }
  void locationManagerDidFailWithError(CLLocationManager&, const NSError& error) override {
    heard.push_back("error " + std::to_string(error.code));
  }
  void locationManagerDidChangeAuthorizationStatus(CLLocationManager&, CLAuthorizationStatus status) override {
    heard.push_back("status " + std::to_string(status));
  }
  std::vector<std::string> take() { return std::exchange(heard, {}); }
  std::vector<std::string> heard;
  CLLocationPtr last, previous;
};

struct Listener {
  std::shared_ptr<CLLocationManager> manager = std::make_shared<CLLocationManager>();
  std::shared_ptr<Recorder> recorder = std::make_shared<Recorder>();
  Listener() { manager->setDelegate(recorder); }
};

SimulatedFix at(double latitude, double longitude) { return SimulatedFix{latitude, longitude}; }

}  // namespace

TEST_F(LocationService, FixesFlowOnlyWithServicesOnAndPermissionGranted) {
  Listener listener;
  SimulatedLocation::pushLocation(at(10, 20));
  listener.manager->startUpdatingLocation();
  runUntilIdle();
  EXPECT_EQ(listener.recorder->take(), std::vector<std::string>{"error 1"}) << "services off: denied";
  listener.manager->stopUpdatingLocation();

  SimulatedLocation::setServicesEnabled(true);
  listener.manager->startUpdatingLocation();
  SimulatedLocation::pushLocation(at(10, 21));
  runUntilIdle();
  EXPECT_TRUE(listener.recorder->take().empty()) << "the user has not been asked: nothing yet";

  // The grant reaches a manager that was already updating, with where the device is.
  SimulatedLocation::setAuthorizationStatus(kCLAuthorizationStatusAuthorizedWhenInUse);
  runUntilIdle();
  EXPECT_EQ(listener.recorder->take(), (std::vector<std::string>{"status 4", "fix 10,21"}));
  clock_->advance(2);
  SimulatedLocation::pushLocation(SimulatedFix{10.5, 21, 120, 8, 12, 90, 3.5});
  runUntilIdle();
  EXPECT_EQ(listener.recorder->take(), std::vector<std::string>{"fix 10.5,21"});
  const CLLocation& fix = *listener.recorder->last;
  EXPECT_EQ(fix.altitude(), 120);
  EXPECT_EQ(fix.horizontalAccuracy(), 8);
  EXPECT_EQ(fix.verticalAccuracy(), 12);
  EXPECT_EQ(fix.course(), 90);
  EXPECT_EQ(fix.speed(), 3.5);
  EXPECT_EQ(fix.timestamp(), clock_->now());
  ASSERT_TRUE(listener.recorder->previous);
  EXPECT_EQ(listener.recorder->previous->coordinate(), (CLLocationCoordinate2D{10, 21}));

  // Taking the permission back: the status first, then the failure of the running updates.
  SimulatedLocation::setAuthorizationStatus(kCLAuthorizationStatusRestricted);
  SimulatedLocation::pushLocation(at(11, 21));
  runUntilIdle();
  EXPECT_EQ(listener.recorder->take(), (std::vector<std::string>{"status 1", "error 1"}));

  SimulatedLocation::setAuthorizationStatus(kCLAuthorizationStatusAuthorizedAlways);
  runUntilIdle();
  listener.recorder->take();
  // Where the device stands comes first on a restart, and once, however often it restarted.
  listener.manager->stopUpdatingLocation();
  listener.manager->startUpdatingLocation();
  listener.manager->stopUpdatingLocation();
  listener.manager->startUpdatingLocation();
  runUntilIdle();
  EXPECT_EQ(listener.recorder->take(), std::vector<std::string>{"fix 11,21"});
  SimulatedLocation::setServicesEnabled(false);
  runUntilIdle();
  EXPECT_EQ(listener.recorder->take(), std::vector<std::string>{"error 1"}) << "services switched off";

  listener.manager->stopUpdatingLocation();
  SimulatedLocation::setServicesEnabled(true);
  SimulatedLocation::pushError(kCLErrorLocationUnknown);
  SimulatedLocation::pushLocation(at(12, 21));
  runUntilIdle();
  EXPECT_TRUE(listener.recorder->take().empty()) << "stopped: nothing more";
}

TEST_F(LocationService, PositionsAndTracksAreReadWithClearErrors) {
  struct Case {
    const char* text;
    std::string error;  // "" when it reads
  };
  const Case fixes[] = {
      {"48.8584,2.2945", ""},
      {" -33.8568 , 151.2153 , 5 ", ""},
      {"+90,-180,-400", ""},
      {"48.8584", "a position is LAT,LON[,ALT] in degrees and metres, not \"48.8584\""},
      {"1,2,3,4", "a position is LAT,LON[,ALT] in degrees and metres, not \"1,2,3,4\""},
      {"1,,3", "a position is LAT,LON[,ALT] in degrees and metres, not \"1,,3\""},
      {"1,nan", "a position is LAT,LON[,ALT] in degrees and metres, not \"1,nan\""},
      {"1,2e", "a position is LAT,LON[,ALT] in degrees and metres, not \"1,2e\""},
      {"90.5,0", "latitude 90.5 is not between -90 and 90"},
      {"0,-180.01", "longitude -180.01 is not between -180 and 180"},
      {"0,0,1e6", "altitude 1e6 is more than 100 km from sea level"},
  };
  for (const Case& c : fixes) {
    auto fix = parseSimulatedFix(c.text);
    EXPECT_EQ(fix.ok() ? "" : fix.error(), c.error) << c.text;
  }
  auto fix = parseSimulatedFix("1.5,2.5,30");
  ASSERT_TRUE(fix);
  EXPECT_EQ(*fix, (SimulatedFix{1.5, 2.5, 30, 5, 10, -1, -1}));
  EXPECT_EQ(parseSimulatedFix("1.5,2.5")->verticalAccuracy, -1) << "no altitude given, none known";

  auto track = parseSimulatedTrack("# a walk\n\n1,2\r\n  3,4,5\n# end");
  ASSERT_TRUE(track) << track.error();
  EXPECT_EQ(track->size(), 2u);
  EXPECT_EQ(parseSimulatedTrack("1,2\n\n3;4\n").error(),
            "line 3: a position is LAT,LON[,ALT] in degrees and metres, not \"3;4\"");
  EXPECT_EQ(parseSimulatedTrack("# nothing\n").error(), "no position in the track");

  std::string path = inHome("tmp/walk.txt");
  writeFile(path, "51.5,-0.12\n51.5001,-0.12\n");
  auto read = readSimulatedTrack(path);
  ASSERT_TRUE(read) << read.error();
  EXPECT_EQ(read->size(), 2u);
  EXPECT_EQ(readSimulatedTrack(inHome("tmp/none.txt")).error(), inHome("tmp/none.txt") + ": cannot be read");
  writeFile(path, "51.5,-0.12\nsouth\n");
  EXPECT_EQ(readSimulatedTrack(path).error(),
            path + ": line 2: a position is LAT,LON[,ALT] in degrees and metres, not \"south\"");
}

TEST_F(LocationService, AReplayedTrackMovesTheDeviceOnTheClockRoundAndRound) {
  grantedAndOn();
  Listener listener;
  listener.manager->startUpdatingLocation();
  // North, then east, then standing, by about 111 m each.
  SimulatedTrackReplay replay({at(0, 0), at(0.001, 0), at(0.001, 0.001), at(0.001, 0.001)}, 10);
  replay.start();
  runUntilIdle();
  EXPECT_EQ(listener.recorder->take(), std::vector<std::string>{"fix 0,0"});
  EXPECT_EQ(listener.recorder->last->speed(), -1) << "no step yet, no speed";

  struct Step {
    std::string heard;
    double course, speed;
  };
  const Step steps[] = {
      {"fix 0.001,0", 0, 11.12},
      {"fix 0.001,0.001", 90, 11.12},
      {"fix 0.001,0.001", -1, 0},
      {"fix 0,0", 225, 15.73},  // back to the start
  };
  for (const Step& step : steps) {
    clock_->advance(9.5);
    runUntilIdle();
    EXPECT_TRUE(listener.recorder->take().empty()) << step.heard << ": not before the interval";
    clock_->advance(0.5);
    runUntilIdle();
    EXPECT_EQ(listener.recorder->take(), std::vector<std::string>{step.heard});
    EXPECT_NEAR(listener.recorder->last->course(), step.course, 0.01) << step.heard;
    EXPECT_NEAR(listener.recorder->last->speed(), step.speed, 0.01) << step.heard;
    EXPECT_EQ(listener.recorder->last->timestamp(), clock_->now());
  }
  EXPECT_EQ(replay.pushed(), 5u);

  replay.stop();
  clock_->advance(100);
  runUntilIdle();
  EXPECT_TRUE(listener.recorder->take().empty());
  ASSERT_TRUE(SimulatedLocation::currentPosition());
  EXPECT_EQ(SimulatedLocation::currentPosition()->latitude, 0) << "the device stays where the track left it";
}
