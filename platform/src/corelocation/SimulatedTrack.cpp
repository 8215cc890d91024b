#include "plat/corelocation/SimulatedTrack.h"

#include <charconv>
#include <cmath>
#include <fstream>
#include <iterator>

namespace plat {
namespace {

constexpr double kMaxAltitude = 100000.0;  // metres; beyond this it is no place on earth

std::string_view trimmed(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r')) text.remove_suffix(1);
  return text;
}

// The whole text as one finite number (no locale: the decimal point is always ".").
std::optional<double> number(std::string_view text) {
  text = trimmed(text);
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  double value = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || ec != std::errc() || end != text.data() + text.size() || !std::isfinite(value))
    return std::nullopt;
  return value;
}

}  // namespace

Result<SimulatedFix> parseSimulatedFix(std::string_view text) {
  std::vector<std::string_view> fields;
  for (std::size_t start = 0;;) {
    std::size_t comma = text.find(',', start);
    fields.push_back(text.substr(start, comma == std::string_view::npos ? std::string_view::npos : comma - start));
    if (comma == std::string_view::npos) break;
    start = comma + 1;
  }
  Failure malformed{"a position is LAT,LON[,ALT] in degrees and metres, not \"" + std::string(text) + "\""};
  if (fields.size() < 2 || fields.size() > 3) return malformed;
  std::optional<double> values[3];
  for (std::size_t i = 0; i < fields.size(); ++i) {
    values[i] = number(fields[i]);
    if (!values[i]) return malformed;
  }
  SimulatedFix fix;
  fix.latitude = *values[0];
  fix.longitude = *values[1];
  if (std::fabs(fix.latitude) > 90)
    return Failure{"latitude " + std::string(trimmed(fields[0])) + " is not between -90 and 90"};
  if (std::fabs(fix.longitude) > 180)
    return Failure{"longitude " + std::string(trimmed(fields[1])) + " is not between -180 and 180"};
  if (values[2]) {
    if (std::fabs(*values[2]) > kMaxAltitude)
      return Failure{"altitude " + std::string(trimmed(fields[2])) + " is more than 100 km from sea level"};
    fix.altitude = *values[2];
    fix.verticalAccuracy = 10;
  }
  return fix;
}

Result<std::vector<SimulatedFix>> parseSimulatedTrack(std::string_view text) {
  std::vector<SimulatedFix> fixes;
  std::size_t lineNumber = 0;
  for (std::size_t start = 0; start <= text.size();) {
    std::size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = trimmed(text.substr(start, end - start));
    start = end + 1;
    ++lineNumber;
    if (line.empty() || line.front() == '#') continue;
    auto fix = parseSimulatedFix(line);
    if (!fix) return Failure{"line " + std::to_string(lineNumber) + ": " + fix.error()};
    fixes.push_back(*fix);
  }
  if (fixes.empty()) return Failure{"no position in the track"};
  return fixes;
}

Result<std::vector<SimulatedFix>> readSimulatedTrack(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return Failure{path + ": cannot be read"};
  std::string text;
  char buffer[65536];
  while (in.read(buffer, sizeof buffer) || in.gcount() > 0) {
    text.append(buffer, static_cast<std::size_t>(in.gcount()));
    if (text.size() > kMaxTrackFileSize) return Failure{path + ": larger than 16 MiB, too large for a track"};
  }
  if (in.bad()) return Failure{path + ": cannot be read"};
  auto track = parseSimulatedTrack(text);
  if (!track) return Failure{path + ": " + track.error()};
  return track;
}

double bearingBetween(const SimulatedFix& from, const SimulatedFix& to) {
  constexpr double kRadians = M_PI / 180.0;
  double lat1 = from.latitude * kRadians;
  double lat2 = to.latitude * kRadians;
  double dLon = (to.longitude - from.longitude) * kRadians;
  double y = std::sin(dLon) * std::cos(lat2);
  double x = std::cos(lat1) * std::sin(lat2) - std::sin(lat1) * std::cos(lat2) * std::cos(dLon);
  double degrees = std::fmod(std::atan2(y, x) / kRadians + 360.0, 360.0);
  return degrees >= 360.0 ? 0.0 : degrees;
}

SimulatedTrackReplay::SimulatedTrackReplay(std::vector<SimulatedFix> fixes, double intervalSeconds)
    : fixes_(std::move(fixes)), interval_(intervalSeconds > 0 ? intervalSeconds : 1.0) {}

SimulatedTrackReplay::~SimulatedTrackReplay() { stop(); }

void SimulatedTrackReplay::start() {
  if (timer_ || fixes_.empty()) return;
  pushNext();
  timer_ = RunLoop::main().scheduleTimer(interval_, [this] { pushNext(); }, interval_);
}

void SimulatedTrackReplay::stop() {
  if (!timer_) return;
  RunLoop::main().cancelTimer(timer_);
  timer_ = 0;
}

void SimulatedTrackReplay::pushNext() {
  SimulatedFix fix = fixes_[pushed_ % fixes_.size()];
  if (pushed_ > 0) {
    const SimulatedFix& previous = fixes_[(pushed_ - 1) % fixes_.size()];
    CLLocation from({previous.latitude, previous.longitude}, 0, 0, 0, 0, 0, 0);
    CLLocation to({fix.latitude, fix.longitude}, 0, 0, 0, 0, 0, 0);
    double metres = to.distanceFromLocation(from);
    fix.speed = metres / interval_;
    // Standing still has no direction.
    fix.course = metres > 0 ? bearingBetween(previous, fix) : -1;
  }
  ++pushed_;
  SimulatedLocation::pushLocation(fix);
}

}  // namespace plat
