#pragma once
// Local notifications: what an application asks the system to show at a date (once, or again
// every calendar unit), and the user's settings for showing them. The application object
// (UIApplication.h) schedules, lists and cancels them and delivers them when the clock passes
// their date.
//
// A notification is a plain record; the application keeps copies of what it is given and hands
// out copies, so a caller's changes never reach a scheduled one. Dates are seconds on the
// platform clock (since the reference date, 2001-01-01).
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "plat/foundation/Object.h"
#include "plat/foundation/Value.h"

namespace plat {

// Calendar units, as repeat intervals. 0 and NSCalendarUnitEra mean "does not repeat".
using NSCalendarUnit = unsigned long;
inline constexpr NSCalendarUnit NSCalendarUnitEra = 2;
inline constexpr NSCalendarUnit NSCalendarUnitYear = 4;
inline constexpr NSCalendarUnit NSCalendarUnitMonth = 8;
inline constexpr NSCalendarUnit NSCalendarUnitDay = 16;
inline constexpr NSCalendarUnit NSCalendarUnitHour = 32;
inline constexpr NSCalendarUnit NSCalendarUnitMinute = 64;
inline constexpr NSCalendarUnit NSCalendarUnitSecond = 128;
inline constexpr NSCalendarUnit NSCalendarUnitQuarter = 2048;
inline constexpr NSCalendarUnit NSCalendarUnitWeekOfYear = 8192;

inline constexpr char UILocalNotificationDefaultSoundName[] = "UILocalNotificationDefaultSoundName";
// The launch option that holds the notification the user opened to start the application, in
// the form of UILocalNotification::dictionaryRepresentation.
inline constexpr char UIApplicationLaunchOptionsLocalNotificationKey[] = "UIApplicationLaunchOptionsLocalNotificationKey";

// What the user lets notifications do.
enum UIUserNotificationType : unsigned long {
  UIUserNotificationTypeNone = 0,
  UIUserNotificationTypeBadge = 1,
  UIUserNotificationTypeSound = 2,
  UIUserNotificationTypeAlert = 4,
};

class UIUserNotificationSettings : public Object {
 public:
  // Categories (actions on notifications) are not simulated; there are none.
  static std::shared_ptr<UIUserNotificationSettings> settingsForTypes(unsigned long types);
  unsigned long types() const { return types_; }

 private:
  unsigned long types_ = UIUserNotificationTypeNone;
};
using UIUserNotificationSettingsPtr = std::shared_ptr<UIUserNotificationSettings>;

class UILocalNotification;
using UILocalNotificationPtr = std::shared_ptr<UILocalNotification>;

class UILocalNotification : public Object {
 public:
  // Nothing set: fires at once when scheduled, does not repeat, no alert, sound or badge.
  UILocalNotification() = default;

  std::optional<double> fireDate() const { return fireDate_; }
  void setFireDate(std::optional<double> date) { fireDate_ = date; }
  // The zone the fire date's calendar repetitions are counted in; none means the date is
  // absolute. Only the process's default zone is simulated, so any name counts as it.
  const std::optional<std::string>& timeZone() const { return timeZone_; }
  void setTimeZone(std::optional<std::string> zone) { timeZone_ = std::move(zone); }
  NSCalendarUnit repeatInterval() const { return repeatInterval_; }
  void setRepeatInterval(NSCalendarUnit unit) { repeatInterval_ = unit; }
  const std::optional<std::string>& alertBody() const { return alertBody_; }
  void setAlertBody(std::optional<std::string> body) { alertBody_ = std::move(body); }
  const std::optional<std::string>& soundName() const { return soundName_; }
  void setSoundName(std::optional<std::string> name) { soundName_ = std::move(name); }
  // The icon badge the notification sets when it fires; 0 leaves the badge alone.
  std::int64_t applicationIconBadgeNumber() const { return badge_; }
  void setApplicationIconBadgeNumber(std::int64_t number) { badge_ = number; }
  const Dictionary& userInfo() const { return userInfo_; }
  void setUserInfo(Dictionary info) { userInfo_ = std::move(info); }

  bool repeats() const { return repeatInterval_ != 0 && repeatInterval_ != NSCalendarUnitEra; }
  UILocalNotificationPtr copy() const;

  // Every field as a dictionary (for the store and for launch options) and back. A dictionary
  // that is not one of ours gives nothing.
  Value dictionaryRepresentation() const;
  static UILocalNotificationPtr fromDictionaryRepresentation(const Value& value);

 private:
  friend class LocalNotificationStore;
  std::optional<double> fireDate_;
  std::optional<std::string> timeZone_;
  NSCalendarUnit repeatInterval_ = 0;
  std::optional<std::string> alertBody_;
  std::optional<std::string> soundName_;
  std::int64_t badge_ = 0;
  Dictionary userInfo_;
  // Which scheduled notification a copy stands for (0: none), so that cancelling a copy handed
  // out by the application cancels the one it was made from.
  std::uint64_t scheduleSerial_ = 0;
};

// The repetition after `date`, `count` units on (counted in the local calendar for days and
// longer, so that "every day at nine" stays at nine across a daylight-saving change).
double dateByAddingUnits(double date, NSCalendarUnit unit, std::int64_t count);

}  // namespace plat
