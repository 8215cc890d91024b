#pragma once
// Where the simulated device is and how it moves: one position written as "LAT,LON[,ALT]"
// (degrees, degrees, metres), and tracks of such positions, one a line, replayed on the main
// run loop's timers (so on the platform clock, manual in tests).
//
// A track file may have blank lines and comment lines starting with "#". Fixes get an accuracy
// of 5 m, a vertical accuracy of 10 m when the altitude is given, and, while replayed, the
// course and speed that the step from the previous fix implies.
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "plat/corelocation/CLLocationManager.h"
#include "plat/dispatch/RunLoop.h"
#include "plat/foundation/Result.h"

namespace plat {

// "48.8584,2.2945" or "48.8584, 2.2945, 35"; the error says what is wrong.
Result<SimulatedFix> parseSimulatedFix(std::string_view text);
// The error names the line ("line 3: ...").
Result<std::vector<SimulatedFix>> parseSimulatedTrack(std::string_view text);
// A track file of at most kMaxTrackFileSize bytes; the error names the file.
inline constexpr std::size_t kMaxTrackFileSize = 16 * 1024 * 1024;
Result<std::vector<SimulatedFix>> readSimulatedTrack(const std::string& path);

// Degrees from true north to go from one position to the other, 0 to below 360.
double bearingBetween(const SimulatedFix& from, const SimulatedFix& to);

// Moves the simulated device along a track: the first fix at start, then one every interval
// seconds, back to the first after the last (a round trip the device keeps making, so a page
// that starts watching late still sees it move). Main thread.
class SimulatedTrackReplay {
 public:
  SimulatedTrackReplay(std::vector<SimulatedFix> fixes, double intervalSeconds);
  ~SimulatedTrackReplay();
  SimulatedTrackReplay(const SimulatedTrackReplay&) = delete;
  SimulatedTrackReplay& operator=(const SimulatedTrackReplay&) = delete;

  void start();
  void stop();
  // How many fixes were pushed so far.
  std::size_t pushed() const { return pushed_; }

 private:
  void pushNext();

  std::vector<SimulatedFix> fixes_;
  double interval_;
  std::size_t pushed_ = 0;
  RunLoop::TimerId timer_ = 0;
};

}  // namespace plat
