#include "HarborRunner.h"

#include <pthread.h>
#include <signal.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <thread>

#include "AppClasses.h"
#include "AppDelegate.h"
#include "BundleCheck.h"
#include "HBRContainerClasses.h"
#include "HBRViewController.h"
#include "SandboxHomeLock.h"
#include "ScreenWatcher.h"
#include "StartWatch.h"
#include "VirtualDisplay.h"
#include "HBRWebViewEngineProtocol.h"
#include "plat/assetslibrary/ALAssetsLibrary.h"
#include "plat/foundation/ClassRegistry.h"
#include "plat/addressbook/ABAddressBook.h"
#include "plat/audiotoolbox/AudioServices.h"
#include "plat/avfoundation/AVAudioRecorder.h"
#include "plat/avfoundation/MediaActivity.h"
#include "plat/avfoundation/MediaFormat.h"
#include "plat/corelocation/CLLocationManager.h"
#include "plat/corelocation/SimulatedTrack.h"
#include "plat/dispatch/RunLoop.h"
#include "plat/foundation/Log.h"
#include "plat/foundation/NSBundle.h"
#include "plat/foundation/NSException.h"
#include "plat/foundation/NSFileManager.h"
#include "plat/foundation/NSLocale.h"
#include "plat/foundation/NSNotificationCenter.h"
#include "plat/foundation/NSPathUtilities.h"
#include "plat/foundation/NSUUID.h"
#include "plat/foundation/NSUserDefaults.h"
#include "plat/foundation/Strings.h"
#include "plat/uikit/UIApplication.h"
#include "plat/uikit/UIDevice.h"
#include "plat/uikit/UIDriver.h"
#include "plat/mobilecoreservices/UTType.h"
#include "plat/uikit/UIImagePickerController.h"
#include "plat/uikit/UIScreen.h"
#include "plat/uikit/UIApplicationDelegate.h"
#include "plat/uikit/UIWebView.h"
#include "plat/uikit/UIWindow.h"
#include "plat/web/JSContext.h"
#include "plat/web/WebPage.h"
#include "plat/webkit/WKWebView.h"

namespace harbor::runner {
namespace {

// The private display of this run, for the exits that skip destructors.
std::atomic<VirtualDisplay*> lastResortDisplay{nullptr};
void stopLastResortDisplay() {
  if (VirtualDisplay* display = lastResortDisplay.load()) display->stop();
}

// Asks the application to terminate, once, from any thread: the request is carried out on the
// main run loop, where the application lives. Page script is stopped first, since the main
// thread may be stuck in a page's endless loop and would never reach the request otherwise
// (with a hook to run first, once the hook is done, or after a bound).
class Terminator {
 public:
  // Runs on the main loop as the stop begins, before termination tears the views down. Set
  // before the application starts.
  std::function<void()> beforeTermination;

  // The first request wins, and with it its exit status: true for that one.
  bool request(std::string reason, int exitStatus = 0) {
    if (requested_.exchange(true)) return false;
    exitStatus_.store(exitStatus);
    if (!beforeTermination) {
      plat::JSContext::stopAllScripts();
    } else {
      // The hook needs the page still running (a screenshot asks WebKit to draw it), so page
      // script is stopped after it; and from here too, should the main thread not get there.
      std::thread([] {
        std::this_thread::sleep_for(std::chrono::duration<double>(kBeforeTerminationSeconds));
        plat::JSContext::stopAllScripts();
      }).detach();
    }
    plat::RunLoop::main().post([this, reason = std::move(reason)] {
      // Why the run ends is never lost in a page's flood of lines.
      plat::NSLogPastRate("harbor: terminating: " + reason);
      if (beforeTermination) {
        beforeTermination();
        plat::JSContext::stopAllScripts();
      }
      plat::UIApplication::sharedApplication()->terminate();
    });
    return true;
  }
  // How long the hook may hold page script up.
  static constexpr double kBeforeTerminationSeconds = plat::web::WebPage::kSnapshotSeconds + 2;

  int exitStatus() const { return exitStatus_.load(); }

 private:
  std::atomic<bool> requested_{false};
  std::atomic<int> exitStatus_{0};
};

// SIGINT and SIGTERM are taken by one thread of ours with sigwait, so that stopping runs as an
// ordinary task on the main loop instead of inside a signal handler. The signals are blocked
// before any other thread of ours exists, and every thread inherits that. A library may have
// started a thread before main with them open (WebKit's allocator does, while the library
// loads): a signal the system hands to such a thread is passed on to the waiting one by a
// handler, instead of ending the process. A second signal while the application is still
// terminating ends the process at once, when it comes at least kSecondSignalSeconds after the
// first: signals that arrive together are one request (`timeout` sends its signal to the runner
// and again to the runner's process group, and a terminal's Ctrl-C may reach it twice so), and
// ending at once then would skip termination: no backups, and a display torn from under the
// toolkit.
constexpr double kSecondSignalSeconds = 2;
pthread_t gStopSignalWaiter;

void passStopSignalToTheWaiter(int signal) { pthread_kill(gStopSignalWaiter, signal); }

void watchStopSignals(const std::shared_ptr<Terminator>& terminator) {
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  std::thread waiter([signals, terminator] {
    int received = 0;
    std::optional<std::chrono::steady_clock::time_point> first;
    for (;;) {
      if (sigwait(&signals, &received) != 0) continue;
      auto now = std::chrono::steady_clock::now();
      if (first) {
        if (now - *first < std::chrono::duration<double>(kSecondSignalSeconds)) continue;
        stopLastResortDisplay();
        std::_Exit(128 + received);
      }
      first = now;
      terminator->request(received == SIGINT ? "received SIGINT" : "received SIGTERM");
    }
  });
  gStopSignalWaiter = waiter.native_handle();
  waiter.detach();
  struct sigaction action {};
  action.sa_handler = passStopSignalToTheWaiter;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

// Whether the class of that name, made as the container would make it, is a web view engine.
bool isWebViewEngine(const std::string& className) {
  return std::dynamic_pointer_cast<HBRWebViewEngineProtocol>(plat::ClassRegistry::shared().create(className)) !=
         nullptr;
}

plat::Result<double> parseSeconds(const std::string& text) {
  char* end = nullptr;
  double value = std::strtod(text.c_str(), &end);
  if (text.empty() || *end != '\0' || !std::isfinite(value) || value <= 0)
    return plat::Failure{"--run-seconds needs a positive number of seconds, not \"" + text + "\""};
  return value;
}

plat::Result<std::size_t> parseButton(const std::string& text) {
  std::size_t used = 0;
  unsigned long value = 0;
  try {
    if (!text.empty() && text[0] >= '0' && text[0] <= '9') value = std::stoul(text, &used);
  } catch (const std::exception&) {
    used = 0;
  }
  if (used == 0 || used != text.size() || value == 0)
    return plat::Failure{"--dialog-button needs a button number from 1, not \"" + text + "\""};
  return static_cast<std::size_t>(value);
}

plat::Result<plat::CMAcceleration> parseAcceleration(const std::string& text) {
  plat::Failure failure{"--acceleration needs three numbers X,Y,Z in g, not \"" + text + "\""};
  double values[3] = {0, 0, 0};
  const char* p = text.c_str();
  for (int i = 0; i < 3; ++i) {
    char* end = nullptr;
    values[i] = std::strtod(p, &end);
    if (end == p || !std::isfinite(values[i]) || std::fabs(values[i]) > 1000) return failure;
    if (i < 2 && *end != ',') return failure;
    p = end + (i < 2 ? 1 : 0);
  }
  if (*p != '\0') return failure;
  return plat::CMAcceleration{values[0], values[1], values[2]};
}

plat::Result<double> parseHeading(const std::string& text) {
  char* end = nullptr;
  double value = std::strtod(text.c_str(), &end);
  if (text.empty() || *end != '\0' || !std::isfinite(value) || value < 0 || value >= 360)
    return plat::Failure{"--heading needs degrees from 0 to below 360, not \"" + text + "\""};
  return value;
}

plat::Result<LocationPermission> parsePermission(const std::string& option, const std::string& text) {
  static const std::pair<const char*, LocationPermission> names[] = {
      {"ask", LocationPermission::Ask},         {"refuse", LocationPermission::Refuse},
      {"granted", LocationPermission::Granted}, {"denied", LocationPermission::Denied},
      {"restricted", LocationPermission::Restricted}};
  for (const auto& [name, permission] : names) {
    if (text == name) return permission;
  }
  return plat::Failure{option + " is one of ask, refuse, granted, denied, restricted, not \"" + text + "\""};
}

// A text from the page or the user, on one log line (see plat::logEscaped), with single quotes
// escaped too when it is to be quoted.
std::string escaped(const std::string& text, bool forQuotes) {
  std::string out = plat::logEscaped(text);
  if (!forQuotes) return out;
  std::string quotedOut;
  for (char c : out) quotedOut += c == '\'' ? std::string("\\'") : std::string(1, c);
  return quotedOut;
}

std::string quoted(const std::optional<std::string>& text) { return text ? "'" + escaped(*text, true) + "'" : "-"; }

// A page's text in a dialog's log line: its start only, as other page text is cut in the log,
// so that a page's long or many dialogs cannot fill the log. The dialog itself shows it whole.
std::string excerpt(const std::string& text, bool forQuotes) {
  std::string out = plat::logExcerpt(text);
  if (!forQuotes) return out;
  std::string quotedOut;
  for (char c : out) quotedOut += c == '\'' ? std::string("\\'") : std::string(1, c);
  return quotedOut;
}

std::string quotedExcerpt(const std::optional<std::string>& text) {
  return text ? "'" + excerpt(*text, true) + "'" : "-";
}

}  // namespace

plat::UIDriver::AutoAnswer dialogAnswer(const Options& options) {
  plat::UIDriver::AutoAnswer answer;
  answer.buttonIndex = options.dialogButton.value_or(1) - 1;
  answer.text = options.dialogText;
  return answer;
}

std::string describeAlert(const plat::UIDrivenAlert& alert, const plat::UIDriver::AutoAnswer& answer) {
  std::vector<std::string> buttons = alert.buttonTitles();
  std::string line = "alert " + quotedExcerpt(alert.alertTitle()) + " " + quotedExcerpt(alert.alertMessage()) + " [";
  for (std::size_t i = 0; i < buttons.size(); ++i) line += (i ? ", " : "") + excerpt(buttons[i], false);
  line += "] -> ";
  if (buttons.empty()) return line + "nothing (no button to press)";
  line += excerpt(buttons[std::min(answer.buttonIndex, buttons.size() - 1)], false);
  if (alert.textFieldCount() > 0) line += " with " + quotedExcerpt(answer.text ? answer.text : alert.textFieldText(0));
  return line;
}

namespace {

struct Picture {
  std::string name;
  std::shared_ptr<plat::UIImage> image;
  plat::Data bytes;
};

// The movies --pictures names: the folder's MP4, MOV and M4V files, in name order. For "test",
// none: a movie is made when one is asked for.
std::vector<std::string> listMovies(const std::string& source) {
  std::vector<std::string> movies;
  if (source == "test") return movies;
  auto names = plat::NSFileManager::defaultManager().contentsOfDirectoryAtPath(source).value_or(
      std::vector<std::string>{});
  std::sort(names.begin(), names.end());
  for (const auto& name : names) {
    std::string extension = plat::toLowerASCII(plat::pathExtension(name));
    if (extension == "mp4" || extension == "mov" || extension == "m4v")
      movies.push_back(plat::stringByAppendingPathComponent(source, name));
  }
  return movies;
}

// A movie the user chooses from the library, as the library hands it over: a copy in the
// application's temporary folder. The next of --pictures' movies, or a generated 3-second test
// movie; nothing (logged) when there is none or it cannot be copied.
std::optional<std::string> movieForTheLibraryPicker(const std::string& source, const std::vector<std::string>& movies,
                                                    std::size_t& next) {
  const std::string tmp = plat::stringByStandardizingPath(plat::NSTemporaryDirectory());
  std::string target;
  if (source == "test") {
    target = plat::stringByAppendingPathComponent(tmp, "picked-test-movie-" + plat::NSUUIDString() + ".mp4");
    if (!plat::writeMovieFile(target, 3, 640, 480)) return std::nullopt;
    return target;
  }
  if (movies.empty()) return std::nullopt;
  const std::string& movie = movies[next++ % movies.size()];
  target = plat::stringByAppendingPathComponent(tmp, "picked-" + plat::NSUUIDString() + "-" + plat::lastPathComponent(movie));
  std::error_code ec;
  std::filesystem::copy_file(movie, target, ec);
  if (ec) {
    plat::NSLog("harbor: --pictures: " + plat::lastPathComponent(movie) + " cannot be copied: " + ec.message());
    std::filesystem::remove(target, ec);
    return std::nullopt;
  }
  return target;
}

// The pictures --pictures names: the folder's JPEG and PNG files that decode, or the test card.
std::vector<Picture> loadPictures(const std::string& source) {
  std::vector<Picture> pictures;
  if (source == "test") {
    auto image = plat::SimulatedTestPicture(640, 480);
    pictures.push_back({"test picture", image, plat::UIImageJPEGRepresentation(*image, 0.9)});
    return pictures;
  }
  auto names = plat::NSFileManager::defaultManager().contentsOfDirectoryAtPath(source).value_or(
      std::vector<std::string>{});
  std::sort(names.begin(), names.end());
  for (const auto& name : names) {
    std::string extension = plat::toLowerASCII(plat::pathExtension(name));
    if (extension != "jpg" && extension != "jpeg" && extension != "png") continue;
    auto bytes = plat::NSFileManager::defaultManager().contentsAtPath(plat::stringByAppendingPathComponent(source, name));
    auto image = bytes ? plat::UIImage::imageWithData(*bytes) : nullptr;
    if (!image) {
      plat::NSLog("harbor: --pictures: " + name + " is not a picture; skipped");
      continue;
    }
    pictures.push_back({name, image, std::move(*bytes)});
  }
  return pictures;
}

void answerPickers(const Options& options) {
  auto pictures = std::make_shared<std::vector<Picture>>();
  if (options.pictures) {
    *pictures = loadPictures(*options.pictures);
    auto existing = plat::NSFileManager::defaultManager().contentsOfDirectoryAtPath(
        plat::SimulatedPhotoLibrary::folderPath());
    if (!existing || existing->empty()) {
      double date = 0;
      for (const auto& picture : *pictures) {
        bool png = picture.bytes.size() > 1 && picture.bytes[0] == 0x89;
        plat::SimulatedPhotoLibrary::addAsset(picture.bytes, png ? "PNG" : "JPG", date += 1);
      }
    }
  }
  auto next = std::make_shared<std::size_t>(0);
  auto nextMovie = std::make_shared<std::size_t>(0);
  const std::string source = options.pictures.value_or("");
  auto movies = std::make_shared<std::vector<std::string>>(options.pictures ? listMovies(source) : std::vector<std::string>{});
  plat::UIDriver::shared().setPickerAutoAnswer([pictures, next, source, movies, nextMovie](plat::UIDrivenPicker& picker) {
    const auto types = picker.pickerMediaTypes();
    const bool moviesOnly = std::find(types.begin(), types.end(), plat::kUTTypeImage) == types.end();
    if (moviesOnly && picker.pickerSourceType() != plat::UIImagePickerControllerSourceTypeCamera && !source.empty()) {
      // A library request for videos only: a photo would be ignored, so the user picks a movie.
      auto movie = movieForTheLibraryPicker(source, *movies, *nextMovie);
      if (!movie) {
        plat::NSLog("harbor: image picker library -> cancelled (no movies)");
        picker.cancelPicking();
        return;
      }
      plat::NSLog("harbor: image picker library -> movie '" + escaped(plat::lastPathComponent(*movie), true) + "'");
      if (!picker.pickMovie(*movie)) picker.cancelPicking();
      return;
    }
    if (pictures->empty()) {
      plat::NSLog("harbor: image picker -> cancelled");
      picker.cancelPicking();
      return;
    }
    if (picker.pickerSourceType() == plat::UIImagePickerControllerSourceTypeCamera) {
      if (moviesOnly) {
        // A camera that only films (the capture plugin's video picker): three seconds.
        plat::NSLog("harbor: image picker camera -> filmed 3 s");
        if (!picker.recordVideo(3)) picker.cancelPicking();
        return;
      }
      const Picture& picture = (*pictures)[(*next)++ % pictures->size()];
      plat::NSLog("harbor: image picker camera -> '" + picture.name + "'");
      picker.pickImage(picture.image);
      return;
    }
    // The newest photo of the library.
    auto library = std::make_shared<plat::ALAssetsLibrary>();
    auto newest = std::make_shared<plat::NSURLPtr>();
    std::weak_ptr<plat::UIDrivenPicker> weak = plat::UIDriver::shared().topPicker();
    library->enumerateGroupsWithTypes(
        plat::ALAssetsGroupSavedPhotos,
        [library, newest, weak](const plat::ALAssetsGroupPtr& group, bool&) {
          if (group) {
            group->setAssetsFilter(plat::ALAssetsGroup::AllPhotos);
            group->enumerateAssetsUsingBlock([newest](const plat::ALAssetPtr& asset, std::size_t, bool&) {
              if (asset) *newest = asset->assetURL();
            });
            return;
          }
          auto picker = weak.lock();
          if (!picker) return;
          if (!*newest) {
            plat::NSLog("harbor: image picker library -> cancelled (no photos)");
            picker->cancelPicking();
            return;
          }
          plat::NSLog("harbor: image picker library -> " + (*newest)->absoluteString());
          picker->pickAsset(*newest);
        },
        [weak](const plat::NSError& error) {
          plat::NSLog("harbor: image picker library -> cancelled (" + error.localizedDescription + ")");
          if (auto picker = weak.lock()) picker->cancelPicking();
        });
  });
}

// The audio recorder screen: a person presses Record, speaks for a second, presses Stop and then
// Done (once it is enabled again; a take that stopped by itself needs Done only).
void pressDoneWhenEnabled(std::weak_ptr<plat::UIDrivenScreen> weak, int triesLeft) {
  auto screen = weak.lock();
  if (!screen || plat::UIDriver::shared().topScreen() != screen) return;  // closed by itself
  auto buttons = screen->buttonTitles();
  if (std::find(buttons.begin(), buttons.end(), "Done") != buttons.end()) {
    plat::NSLog("harbor: screen '" + escaped(screen->screenTitle(), true) + "' -> Done");
    screen->tapButton("Done");
    return;
  }
  if (triesLeft <= 0) {
    plat::NSLog("harbor: screen '" + escaped(screen->screenTitle(), true) + "' -> left open (Done stays disabled)");
    return;
  }
  plat::RunLoop::main().scheduleTimer(0.1, [weak, triesLeft] { pressDoneWhenEnabled(weak, triesLeft - 1); });
}

void answerRecorderScreen(plat::UIDrivenScreen& screen) {
  const std::string line = "harbor: screen '" + escaped(screen.screenTitle(), true) + "' -> ";
  std::weak_ptr<plat::UIDrivenScreen> weak = plat::UIDriver::shared().topScreen();
  auto buttons = screen.buttonTitles();
  if (std::find(buttons.begin(), buttons.end(), "Record") == buttons.end()) return pressDoneWhenEnabled(weak, 50);
  plat::NSLog(line + "Record");
  screen.tapButton("Record");
  plat::RunLoop::main().scheduleTimer(1.0, [weak, line] {
    auto screen = weak.lock();
    if (!screen) return;
    auto buttons = screen->buttonTitles();
    if (std::find(buttons.begin(), buttons.end(), "Stop") != buttons.end()) {
      plat::NSLog(line + "Stop after 1 s");
      screen->tapButton("Stop");
    }
    pressDoneWhenEnabled(weak, 50);
  });
}

// The multi-image picker: the first album (the camera roll comes first), then the newest photos
// up to the picker's limit (all of them without one), then Done.
bool answerPhotoScreens(plat::UIDrivenScreen& screen) {
  const std::string title = screen.screenTitle();
  const std::string line = "harbor: screen '" + escaped(title, true) + "' -> ";
  auto rows = screen.rows();
  if (title == "Select an Album") {
    if (rows.empty()) {
      plat::NSLog(line + "Cancel (no albums)");
      screen.tapButton("Cancel");
    } else {
      plat::NSLog(line + "'" + escaped(rows.front().text, true) + "'");
      screen.selectRow(rows.front().id);
    }
    return true;
  }
  if (title != "Pick Photos" && title != "Pick Photo") return false;
  const long limit = screen.selectionLimit().value_or(-1);
  std::size_t count = rows.size();
  if (limit >= 0) count = std::min(count, static_cast<std::size_t>(limit));
  std::string chosen;
  for (std::size_t i = 0; i < count; ++i) {
    const auto& row = rows[rows.size() - 1 - i];
    chosen += (i ? ", " : "") + escaped(row.text, false);
  }
  auto buttons = screen.buttonTitles();
  const bool done = std::find(buttons.begin(), buttons.end(), "Done") != buttons.end();
  plat::NSLog(line + "chose " + std::to_string(count) + (count ? " (" + chosen + ")" : std::string()) +
              (done ? ", Done" : ""));
  // Tapped in the grid's order; the answer lists them in that order anyway.
  for (std::size_t i = count; i > 0; --i) screen.selectRow(rows[rows.size() - i].id);
  if (done) screen.tapButton("Done");
  return true;
}

void standInForTheAddressBookUser(const Options& options) {
  switch (options.contactsAccess) {
    case ContactsAccess::Granted:
      plat::SimulatedAddressBookAccess::setAuthorizationStatus(plat::ABAuthorizationStatus::Authorized);
      break;
    case ContactsAccess::Denied:
      plat::SimulatedAddressBookAccess::setAuthorizationStatus(plat::ABAuthorizationStatus::Denied);
      break;
    case ContactsAccess::Restricted:
      plat::SimulatedAddressBookAccess::setAuthorizationStatus(plat::ABAuthorizationStatus::Restricted);
      break;
    default:
      break;
  }
  bool refuse = options.contactsAccess == ContactsAccess::Refuse;
  plat::SimulatedAddressBookAccess::setAnswer(refuse ? plat::SimulatedAddressBookAccess::Answer::Deny
                                                     : plat::SimulatedAddressBookAccess::Answer::Grant);
  plat::SimulatedAddressBookAccess::setPromptObserver([](plat::SimulatedAddressBookAccess::Answer answer) {
    plat::NSLog(std::string("harbor: contacts access -> ") +
                (answer == plat::SimulatedAddressBookAccess::Answer::Grant ? "allowed" : "refused"));
  });
  // A picker answered with a pick once is cancelled when it comes back (after a person screen
  // opened for editing), or the two would take turns for ever.
  auto picked = std::make_shared<std::vector<std::weak_ptr<plat::UIDrivenScreen>>>();
  auto pick = options.pickContact;
  plat::UIDriver::shared().setScreenAnswer([picked, pick](plat::UIDrivenScreen& screen) {
    if (screen.screenTitle() == "Audio recording") return answerRecorderScreen(screen);
    if (answerPhotoScreens(screen)) return;
    std::string line = "harbor: screen '" + escaped(screen.screenTitle(), true) + "' -> ";
    auto top = plat::UIDriver::shared().topScreen();
    bool pickedBefore = std::any_of(picked->begin(), picked->end(), [&](const auto& w) { return w.lock() == top; });
    if (screen.screenTitle() == "Contacts" && pick && !pickedBefore) {
      auto rows = screen.rows();
      if (std::any_of(rows.begin(), rows.end(), [&](const auto& row) { return row.id == *pick; })) {
        plat::NSLog(line + "picked " + std::to_string(*pick));
        picked->push_back(top);
        screen.selectRow(*pick);
        return;
      }
    }
    auto buttons = screen.buttonTitles();
    for (const char* choice : {"Back", "Cancel"}) {
      if (std::find(buttons.begin(), buttons.end(), choice) == buttons.end()) continue;
      plat::NSLog(line + choice);
      screen.tapButton(choice);
      return;
    }
    plat::NSLog(line + "left open");
  });
}

}  // namespace

void standInForTheUser(const Options& options) {
  // The driver answers on a later turn, after the line is logged.
  plat::UIDriver::AutoAnswer answer = dialogAnswer(options);
  plat::UIDriver::shared().setAutoAnswer(answer);
  plat::UIDriver::shared().setObserver(
      [answer](const plat::UIDrivenAlert& alert) { plat::NSLog("harbor: " + describeAlert(alert, answer)); });
  bool refuse = options.locationPermission == LocationPermission::Refuse;
  plat::SimulatedLocation::setAnswer(refuse ? plat::SimulatedLocation::Answer::Deny
                                            : plat::SimulatedLocation::Answer::Grant);
  answerPickers(options);
  plat::SimulatedLocation::setPromptObserver([](const plat::SimulatedLocation::Prompt& prompt) {
    bool always = prompt.kind == plat::kCLAuthorizationStatusAuthorizedAlways;
    bool allowed = prompt.answer == plat::SimulatedLocation::Answer::Grant;
    plat::NSLog("harbor: location permission '" + escaped(prompt.usageDescription, true) + "' (" +
                (always ? "always" : "when in use") + ") -> " + (allowed ? "allowed" : "refused"));
  });
  standInForTheAddressBookUser(options);
  // Nothing is heard either: each sound and vibration is logged as it starts, from whichever
  // thread plays it (the log is safe from any).
  plat::SystemSoundRecorder::setObserver([](const plat::PlayedSystemSound& play) {
    if (play.filePath.empty())
      plat::NSLogf("harbor: vibrate (%.1f s)", play.duration);
    else
      plat::NSLogf("harbor: sound %s (%.1f s)", plat::lastPathComponent(play.filePath).c_str(), play.duration);
  });
  // Playback and recording likewise: what started, paused, stopped or finished, and where.
  if (options.microphone) plat::AudioInput::setFile(*options.microphone);
  plat::MediaActivity::setObserver([](const plat::MediaEvent& event) {
    const bool stream = event.source.rfind("http", 0) == 0;
    const std::string name = stream ? event.source : plat::lastPathComponent(event.source);
    plat::NSLogf("harbor: media %s %s (%.1f s)", event.kind.c_str(), name.c_str(), event.position);
  });
}

std::string describeNotification(const plat::UILocalNotification& notification) {
  std::string line = quoted(notification.alertBody());
  std::vector<std::string> extras;
  if (notification.soundName()) extras.push_back("sound " + escaped(*notification.soundName(), false));
  if (notification.applicationIconBadgeNumber() != 0)
    extras.push_back("badge " + std::to_string(notification.applicationIconBadgeNumber()));
  if (notification.repeats()) extras.push_back("repeating");
  for (std::size_t i = 0; i < extras.size(); ++i) line += (i ? ", " : " (") + extras[i];
  return extras.empty() ? line : line + ")";
}

namespace {
std::string describeTypes(unsigned long types) {
  std::vector<std::string> names;
  if (types & plat::UIUserNotificationTypeAlert) names.emplace_back("alert");
  if (types & plat::UIUserNotificationTypeBadge) names.emplace_back("badge");
  if (types & plat::UIUserNotificationTypeSound) names.emplace_back("sound");
  if (names.empty()) return "nothing";
  std::string out;
  for (std::size_t i = 0; i < names.size(); ++i) out += (i ? ", " : "") + names[i];
  return out;
}
}  // namespace

void reportNotifications(const Options& options) {
  using Event = plat::UIApplication::LocalNotificationEvent;
  auto application = plat::UIApplication::sharedApplication();
  application->setLocalNotificationObserver([](const Event& event) {
    switch (event.kind) {
      case Event::Kind::Fired:
        plat::NSLog("harbor: notification fired " + describeNotification(*event.notification));
        break;
      case Event::Kind::FiredWhileStopped:
        plat::NSLog("harbor: notification fired while harbor was stopped " + describeNotification(*event.notification));
        break;
      case Event::Kind::Opened:
        plat::NSLog("harbor: notification opened " + describeNotification(*event.notification));
        break;
      case Event::Kind::PermissionAnswered:
        plat::NSLog("harbor: notification settings asked for " + describeTypes(event.requestedTypes) + " -> " +
                    describeTypes(event.allowedTypes));
        break;
    }
  });
  if (!options.openNotification) return;
  auto last = application->lastDeliveredLocalNotification();
  if (!last) {
    plat::NSLog("harbor: notification: none has fired yet, so none is opened");
    return;
  }
  plat::NSLog("harbor: notification opened " + describeNotification(*last));
  application->setLaunchOptions(
      plat::Dictionary{{plat::UIApplicationLaunchOptionsLocalNotificationKey, last->dictionaryRepresentation()}});
}

std::string usage() {
  return R"(Usage: harbor [options] <bundle folder>

Runs a Harbor application bundle (a folder with Info.plist, config.xml and www/) on WebKit:
the page shows on the session's display (DISPLAY or WAYLAND_DISPLAY), or, without one, on a
private Xvfb display that harbor starts for the run and stops as it ends. --web-backend headless
runs the page in Harbor's headless engine instead (no display, no layout).
The log goes to standard error. The application stops with its terminate notification on
SIGINT or SIGTERM, after --run-seconds, or once --until's text appears in the log; harbor then
exits with status 0 (1 when the application cannot start, or its start page did not start or its
page stayed empty while harbor waited for --until's text; 2 for bad arguments).

Nobody is there to tap: harbor answers every alert itself (the first button, text fields as
they are, unless --dialog-button or --dialog-text say otherwise) and logs each one, as
  harbor: alert 'title' 'message' [OK, Cancel] -> OK
  harbor: alert 'title' 'message' [OK, Cancel] -> OK with 'text'   (alerts with a text field)
and each sound or vibration as it plays, each start, pause, stop and end of playback and
recording (harbor: media play take.wav (0.0 s)), and what changes on the screen: the splash shown,
fading and gone, the status bar shown, hidden, restyled or recoloured. Local notifications are
kept in the sandbox home; each is logged as it fires ("harbor: notification fired 'text'").

Running:
  --home DIR              the application's sandbox home (Documents, Library, tmp), made when
                          missing, reused when harbor made it; an empty folder is taken, any
                          other is refused (its tmp folder is emptied at termination). Default:
                          $XDG_DATA_HOME/harbor/<bundle id>, or
                          ~/.local/share/harbor/<bundle id>
  --run-seconds N         terminate after N seconds (default: run until stopped)
  --until TEXT            terminate once a log line contains TEXT
  --engine CLASS          the web view engine class, as the preference HarborWebViewEngine
                          (HBRUIWebViewEngine or HBRWKWebViewEngine); wins over config.xml
  --web-backend webkit|headless
                          the page engine beneath both web views: WebKit (WebKitGTK, the
                          default; needs a display) or the headless stand-in (no layout)
  --screenshot FILE       when harbor stops, write a PNG of what the page shows to FILE (a
                          relative FILE is in the current folder; WebKit only); the log names
                          the file written, or says why none was
  --web-memory-limit MB   WebKit ends a page's process that uses more than MB MiB (default
                          2048, at least 320); the page is then reloaded, at most three times
                          a minute, before its load fails and the error page shows; past that
                          nothing loads again by itself ("WebKit: the page stays empty: ..."),
                          and a run waiting for --until's text ends with status 1

The simulated device:
  --device-model NAME     the simulated device model (default iPhone; a model named iPad...
                          is a pad with a 768x1024 screen)
  --screen WxH[@SCALE]    the simulated screen in points (default 375x667@2)
  --system-version V      the simulated system version, such as 8.0.2 (default 9.3)
  --locale ID             the simulated locale, one ICU has data for, such as en_US, de_CH or
                          zh_Hans_CN (default: the environment's, LC_ALL or LANG, when ICU
                          has data for it; else en_US)
  --acceleration X,Y,Z    the device has an accelerometer reading X, Y and Z in g (lying flat
                          face up: 0,0,-1); default: no accelerometer
  --heading DEGREES       the device has a compass pointing DEGREES from magnetic north;
                          default: no heading support
  --location LAT,LON[,ALT]
                          the device stands at latitude LAT and longitude LON (degrees),
                          ALT metres up; default: location services off
  --location-track FILE   the device moves along the track in FILE: one LAT,LON[,ALT] a line
                          ("#" starts a comment line), the next every 0.1 s, round and round
  --location-permission P the application's location permission: ask (default: the user is
                          asked and allows), refuse (asked, and refuses), granted, denied or
                          restricted (decided already)
  --microphone FILE       the simulated microphone hears the sound FILE (its first channel,
                          over and over); default: a 440 Hz tone at half of full scale
  --contacts-access A     the application's access to the address book, as for
                          --location-permission (default ask: the user is asked and allows)

Answers in place of the user:
  --dialog-button N       answer every alert (the dialogs plugin's and the page's own alert,
                          confirm and prompt) with its Nth button; past the last button, the
                          last one (default 1, the first button)
  --dialog-text TEXT      type TEXT into an alert's first text field before answering (default:
                          leave it as it is, so a prompt answers with its default text)
  --pictures DIR|test     the user's pictures: the JPEG and PNG files of DIR (in name order,
                          round and round), or a generated 640x480 test picture. The camera
                          takes the next one; an empty photo library is filled with them, and
                          library pickers choose its newest photo. Without it every image
                          picker is cancelled. A camera that only films records 3 seconds; a
                          library picker that offers only videos gets the next MP4, MOV or M4V
                          file of DIR (a generated 3-second movie for test). The multi-image
                          picker gets the first album's newest photos up to its limit.
                          Each answer is logged:
                            harbor: image picker camera -> 'beach.jpg'
                            harbor: screen 'Pick Photos' -> chose 2 (...), Done
  The audio recorder screen is always answered: Record, Stop after a second, then Done
  ("harbor: screen 'Audio recording' -> Done").
  --pick-contact ID       the people picker is answered with the contact of id ID (once);
                          default: it is cancelled. The new-person screen is always cancelled.
  --open-notification     launch the application as the user would by opening the local
                          notification that fired last (also one that fired while harbor
                          was stopped)

Other applications:
  --open-url URL          once launched, the application is opened with URL, as when another
                          application opens it (a page's handleOpenURL hears it after loading)

  -h, --help              this text
)";
}

namespace {

// How an option takes its value.
enum class OptionValue {
  None,      // a flag: "--name=value" is refused
  Required,  // "--name VALUE" or "--name=VALUE", never empty
  Text,      // the same, but it may be empty (the option's own reading says what it needs)
};

// What an option does with its value: stores it in the options, or says why it cannot (the
// whole message, naming the option).
using ApplyOption = std::optional<std::string> (*)(Options& options, const std::string& value);

struct OptionSpec {
  const char* name;
  OptionValue value;
  ApplyOption apply;
  const char* shortName = nullptr;
};

// A flag, set.
template <auto member>
std::optional<std::string> raise(Options& options, const std::string&) {
  options.*member = true;
  return std::nullopt;
}

// The value as given.
template <auto member>
std::optional<std::string> keep(Options& options, const std::string& value) {
  options.*member = value;
  return std::nullopt;
}

// The value read by a reader of its own, whose failure is the message.
template <auto member, auto read>
std::optional<std::string> readInto(Options& options, const std::string& value) {
  auto result = read(value);
  if (!result) return result.error();
  options.*member = std::move(*result);
  return std::nullopt;
}

plat::Result<bool> readBackend(const std::string& text) {
  if (text != "webkit" && text != "headless")
    return plat::Failure{"--web-backend needs webkit or headless, not \"" + text + "\""};
  return text == "webkit";
}

// Kept as an absolute path (the application may change folders), its folder checked now rather
// than found out at the end of a run.
plat::Result<std::string> readScreenshot(const std::string& text) {
  std::error_code ec;
  std::filesystem::path file = std::filesystem::absolute(text, ec);
  std::filesystem::path folder = file.parent_path();
  if (ec || file.filename().empty() || std::filesystem::is_directory(file, ec) ||
      !std::filesystem::is_directory(folder, ec))
    return plat::Failure{"--screenshot needs a file in an existing folder, not \"" + text + "\""};
  return file.string();
}

plat::Result<std::string> readScreen(const std::string& text) {
  if (!parseScreen(text)) return plat::Failure{"--screen needs WIDTHxHEIGHT[@SCALE] in points, not \"" + text + "\""};
  return text;
}

plat::Result<std::string> readPictures(const std::string& text) {
  bool isDirectory = false;
  if (text != "test" && (!plat::NSFileManager::defaultManager().fileExistsAtPath(text, &isDirectory) || !isDirectory))
    return plat::Failure{"--pictures needs a folder of pictures or \"test\", not \"" + text + "\""};
  return text;
}

plat::Result<std::string> readOpenURL(const std::string& text) {
  plat::NSURLPtr url = plat::NSURL::URLWithString(text);
  if (!url || !url->scheme())
    return plat::Failure{"--open-url needs an absolute URL such as myapp://path, not \"" + text + "\""};
  return text;
}

// A system version as a device reports it, such as 9.3 or 8.0.2: one to three numbers joined by
// dots. The container compares it with "8.0" as numbers, and pages show it among the device's
// facts, so a text that is no version would only be found out later, as a wrong answer.
plat::Result<std::string> readSystemVersion(const std::string& text) {
  std::size_t numbers = 1, digits = 0;
  bool valid = true;
  for (char c : text) {
    if (c >= '0' && c <= '9') {
      valid = valid && ++digits <= 9;
    } else if (c == '.') {
      valid = valid && digits > 0 && ++numbers <= 3;
      digits = 0;
    } else {
      valid = false;
    }
  }
  if (!valid || digits == 0)
    return plat::Failure{"--system-version needs a version such as 9.3 or 8.0.2, not \"" + plat::logEscaped(text) +
                         "\""};
  return text;
}

plat::Result<std::int64_t> readContactId(const std::string& text) {
  char* end = nullptr;
  long long id = std::strtoll(text.c_str(), &end, 10);
  if (*end != '\0' || id < 1 || id > INT32_MAX)
    return plat::Failure{"--pick-contact needs a contact id from 1, not \"" + text + "\""};
  return static_cast<std::int64_t>(id);
}

// Below the smallest limit every page's process would be ended as it starts.
plat::Result<std::size_t> readMemoryLimit(const std::string& text) {
  constexpr long long smallest = plat::web::WebKitOptions::kSmallestMemoryLimitMB;
  char* end = nullptr;
  long long limit = std::strtoll(text.c_str(), &end, 10);
  if (*end != '\0' || limit < 0 || limit > 1024 * 1024)
    return plat::Failure{"--web-memory-limit needs MiB from " + std::to_string(smallest) + " to 1048576, not \"" +
                         text + "\""};
  if (limit < smallest)
    return plat::Failure{"--web-memory-limit " + text + " is too small for a WebKit page to show at all; " +
                         "the smallest limit that works is " + std::to_string(smallest)};
  return static_cast<std::size_t>(limit);
}

plat::Result<plat::SimulatedFix> readLocation(const std::string& text) {
  auto fix = plat::parseSimulatedFix(text);
  if (!fix) return plat::Failure{"--location: " + fix.error()};
  return *fix;
}

plat::Result<std::vector<plat::SimulatedFix>> readTrack(const std::string& text) {
  auto track = plat::readSimulatedTrack(text);
  if (!track) return plat::Failure{"--location-track: " + track.error()};
  return std::move(*track);
}

// The sound file is read now, so that a file that cannot be heard is refused before the start.
plat::Result<std::string> readMicrophone(const std::string& text) {
  if (!plat::AudioInput::setFile(text))
    return plat::Failure{"--microphone needs a readable sound file of ten minutes at most, not \"" + text + "\""};
  return text;
}

// Only a locale ICU has data for: any other would format with the root locale without a word.
// One ICU knows only by a parent (fr_US by fr) is used, and the start of the log says so. A
// locale named as the environment names it ("fr_FR.UTF-8") is the locale without the suffix.
std::optional<std::string> applyLocale(Options& options, const std::string& given) {
  const std::string text = localeOfSystemName(given);
  plat::NSLocaleData data = plat::NSLocale::localeDataForIdentifier(text);
  if (data.kind == plat::NSLocaleData::Kind::Unknown)
    return "--locale needs a locale ICU has data for, such as en_US, de_CH or zh_Hans_CN, not \"" +
           plat::logEscaped(given) + "\"";
  if (data.kind == plat::NSLocaleData::Kind::Parent)
    options.warnings.push_back("--locale " + plat::logEscaped(given) +
                               ": ICU has no locale data of its own for it, so it uses " + data.identifier + "'s");
  options.locale = text;
  return std::nullopt;
}

plat::Result<LocationPermission> readLocationPermission(const std::string& text) {
  return parsePermission("--location-permission", text);
}

plat::Result<ContactsAccess> readContactsAccess(const std::string& text) {
  return parsePermission("--contacts-access", text);
}

// Every option harbor takes, one line each. The groups and words of `harbor --help` are usage()'s;
// a test keeps this table, usage() and the README naming the same options.
const OptionSpec kOptions[] = {
    {"--help", OptionValue::None, raise<&Options::help>, "-h"},
    {"--home", OptionValue::Required, keep<&Options::home>},
    {"--run-seconds", OptionValue::Required, readInto<&Options::runSeconds, parseSeconds>},
    {"--until", OptionValue::Required, keep<&Options::until>},
    {"--engine", OptionValue::Required, keep<&Options::engine>},
    {"--web-backend", OptionValue::Text, readInto<&Options::webKit, readBackend>},
    {"--screenshot", OptionValue::Required, readInto<&Options::screenshot, readScreenshot>},
    {"--web-memory-limit", OptionValue::Required, readInto<&Options::webMemoryLimitMB, readMemoryLimit>},
    {"--device-model", OptionValue::Required, keep<&Options::model>},
    {"--screen", OptionValue::Required, readInto<&Options::screen, readScreen>},
    {"--system-version", OptionValue::Required, readInto<&Options::systemVersion, readSystemVersion>},
    {"--locale", OptionValue::Required, applyLocale},
    {"--acceleration", OptionValue::Required, readInto<&Options::acceleration, parseAcceleration>},
    {"--heading", OptionValue::Required, readInto<&Options::heading, parseHeading>},
    {"--location", OptionValue::Required, readInto<&Options::location, readLocation>},
    {"--location-track", OptionValue::Required, readInto<&Options::locationTrack, readTrack>},
    {"--location-permission", OptionValue::Required, readInto<&Options::locationPermission, readLocationPermission>},
    {"--microphone", OptionValue::Required, readInto<&Options::microphone, readMicrophone>},
    {"--contacts-access", OptionValue::Required, readInto<&Options::contactsAccess, readContactsAccess>},
    {"--dialog-button", OptionValue::Required, readInto<&Options::dialogButton, parseButton>},
    {"--dialog-text", OptionValue::Text, keep<&Options::dialogText>},
    {"--pictures", OptionValue::Required, readInto<&Options::pictures, readPictures>},
    {"--pick-contact", OptionValue::Required, readInto<&Options::pickContact, readContactId>},
    {"--open-notification", OptionValue::None, raise<&Options::openNotification>},
    {"--open-url", OptionValue::Required, readInto<&Options::openURL, readOpenURL>},
};

const OptionSpec* findOption(const std::string& name) {
  for (const OptionSpec& spec : kOptions)
    if (name == spec.name || (spec.shortName && name == spec.shortName)) return &spec;
  return nullptr;
}

// The edit distance of a and b (insertions, deletions, substitutions and swaps of neighbours).
std::size_t editDistance(const std::string& a, const std::string& b) {
  std::vector<std::vector<std::size_t>> d(a.size() + 1, std::vector<std::size_t>(b.size() + 1));
  for (std::size_t i = 0; i <= a.size(); ++i) d[i][0] = i;
  for (std::size_t j = 0; j <= b.size(); ++j) d[0][j] = j;
  for (std::size_t i = 1; i <= a.size(); ++i) {
    for (std::size_t j = 1; j <= b.size(); ++j) {
      d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + (a[i - 1] != b[j - 1])});
      if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1])
        d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
    }
  }
  return d[a.size()][b.size()];
}

}  // namespace

std::vector<std::string> optionNames() {
  std::vector<std::string> names;
  for (const OptionSpec& spec : kOptions) names.emplace_back(spec.name);
  return names;
}

std::optional<std::string> closeOptionName(const std::string& unknown) {
  // Compared without their dashes and in lower case: "-home", "--Home" and "home" all mean --home.
  std::string wanted = plat::toLowerASCII(unknown.substr(std::min(unknown.find_first_not_of('-'), unknown.size())));
  if (wanted.empty() || wanted.size() > 64) return std::nullopt;
  std::vector<std::string> startingWith;
  std::optional<std::string> closest;
  std::size_t best = SIZE_MAX;
  bool tie = false;
  for (const OptionSpec& spec : kOptions) {
    std::string candidate = std::string(spec.name).substr(2);
    if (candidate.rfind(wanted, 0) == 0) startingWith.push_back(spec.name);
    std::size_t distance = editDistance(wanted, candidate);
    if (distance < best) {
      best = distance;
      closest = spec.name;
      tie = false;
    } else if (distance == best) {
      tie = true;
    }
  }
  // A slip of a letter or two (one in a short name), or the start of exactly one name.
  std::size_t allowed = wanted.size() <= 4 ? 1 : 2;
  if (closest && !tie && best <= allowed) return closest;
  if (wanted.size() >= 3 && startingWith.size() == 1) return startingWith.front();
  return std::nullopt;
}

std::string argumentErrorText(const std::string& error) {
  return "harbor: " + error + "\nRun harbor --help for the options.\n";
}

plat::Result<Options> parseOptions(const std::vector<std::string>& arguments) {
  Options options;
  std::optional<std::string> bundle;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    if (argument.size() < 2 || argument[0] != '-') {
      if (bundle) return plat::Failure{"one bundle folder only (got \"" + *bundle + "\" and \"" + argument + "\")"};
      bundle = argument;
      continue;
    }
    std::string name = argument;
    std::optional<std::string> value;
    if (std::size_t eq = argument.find('='); eq != std::string::npos) {
      name = argument.substr(0, eq);
      value = argument.substr(eq + 1);
    }
    const OptionSpec* spec = findOption(name);
    if (!spec) {
      std::string shown = plat::logEscaped(name);
      auto close = closeOptionName(name);
      return plat::Failure{"unknown option " + shown + (close ? "; did you mean " + *close + "?" : std::string())};
    }
    if (spec->value == OptionValue::None) {
      if (value) return plat::Failure{name + " takes no value"};
    } else {
      if (!value) {
        if (i + 1 >= arguments.size()) return plat::Failure{name + " needs a value"};
        value = arguments[++i];
      }
      if (value->empty() && spec->value == OptionValue::Required) return plat::Failure{name + " needs a value"};
    }
    if (auto problem = spec->apply(options, value.value_or(""))) return plat::Failure{*problem};
  }
  if (options.location && !options.locationTrack.empty())
    return plat::Failure{"--location and --location-track both say where the device is: give one"};
  if (!bundle && !options.help) return plat::Failure{"no bundle folder given"};
  options.bundle = bundle.value_or("");
  return options;
}

void simulateSensors(const Options& options) {
  plat::SimulatedAccelerometer::setAvailable(options.acceleration.has_value());
  plat::SimulatedCompass::setHeadingAvailable(options.heading.has_value());
  if (options.acceleration) {
    plat::CMAcceleration acceleration = *options.acceleration;
    plat::RunLoop::main().scheduleTimer(
        kSensorInterval, [acceleration] { plat::SimulatedAccelerometer::pushAcceleration(acceleration); },
        kSensorInterval);
  }
  if (options.heading) {
    double heading = *options.heading;
    plat::RunLoop::main().scheduleTimer(
        kSensorInterval, [heading] { plat::SimulatedCompass::pushHeading(heading); }, kSensorInterval);
  }

  switch (options.locationPermission) {
    case LocationPermission::Granted:
      plat::SimulatedLocation::setAuthorizationStatus(plat::kCLAuthorizationStatusAuthorizedWhenInUse);
      break;
    case LocationPermission::Denied:
      plat::SimulatedLocation::setAuthorizationStatus(plat::kCLAuthorizationStatusDenied);
      break;
    case LocationPermission::Restricted:
      plat::SimulatedLocation::setAuthorizationStatus(plat::kCLAuthorizationStatusRestricted);
      break;
    default:
      break;
  }
  plat::SimulatedLocation::setServicesEnabled(options.location || !options.locationTrack.empty());
  // A device standing still is where it is; only a track needs the clock.
  if (options.location) plat::SimulatedLocation::pushLocation(*options.location);
  if (!options.locationTrack.empty()) {
    // For the whole run; the process ends with it.
    static plat::SimulatedTrackReplay* replay = nullptr;
    delete replay;
    replay = new plat::SimulatedTrackReplay(options.locationTrack, kSensorInterval);
    replay->start();
  }
}

void openURLAfterLaunch(const Options& options) {
  if (!options.openURL) return;
  plat::NSURLPtr url = plat::NSURL::URLWithString(*options.openURL);
  if (!url) return;
  // Posted before the main loop runs, so it comes on its first turn: after the launch, before
  // the start page has loaded (the open-URL plugin holds the URL until then).
  plat::RunLoop::main().post([url] {
    bool taken = plat::UIApplication::sharedApplication()->deliverOpenURL(url);
    plat::NSLogf("harbor: opened with URL %s -> %s", url->absoluteString().c_str(), taken ? "YES" : "NO");
  });
}

std::string safeFolderName(const std::string& name) {
  std::string out;
  for (char c : name) {
    bool allowed = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' ||
                   c == '_' || c == '-';
    out += allowed ? c : '_';
  }
  if (out.empty() || out == "." || out == "..") return "_";
  return out;
}

std::string localeOfSystemName(const std::string& name) {
  std::size_t at = name.find('@');
  std::string keywords = at == std::string::npos ? std::string() : name.substr(at);
  // A modifier ("@euro") says which variant of a character set or currency the C library
  // takes; ICU's keywords ("@currency=EUR") are part of the locale.
  if (keywords.find('=') == std::string::npos) keywords.clear();
  std::string base = name.substr(0, at);
  return base.substr(0, base.find('.')) + keywords;
}

std::string environmentLocale(const std::function<const char*(const char*)>& getenv) {
  for (const char* variable : {"LC_ALL", "LANG"}) {
    const char* value = getenv(variable);
    if (!value || !*value) continue;
    // "de_DE.UTF-8@euro" names de_DE; C and POSIX name no place's conventions.
    std::string identifier = localeOfSystemName(value);
    if (identifier.empty() || identifier == "C" || identifier == "POSIX") break;
    if (plat::NSLocale::localeDataForIdentifier(identifier).kind != plat::NSLocaleData::Kind::Unknown) return identifier;
    break;
  }
  return "en_US";
}

std::optional<std::string> defaultHome(const std::string& bundleIdentifier,
                                       const std::function<const char*(const char*)>& getenv) {
  std::string folder = safeFolderName(bundleIdentifier);
  const char* xdg = getenv("XDG_DATA_HOME");
  if (xdg && xdg[0] == '/') return plat::stringByStandardizingPath(std::string(xdg) + "/harbor/" + folder);
  const char* home = getenv("HOME");
  if (home && home[0] == '/')
    return plat::stringByStandardizingPath(std::string(home) + "/.local/share/harbor/" + folder);
  return std::nullopt;
}

std::optional<std::string> bundleIdentifierProblem(const plat::Value& identifier) {
  if (identifier.isAbsent()) return std::nullopt;
  if (identifier.isString() && plat::isValidBundleIdentifier(identifier.asString())) return std::nullopt;
  std::string shown = "(not a text)";
  if (identifier.isString()) {
    std::string text = identifier.asString();
    bool cut = text.size() > 64;
    if (cut) text.resize(64);
    shown = "'" + escaped(text, true) + (cut ? "...'" : "'");
  }
  return plat::format("the bundle identifier %s cannot be used: it must be 1 to %zu letters, digits, \".\" and \"-\", "
                      "not starting with \".\" and without \"..\"",
                      shown.c_str(), plat::kMaxBundleIdentifierLength);
}

plat::Result<std::string> prepareSandboxHome(const std::string& home) {
  static constexpr char kMarkerText[] =
      "This folder is the sandbox home of a Harbor application; harbor empties its tmp folder.\n";
  auto& fm = plat::NSFileManager::defaultManager();
  std::string marker = plat::stringByAppendingPathComponent(home, kSandboxHomeMarker);
  bool isFolder = false;
  if (fm.fileExistsAtPath(home, &isFolder)) {
    if (!isFolder) return plat::Failure{home + " is not a folder, so it cannot be a sandbox home"};
    auto markerAttributes = fm.attributesOfItemAtPath(marker);
    if (!markerAttributes || markerAttributes->type != plat::NSFileType::Regular) {
      plat::NSError error;
      auto names = fm.contentsOfDirectoryAtPath(home, &error);
      if (!names) return plat::Failure{"cannot read " + home + ": " + error.localizedDescription};
      // A home made before the marker existed holds the sandbox's folders and nothing else.
      const std::vector<std::string> sandboxFolders = {"Documents", "Library", "Media", "tmp"};
      int required = 0;
      bool madeBeforeMarkers = true;
      for (const std::string& name : *names) {
        bool folder = false;
        madeBeforeMarkers = madeBeforeMarkers &&
                            std::find(sandboxFolders.begin(), sandboxFolders.end(), name) != sandboxFolders.end() &&
                            fm.fileExistsAtPath(plat::stringByAppendingPathComponent(home, name), &folder) && folder;
        required += name != "Media";
      }
      madeBeforeMarkers = madeBeforeMarkers && required == 3;
      if (!names->empty() && !madeBeforeMarkers) {
        return plat::Failure{home + " is not a sandbox home: it holds other files (such as \"" +
                             escaped(names->front(), false) + "\") and no " + kSandboxHomeMarker +
                             ", and its tmp folder would be emptied at every termination; give --home a new or "
                             "empty folder"};
      }
    }
  }
  plat::NSError error;
  // A marker already in place is left alone: writing it again would cost every launch a sync.
  auto existing = plat::readFileContents(marker);
  bool marked = existing && *existing == kMarkerText;
  if (!fm.createDirectoryAtPath(home, true, &error) ||
      (!marked && !plat::writeFileContentsAtomically(marker, kMarkerText, &error)) ||
      !plat::createSandboxFolders(home, &error)) {
    return plat::Failure{"cannot make the sandbox home " + home + ": " + error.localizedDescription};
  }
  return home;
}

namespace {

// What the window shows under and around the web view: the backgrounds of the visible views,
// bottom first (a status bar's band among them), the web view's own insides left out.
void collectBackdrops(const plat::UIViewPtr& view, std::vector<plat::web::WebPage::Backdrop>& backdrops) {
  if (!view || view->isHidden() || view->alpha() <= 0) return;
  if (std::dynamic_pointer_cast<plat::UIWebView>(view) || std::dynamic_pointer_cast<plat::WKWebView>(view)) return;
  if (auto color = view->backgroundColor(); color && color->alpha > 0) {
    plat::UIColor shown = *color;
    shown.alpha *= view->alpha();
    backdrops.push_back({view->frameInWindow(), shown});
  }
  for (const auto& child : view->subviews()) collectBackdrops(child, backdrops);
}

// The application's web view, wherever it sits in the window.
plat::web::WebPage* findPage(const plat::UIViewPtr& view) {
  if (!view) return nullptr;
  if (auto ui = std::dynamic_pointer_cast<plat::UIWebView>(view)) return ui->page();
  if (auto wk = std::dynamic_pointer_cast<plat::WKWebView>(view)) return wk->page();
  for (const auto& child : view->subviews())
    if (auto* page = findPage(child)) return page;
  return nullptr;
}

}  // namespace

void writeScreenshot(const std::string& path) {
  auto delegate = plat::UIApplication::sharedApplication()->delegate();
  plat::web::WebPage* page = findPage(delegate ? delegate->window() : nullptr);
  if (!page) {
    plat::NSLog("harbor: no screenshot: the application shows no web view");
    return;
  }
  std::vector<plat::web::WebPage::Backdrop> backdrops;
  collectBackdrops(delegate->window(), backdrops);
  auto written = page->writeSnapshotPNG(path, backdrops);
  if (written) plat::NSLog("harbor: screenshot written to " + path);
  else plat::NSLog("harbor: no screenshot: " + written.error());
}

std::string sandboxHomeFailureText(const std::string& failure, bool chosenWithOption) {
  // A refusal of a folder given with --home already says what --home needs.
  if (failure.find("--home") != std::string::npos) return failure;
  if (chosenWithOption) return failure + "; give --home a new or empty folder you may write to";
  return failure +
         "; that is the default home, under $XDG_DATA_HOME (or ~/.local/share without it): set XDG_DATA_HOME to a "
         "folder you may write to, or give the home with --home DIR";
}

namespace {

// The harbor executable's own path, for the bundle a missing page script points to.
std::string executablePath() {
  std::error_code ec;
  return std::filesystem::read_symlink("/proc/self/exe", ec).string();
}

// The variables that name the session's display, those that are set ("DISPLAY", "DISPLAY and
// WAYLAND_DISPLAY").
std::string sessionDisplayVariables() {
  std::string names;
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY"}) {
    const char* value = std::getenv(name);
    if (value && *value) names += (names.empty() ? "" : " and ") + std::string(name);
  }
  return names.empty() ? "DISPLAY" : names;
}

}  // namespace

void sweepSandboxHome(const std::string& home) {
  for (const plat::NSSweptLeftover& left : plat::sweepInterruptedWrites(home)) {
    std::string name = plat::logEscaped(left.path.substr(std::min(left.path.size(), home.size() + 1)));
    if (left.action == plat::NSSweptLeftoverAction::PutBack)
      plat::NSLog("harbor: put back " + name + ", set aside by an interrupted copy");
    else if (left.action == plat::NSSweptLeftoverAction::Undone)
      plat::NSLog("harbor: undid an interrupted write to " +
                  plat::logEscaped(left.file.substr(std::min(left.file.size(), home.size() + 1))));
    else
      plat::NSLog("harbor: removed " + name + ", left by an interrupted write");
  }
}

// WebKit's processes and the libraries beneath them (GStreamer's plugin registry, the sound
// server's client, fontconfig's and Mesa's caches, GTK's recent files) keep files of their own
// in the user's folders. Pointed into the sandbox home's caches, whatever a page sets off writes
// nothing outside the home. Set before WebKit starts a thread or a process.
void keepLibraryFilesInHome(const std::string& home) {
  for (auto [variable, folder] : {std::pair{"XDG_CACHE_HOME", "cache"}, std::pair{"XDG_CONFIG_HOME", "config"},
                                  std::pair{"XDG_DATA_HOME", "data"}}) {
    std::string path = plat::stringByAppendingPathComponent(home, std::string("Library/Caches/Libraries/") + folder);
    plat::NSFileManager::defaultManager().createDirectoryAtPath(path, true);
    ::setenv(variable, path.c_str(), 1);
  }
}

int run(int argc, char** argv) {
  // First of all, before any thread is made.
  auto terminator = std::make_shared<Terminator>();
  watchStopSignals(terminator);

  std::vector<std::string> arguments(argv + (argc > 0 ? 1 : 0), argv + argc);
  auto parsed = parseOptions(arguments);
  if (!parsed) {
    std::fputs(argumentErrorText(parsed.error()).c_str(), stderr);
    return 2;
  }
  const Options& options = *parsed;
  if (options.help) {
    std::fputs(usage().c_str(), stdout);
    return 0;
  }

  registerContainerClasses();
  registerAppClasses();
  registerPluginClasses();
  if (options.engine && !isWebViewEngine(*options.engine)) {
    std::string error = "--engine needs a web view engine class (HBRUIWebViewEngine or HBRWKWebViewEngine), not \"" +
                        plat::logEscaped(*options.engine) + "\"";
    std::fputs(argumentErrorText(error).c_str(), stderr);
    return 2;
  }

  std::error_code ec;
  std::filesystem::path bundlePath = std::filesystem::weakly_canonical(std::filesystem::absolute(options.bundle, ec), ec);
  bool isFolder = false;
  if (ec || !plat::NSFileManager::defaultManager().fileExistsAtPath(bundlePath.string(), &isFolder) || !isFolder) {
    std::fprintf(stderr, "harbor: %s is not a folder\n", options.bundle.c_str());
    return 1;
  }
  if (!plat::NSFileManager::defaultManager().fileExistsAtPath((bundlePath / "config.xml").string())) {
    std::fprintf(stderr, "harbor: %s has no config.xml: not an application bundle\n", bundlePath.c_str());
    return 1;
  }
  // A bundle that could not start says so now, naming the file to change.
  auto start = readBundleStart(bundlePath.string());
  if (!start) {
    std::fprintf(stderr, "harbor: %s\n", start.error().c_str());
    return 1;
  }
  if (auto problem = missingPageScriptProblem(bundlePath.string(), *start, executablePath(),
                                              std::filesystem::current_path(ec).string())) {
    std::fprintf(stderr, "harbor: %s\n", problem->c_str());
    return 1;
  }
  // Without Info.plist the bundle would run under a name nobody chose and without the keys its
  // plugins read: said now, or refused when even the name cannot be used.
  auto identity = readBundleIdentity(bundlePath.string());
  if (!identity) {
    std::fprintf(stderr, "harbor: %s\n", identity.error().c_str());
    return 1;
  }
  plat::NSBundle::setMainBundlePath(bundlePath.string());
  // The identifier names the user defaults file and the cache folder: "../x" must not.
  if (auto problem = bundleIdentifierProblem(identity->written)) {
    std::fprintf(stderr, "harbor: %s; change CFBundleIdentifier in %s\n", problem->c_str(),
                 plat::logEscaped((bundlePath / "Info.plist").string()).c_str());
    return 1;
  }
  const std::string identifier = identity->identifier;

  std::optional<std::string> home = options.home;
  if (home) {
    home = std::filesystem::absolute(*home, ec).lexically_normal().string();
  } else {
    home = defaultHome(identifier, [](const char* name) { return std::getenv(name); });
    if (!home) {
      std::fprintf(stderr, "harbor: neither XDG_DATA_HOME nor HOME names a folder; use --home\n");
      return 1;
    }
  }
  // One runner at a time on a home: held until the process ends, before anything in the home is
  // written or swept.
  auto heldHome = holdSandboxHome(*home);
  if (!heldHome) {
    std::fprintf(stderr, "harbor: %s\n", sandboxHomeFailureText(heldHome.error(), options.home.has_value()).c_str());
    return 1;
  }
  auto prepared = prepareSandboxHome(*home);
  if (!prepared) {
    std::fprintf(stderr, "harbor: %s\n", sandboxHomeFailureText(prepared.error(), options.home.has_value()).c_str());
    return 1;
  }
  plat::setHomeDirectory(*home);
  plat::NSUserDefaults::resetStandardUserDefaults();

  auto device = plat::UIDevice::currentDevice();
  if (options.model) device->setModel(*options.model);
  if (options.systemVersion) device->setSystemVersion(*options.systemVersion);
  // An iPad model is a pad, with a pad's screen unless --screen says otherwise.
  if (device->model().rfind("iPad", 0) == 0) {
    device->setUserInterfaceIdiom(plat::UIUserInterfaceIdiomPad);
    plat::UIScreen::mainScreen().setBounds(plat::CGRectMake(0, 0, 768, 1024));
  }
  if (options.screen) {
    auto [size, scale] = *parseScreen(*options.screen);
    plat::UIScreen::mainScreen().setBounds(plat::CGRect{{0, 0}, size});
    plat::UIScreen::mainScreen().setScale(scale);
  }
  plat::NSLocale::setCurrentLocaleIdentifier(options.locale ? *options.locale : environmentLocale(std::getenv));

  // WebKit shows the page on the session's display, or on a private one for this run, started
  // before WebKit. The display outlives the application (it is stopped as run returns), and the
  // last-resort exits stop it too.
  VirtualDisplay display;
  std::string displayNote;
  if (options.webKit && !hasDisplay()) {
    int width = 0, height = 0;
    plat::CGSize screen = plat::UIScreen::mainScreen().bounds().size;
    privateScreenSize(screen.width, screen.height, width, height);
    auto started = display.start(width, height);
    if (!started) {
      std::fprintf(stderr,
                   "harbor: WebKit cannot start: no display is set (DISPLAY, WAYLAND_DISPLAY) and a private one could "
                   "not be started: %s; run with --web-backend headless to use the headless page engine\n",
                   started.error().c_str());
      return 1;
    }
    displayNote = plat::format("harbor: private display %s (%dx%d, Xvfb pid %d) for this run", started->c_str(), width,
                               height, static_cast<int>(display.pid()));
    lastResortDisplay.store(&display);
  }
  struct ForgetDisplay {
    ~ForgetDisplay() { lastResortDisplay.store(nullptr); }
  } forgetDisplay;

  // The page engine, before anything makes a web view. Never another engine than the one asked
  // for: a run on the headless engine must be asked for.
  if (options.webKit) {
    keepLibraryFilesInHome(*home);
    plat::web::WebKitOptions webKitOptions;
    webKitOptions.contentProcessMemoryLimitMB = options.webMemoryLimitMB;
    auto started = plat::web::startWebKit(webKitOptions);
    if (!started) {
      // When the session's display cannot be opened, harbor can start one of its own instead.
      std::string advice = display.running() ? "run with --web-backend headless to use the headless page engine"
                                             : "unset " + sessionDisplayVariables() +
                                                   " (harbor then starts a display of its own), or run with "
                                                   "--web-backend headless to use the headless page engine";
      std::fprintf(stderr, "harbor: WebKit cannot start: %s; %s\n", started.error().c_str(), advice.c_str());
      return 1;
    }
    plat::web::setBackend(plat::web::Backend::WebKit);
  } else {
    plat::web::setBackend(plat::web::Backend::Headless);
  }

  // Every line to standard error (as the log's rate lets it), watching for the text that ends the
  // run. The watch and the sink run under the log's lock, so they only post.
  std::optional<std::string> until = options.until;
  // A page that failed to start is named; a run waiting for a text of the page's would wait for
  // ever, so it ends (status 1).
  auto startWatch = std::make_shared<StartWatch>(start->pageScript, start->errorPage);
  std::function<void(const std::string&)> startFailed = [terminator, until](const std::string& reason) {
    plat::NSLogPastRate("harbor: the application did not start: " + reason);
    if (until) terminator->request("the application did not start, so \"" + *until + "\" will not appear", 1);
  };
  // The watch sees every line, also those the log's rate drops (a page flooding the log), so
  // --until's text ends the run wherever it comes; the line that ends it is written whatever the
  // rate, so the log shows what ended the run (only that one: a page repeating the text gets no
  // more lines past the rate).
  if (until) {
    plat::setLogWatcher([terminator, until](std::string_view line) {
      return line.find(*until) != std::string_view::npos && terminator->request("saw \"" + *until + "\"");
    });
  }
  // The page's content process ended and nothing loads in its place: no text comes any more.
  // Told by the engine, never read from the log, where a page's text could say the same.
  auto pageWatch = std::make_shared<int>(0);
  if (until) {
    plat::NSNotificationCenter::defaultCenter().addObserver(
        pageWatch, plat::web::WebPageStaysEmptyNotification, nullptr, [terminator, until](const plat::NSNotification&) {
          terminator->request("the page stays empty, so \"" + *until + "\" will not appear", 1);
        });
  }
  plat::setLogSink([](std::string_view line) {
    std::string text = plat::asOneLogLine(line);
    text += '\n';
    std::fwrite(text.data(), 1, text.size(), stderr);
    std::fflush(stderr);
  });
  // A broken installation (a config.xml the container refuses: empty, too large, no plain file)
  // stops the container with an assertion failure, already logged; end cleanly rather than
  // dumping core.
  plat::setAssertionHandler([](const std::string&) {
    std::fputs("harbor: the application cannot go on\n", stderr);
    std::fflush(stderr);
    stopLastResortDisplay();
    std::_Exit(1);
  });

  // Before anything in the home is written: temporaries a stop left behind (the page would list
  // them beside its own files) and items set aside by a copy it cut short.
  sweepSandboxHome(*home);

  if (options.engine) {
    std::string engine = *options.engine;
    AppDelegate::setContainerConfigurator([engine](MainViewController& controller) {
      controller.setPreferenceOverrides(plat::Dictionary{{kHBRWebViewEngineSetting, engine}});
    });
  }

  if (options.screenshot) {
    std::string path = *options.screenshot;
    terminator->beforeTermination = [path] { writeScreenshot(path); };
  }
  watchTheStart(startWatch, startFailed);
  standInForTheUser(options);
  simulateSensors(options);
  reportNotifications(options);
  watchTheScreen();
  openURLAfterLaunch(options);

  auto application = plat::UIApplication::sharedApplication();
  application->setURLRequestObserver([](const plat::UIApplication::URLRequestRecord& r) {
    bool open = r.kind == plat::UIApplication::URLRequestRecord::Kind::Open;
    plat::NSLogf("harbor: %s %s -> %s", open ? "openURL" : "canOpenURL",
                 r.url ? r.url->absoluteString().c_str() : "(no URL)", r.answer ? "YES" : "NO");
  });
  if (options.runSeconds) {
    // Timed on a thread of its own: a run-loop timer would never fire while page script keeps
    // the main thread busy.
    double seconds = *options.runSeconds;
    std::thread([terminator, seconds] {
      // In steps, so that a run time of centuries does not overflow the clock's type.
      for (double left = seconds; left > 0; left -= 3600)
        std::this_thread::sleep_for(std::chrono::duration<double>(std::min(left, 3600.0)));
      terminator->request(plat::format("--run-seconds %g elapsed", seconds));
    }).detach();
  }

  plat::NSLogf("harbor: running %s (%s), home %s", bundlePath.c_str(), identifier.c_str(), home->c_str());
  if (!displayNote.empty()) plat::NSLog(displayNote);
  for (const std::string& warning : options.warnings) plat::NSLog("harbor: " + warning);
  if (identity->assumed) plat::NSLog("harbor: " + *identity->assumed);
  int status = plat::UIApplicationMain(argc, argv, std::nullopt, std::string("AppDelegate"));
  plat::NSLog("harbor: stopped");
  plat::NSNotificationCenter::defaultCenter().removeObserver(pageWatch.get());
  plat::setLogWatcher(nullptr);
  plat::setLogSink(nullptr);
  plat::setAssertionHandler(nullptr);
  return status != 0 ? status : terminator->exitStatus();
}

}  // namespace harbor::runner
