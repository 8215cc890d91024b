#pragma once
// The application's local notifications as the system keeps them: each with the date it fires
// next, in one JSON file of the sandbox home that every change rewrites atomically, so a
// process killed at any moment leaves the last whole list behind. Thread-safe.
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "plat/uikit/UILocalNotification.h"

namespace plat {

class LocalNotificationStore {
 public:
  // Reads the file; what fell due while nothing ran is moved on as if it had fired then and
  // handed back in `firedWhileStopped`. An unreadable file is set aside (never overwritten)
  // and logged.
  LocalNotificationStore(std::string path, double now, std::vector<UILocalNotificationPtr>& firedWhileStopped);

  void schedule(const UILocalNotification& notification, double now);
  void cancel(const UILocalNotification& notification);
  void cancelAll();
  std::vector<UILocalNotificationPtr> list();
  // Takes copies of what is due at `now` and moves each on to its next repetition (or marks
  // it fired). A repeating one whose repetitions were missed fires once.
  std::vector<UILocalNotificationPtr> takeDue(double now);
  std::optional<double> nextDate();
  UILocalNotificationPtr lastDelivered();

  std::int64_t badge();
  void setBadge(std::int64_t badge);
  // Whether the user was asked for settings, and what the user allowed.
  bool asked();
  unsigned long allowedTypes();
  void setAnswer(unsigned long allowedTypes);

 private:
  struct Entry {
    UILocalNotificationPtr notification;
    std::optional<double> next;  // none once a notification that does not repeat has fired
    std::optional<double> lastFired;
  };
  // The first date the notification fires after `after` (its fire date when that is later).
  static double nextFireDate(const UILocalNotification& notification, double after);
  void fire(Entry& entry, double now);
  void load(double now, std::vector<UILocalNotificationPtr>& firedWhileStopped);
  void save();  // under mutex_

  std::mutex mutex_;
  std::string path_;
  std::vector<Entry> entries_;
  std::uint64_t nextSerial_ = 1;
  std::int64_t badge_ = 0;
  bool asked_ = false;
  unsigned long allowedTypes_ = UIUserNotificationTypeNone;
};

}  // namespace plat
