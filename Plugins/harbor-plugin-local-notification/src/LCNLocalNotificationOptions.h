#pragma once
// The page's options for one local notification, read into what the platform notification
// needs. The dictionary is the notification's user info; its keys:
//   "id"        the notification's id: the integer reading of the value (absent: 0)
//   "title"     first line of the alert         "text"  the alert text
//   "badge"     the icon badge it sets (32-bit integer reading; absent: 0)
//   "sound"     "res://platform_default", "file://<path in www>" or "res://<name>"
//   "at"        the fire date, seconds since 1970 (absent: 0, so it fires at once)
//   "every"     the repeat interval ("second" ... "year"; anything else: no repetition)
//   "updatedAt" written by the plugin's update only (seconds on the platform clock), never
//               taken from the page, and left out of every copy that goes back to the page
// Every other key is kept as it is and handed back to the page.
#include <cstdint>
#include <optional>
#include <string>

#include "plat/foundation/Value.h"
#include "plat/uikit/UILocalNotification.h"

namespace harbor {

inline constexpr char kLCNUpdatedAtKey[] = "updatedAt";
// The sound value that stands for the platform's default sound.
inline constexpr char kLCNDefaultSound[] = "res://platform_default";

class LCNLocalNotificationOptions {
 public:
  explicit LCNLocalNotificationOptions(plat::Dictionary dict) : dict_(std::move(dict)) {}

  const plat::Dictionary& dict() const { return dict_; }

  std::int64_t id() const;
  const plat::Value& title() const { return dict_.get("title"); }
  const plat::Value& text() const { return dict_.get("text"); }
  std::int32_t badgeNumber() const;
  // The text alone without a title, the title alone without a text, else title, a line feed
  // and text; nothing when both are missing.
  std::optional<std::string> alertBody() const;
  std::optional<std::string> soundName() const;
  // The "at" date on the platform clock.
  double fireDate() const;
  plat::NSCalendarUnit repeatInterval() const;
  // Seconds of one repetition, as the plugin counts them to tell a fresh arrival from a late
  // one: minute 60, hour 3600, day, week, month and year 86400, anything else 1.
  std::int64_t repeatIntervalInSeconds() const;
  bool isRepeating() const;
  // The dictionary without "updatedAt".
  plat::Dictionary userInfo() const;

  // The id as text, for comparing ids given in any form: numbers in their decimal form,
  // text unchanged. Nothing for values that name no id (null, containers).
  static std::optional<std::string> idText(const plat::Value& id);
  // The integer reading of a value: numbers truncated toward zero (saturating), text by its
  // leading decimal digits, anything else 0.
  static std::int64_t integerReading(const plat::Value& value);
  static bool stringIsNullOrEmpty(const plat::Value& value);

 private:
  plat::Dictionary dict_;
};

}  // namespace harbor
