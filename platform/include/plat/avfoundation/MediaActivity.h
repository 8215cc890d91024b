#pragma once
// What the media players and recorders did, for the runner's log and for tests: every start,
// pause, stop and finish of playback and recording, in order.
//
// Threads: any.
#include <functional>
#include <string>
#include <vector>

namespace plat {

struct MediaEvent {
  std::string kind;    // "play", "pause", "stop", "finish", "record", "record-stop"
  std::string source;  // the file path or the stream URL
  double position = 0; // seconds into the sound (the length written, for "record-stop")
};

class MediaActivity {
 public:
  using Observer = std::function<void(const MediaEvent& event)>;

  static void report(MediaEvent event);
  static std::vector<MediaEvent> events();
  // Hears every event as it is reported, on the reporting thread; nothing for none.
  static void setObserver(Observer observer);
  // Forgets the events and the observer.
  static void reset();
};

}  // namespace plat
