#pragma once
// The `harbor` command: runs an application bundle folder (Info.plist, config.xml, www/) on
// WebKit (on the session's display or a private one) or the headless page engine, as the
// application's main entry would on a device, and prints the log to standard error. It stops
// with the application's terminate notification on SIGINT or SIGTERM, after the run time, or
// once a chosen text appears in the log, and then exits with 0; a run waiting for a text whose
// start page did not start ends with 1.
//
// Nobody sits in front of the screen, so the runner answers every alert itself through the UI
// driver (the plugins' dialogs and the page's own alert, confirm and prompt under either engine):
// by default with the first button and the text fields as they are, and logs each one as it
// appears, with the answer it will get.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "plat/corelocation/CLLocationManager.h"
#include "plat/coremotion/CMMotionManager.h"
#include "plat/foundation/Result.h"
#include "plat/uikit/UIDriver.h"
#include "plat/uikit/UILocalNotification.h"
#include "plat/web/WebPage.h"

namespace harbor::runner {

// What the application may do with the device's position: not decided yet, and the user
// answers the prompt with allow (Ask) or refuse (Refuse); or decided before the start.
enum class LocationPermission { Ask, Refuse, Granted, Denied, Restricted };
// Access to the address book takes the same five answers.
using ContactsAccess = LocationPermission;

struct Options {
  std::string bundle;                         // the application bundle folder
  std::optional<std::string> home;            // the sandbox home
  std::optional<double> runSeconds;           // stop after this long
  std::optional<std::string> until;           // stop once a log line contains this
  std::optional<std::string> engine;          // web view engine class (preference HarborWebViewEngine)
  bool webKit = true;                         // the page engine: WebKit, or the headless one
  std::optional<std::string> model;           // simulated device model
  std::optional<std::string> systemVersion;   // simulated system version
  std::optional<std::string> locale;          // simulated locale identifier
  std::optional<std::size_t> dialogButton;    // the button alerts are answered with, 1 = first
  std::optional<std::string> dialogText;      // typed into an alert's first text field
  std::optional<plat::CMAcceleration> acceleration;  // simulated accelerometer reading, in g
  std::optional<double> heading;              // simulated magnetic heading, degrees
  bool openNotification = false;              // launch by opening the notification that fired last
  std::optional<plat::SimulatedFix> location;  // where the simulated device stands
  std::vector<plat::SimulatedFix> locationTrack;  // or the track it moves along (read from the file)
  LocationPermission locationPermission = LocationPermission::Ask;
  ContactsAccess contactsAccess = ContactsAccess::Ask;
  std::optional<std::int64_t> pickContact;    // the record id the people picker is answered with
  std::optional<std::string> screen;          // simulated screen, "WxH[@SCALE]" in points
  std::optional<std::string> microphone;      // sound file the simulated microphone hears
  std::optional<std::string> pictures;        // the user's pictures: a folder, or "test"
  std::optional<std::string> openURL;         // handed to the application after launch
  std::optional<std::string> screenshot;      // a PNG of the page written here when harbor stops
  std::size_t webMemoryLimitMB = plat::web::WebKitOptions::kDefaultMemoryLimitMB;  // per WebKit process
  bool help = false;
  std::vector<std::string> warnings;          // what harbor makes of a value it takes with a doubt,
                                              // logged at the start ("--locale fr_US: ...")
};

// What `harbor --help` prints: the options in groups (running, the simulated device, answers in
// place of the user, other applications).
std::string usage();

// Reads the arguments after the program name. An error names the offending argument; an
// unknown option comes with the closest known one, when one is close ("unknown option
// --run-secnds; did you mean --run-seconds?").
plat::Result<Options> parseOptions(const std::vector<std::string>& arguments);

// Every option parseOptions takes, by its long name ("--home"), in the order of usage().
std::vector<std::string> optionNames();

// The known option a mistyped one most likely meant: compared without dashes and case, one
// within a slip of a letter or two (one for names of four letters or fewer), else the only
// one that begins with it (at least three letters). Nothing when none is close or two are as
// close.
std::optional<std::string> closeOptionName(const std::string& unknown);

// What harbor prints for bad arguments: the error, and where the options are explained, instead
// of the whole help.
std::string argumentErrorText(const std::string& error);

// The default sandbox home of an application: "$XDG_DATA_HOME/harbor/<id>" when XDG_DATA_HOME
// is an absolute path, else "$HOME/.local/share/harbor/<id>". The identifier is made safe to
// use as one folder name (characters other than letters, digits, ".", "_" and "-" become "_";
// "", "." and ".." become "_"). Nothing when neither variable gives a folder.
std::optional<std::string> defaultHome(const std::string& bundleIdentifier,
                                       const std::function<const char*(const char*)>& getenv);
std::string safeFolderName(const std::string& name);

// A locale as the C library names it (language_TERRITORY.codeset@modifier, as LANG holds it),
// as ICU and the pages name it: without the codeset and the modifier ("fr_FR.UTF-8" and
// "de_DE@euro" are fr_FR and de_DE); ICU's keywords stay ("de_CH@currency=EUR").
std::string localeOfSystemName(const std::string& name);

// The simulated device's locale when --locale gives none: the environment's (LC_ALL, else LANG,
// without its encoding), when ICU has data for it; otherwise, and for C and POSIX, "en_US".
std::string environmentLocale(const std::function<const char*(const char*)>& getenv);

// The file the runner leaves in every sandbox home it makes. The application empties the home's
// tmp folder at each termination, so the runner must never take somebody else's folder for a
// home.
inline constexpr char kSandboxHomeMarker[] = ".harbor-sandbox-home";

// Makes home (an absolute path) ready as a sandbox home, or says why it cannot be one. Taken:
// a missing folder (made, with its parents), an empty folder, a folder with the marker, and a
// folder holding Documents, Library and tmp and at most Media besides (a home made before the
// marker existed).
// Each gets the marker and the sandbox folders. Refused, untouched: anything else, such as a
// user's own folder, "/" or a file.
plat::Result<std::string> prepareSandboxHome(const std::string& home);
// What harbor says when a home cannot be taken: the failure, and what to change. A default home
// (none given with --home) points to XDG_DATA_HOME and --home; one given with --home to --home.
std::string sandboxHomeFailureText(const std::string& failure, bool chosenWithOption);

// At start, once the home is taken and before anything in it is written: removes the
// temporaries that stopped writes and copies left anywhere in it, and puts back what a cut-short
// copy set aside and undoes what a stopped write changed in a file itself
// (plat::sweepInterruptedWrites), one log line each:
// "harbor: removed <path in the home>, left by an interrupted write",
// "harbor: put back <path in the home>, set aside by an interrupted copy" or
// "harbor: undid an interrupted write to <path in the home>".
void sweepSandboxHome(const std::string& home);

// Why the bundle's CFBundleIdentifier cannot be used (it becomes file and folder names), or
// nothing when it can or the bundle has none.
std::optional<std::string> bundleIdentifierProblem(const plat::Value& identifier);

// How the runner answers alerts: the chosen button (1 = first, the default; past the last
// button, the last one) after typing the chosen text into the first text field (by default
// nothing is typed, so a prompt keeps its default text).
plat::UIDriver::AutoAnswer dialogAnswer(const Options& options);

// One alert and the answer it gets, as the runner logs it:
//   alert 'title' 'message' [OK, Cancel] -> OK
//   alert 'title' 'message' [OK, Cancel] -> OK with 'text'     (an alert with text fields)
// A missing title, message or text shows as -; control characters, quotes and backslashes in
// the texts are escaped, so a page cannot forge log lines, and each text is cut to its first 200
// bytes (plat::logExcerpt); the alert's own texts and its answer stay whole.
std::string describeAlert(const plat::UIDrivenAlert& alert, const plat::UIDriver::AutoAnswer& answer);

// What the runner does in place of a user, on the main thread before the application starts:
// answers every alert through the UI driver with dialogAnswer(options), logging each as
// "harbor: " + describeAlert(...), and logs every sound and vibration as it plays
// ("harbor: sound beep.wav (0.2 s)", "harbor: vibrate (0.4 s)"), and answers location
// permission prompts as --location-permission says, logging each
// ("harbor: location permission 'To show where you are' (when in use) -> allowed"), answers
// image pickers from --pictures (filling an empty photo library with them; a video-only library
// picker with a movie) or cancels them, logging each ("harbor: image picker camera ->
// 'beach.jpg'", "harbor: image picker -> cancelled"), drives the multi-image picker (first
// album, newest photos up to its limit, Done) and the audio recorder screen (Record, Stop after
// a second, Done), logging each press ("harbor: screen 'Audio recording' -> Done"),
// answers the address-book access prompt as --contacts-access says ("harbor: contacts access ->
// allowed"), and the address-book screens: the people picker picks --pick-contact's person once,
// else it is cancelled; the new-person screen is cancelled; person screens go back
// ("harbor: screen 'Contacts' -> picked 3").
void standInForTheUser(const Options& options);

// The sensors the device has: without --acceleration no accelerometer, without --heading no
// heading support, without --location or --location-track location services off (as on a
// simulator). With them, the sensor reads the given values, once every kSensorInterval seconds
// on the main run loop while the application runs; a track moves the device to its next fix
// every kSensorInterval seconds, and round again after the last. The location permission is
// set as --location-permission says.
inline constexpr double kSensorInterval = 0.1;
void simulateSensors(const Options& options);

// One local notification as the runner logs it: its alert ('-' without one), then its sound and
// badge when it has them, escaped like alerts:  'Hello\nthere' (sound www/ring.caf, badge 2)
std::string describeNotification(const plat::UILocalNotification& notification);

// Prints every local notification as it fires ("harbor: notification fired ..."), those that fell
// due while harbor was stopped, and the user's answer to a settings request. With
// --open-notification, the application is launched by opening the notification that fired last
// ("harbor: notification opened ..."). Main thread, before the application starts.
void reportNotifications(const Options& options);
// With --open-url: once the application has launched (on the main run loop's first turn), hands
// it the URL as another application opening it would, through the application's open-URL
// handler, and logs "harbor: opened with URL <url> -> YES|NO" with the delegate's answer.
void openURLAfterLaunch(const Options& options);

// With --screenshot: writes a PNG of what the application's web view shows to the file, logging
// "harbor: screenshot written to FILE" or "harbor: no screenshot: <why>". Main thread, while the
// application still runs (the runner calls it as a stop begins, before termination).
void writeScreenshot(const std::string& path);

// The whole command; returns the process's exit code (0 after a clean stop, 1 when the
// application cannot start (config.xml is not well-formed, the start page's page script is
// missing, its identifier is unusable, its home is not a sandbox home, or its start page did not
// start while the run waited for --until's text), 2 for bad arguments).
int run(int argc, char** argv);

}  // namespace harbor::runner
