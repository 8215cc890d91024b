#pragma once
// The application's local notifications as the system keeps them: each with the date it fires
// next. Thread-safe.
//
// On disk, in the folder of the path given (Library of the sandbox home):
//   LocalNotifications.json     the whole list, the badge and the settings answer, as of the
//                               last compaction (written to a temporary sibling, then renamed)
//   LocalNotifications.journal  one line per change since then, appended; each line is a JSON
//                               object giving the state after the change of every notification
//                               it touched (kept or gone) and the badge and settings
// Loading reads the list and replays the journal's lines in order; a line cut short by a stop
// in the middle of its write is no change. The list has a generation, one more at every
// rewrite, and each line the generation of the list it follows: a stop between writing a new
// list and emptying the journal leaves lines that loading skips. The list is
// rewritten (and the journal emptied) at load when the journal holds anything, and when the
// journal has grown past the list's size, so a change costs the same however many
// notifications there are. Like the address book's write-ahead log, appends are not synced:
// a process stopped at any moment (SIGKILL included) loses nothing the system had written.
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "plat/foundation/JSON.h"
#include "plat/foundation/Value.h"
#include "plat/uikit/UILocalNotification.h"

namespace plat {

class LocalNotificationStore {
 public:
  // Reads the file and its journal; what fell due while nothing ran is moved on as if it had
  // fired then and handed back in `firedWhileStopped`. An unreadable file is set aside (never
  // overwritten) and logged.
  LocalNotificationStore(std::string path, double now, std::vector<UILocalNotificationPtr>& firedWhileStopped);
  ~LocalNotificationStore();
  LocalNotificationStore(const LocalNotificationStore&) = delete;
  LocalNotificationStore& operator=(const LocalNotificationStore&) = delete;

  // The deepest user info the files hold (the user info itself counts as one level): the list
  // and each journal line keep it inside four containers of their own, and JSON here nests
  // json::kMaxDepth levels at most.
  static constexpr std::size_t kMaxUserInfoDepth = json::kMaxDepth - 4;
  // Refused (false, logged with the reason, which `why` receives) when the notification could
  // not be stored: a fire date that is not finite, user info nested deeper than
  // kMaxUserInfoDepth, or user info that JSON cannot hold (bytes, NaN, infinities).
  bool schedule(const UILocalNotification& notification, double now, std::string* why = nullptr);
  void cancel(const UILocalNotification& notification);
  void cancelAll();
  std::vector<UILocalNotificationPtr> list();
  // A copy of the first in list order that `matches` (called under the lock), or null.
  UILocalNotificationPtr first(const std::function<bool(const UILocalNotification&)>& matches);
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

  // Every change the calling thread makes between the two reaches the disk as one journal line:
  // after a stop the store holds all of them or none. Changes from other threads wait until
  // the last end; reads do not. Nested pairs count as one.
  void beginChanges();
  void endChanges();

  // The journal's name beside the list.
  static std::string journalPath(const std::string& path);

 private:
  struct Entry {
    UILocalNotificationPtr notification;
    std::optional<double> next;  // none once a notification that does not repeat has fired
    std::optional<double> lastFired;
  };
  // Holds the change lock for one change (beginChanges/endChanges around it).
  class Change;

  // The first date the notification fires after `after` (its fire date when that is later).
  static double nextFireDate(const UILocalNotification& notification, double after);
  void fire(std::uint64_t serial, Entry& entry, double now);  // under mutex_
  static Value entryValue(const Entry& entry);
  void applyStored(const Value& item, bool& renumbered);  // under mutex_
  void applyJournalLine(const Value& line);               // under mutex_
  void load(double now, std::vector<UILocalNotificationPtr>& firedWhileStopped);
  // Writes what changed since the last commit as one journal line, or the whole list when the
  // journal has grown past it. Under mutex_, at the end of the outermost change.
  void commit();
  bool compact();         // under mutex_
  bool openJournal();     // under mutex_
  void forgetChanges();   // under mutex_

  std::string path_;
  std::string journalPath_;

  std::recursive_mutex changeMutex_;  // held through every change, and through a group of them
  int changeDepth_ = 0;               // guarded by changeMutex_

  std::mutex mutex_;  // guards everything below
  std::map<std::uint64_t, Entry> entries_;  // by schedule serial, which is the schedule order
  std::uint64_t nextSerial_ = 1;
  std::int64_t badge_ = 0;
  bool asked_ = false;
  unsigned long allowedTypes_ = UIUserNotificationTypeNone;
  // What changed since the last commit.
  std::set<std::uint64_t> touched_;
  bool clearedAll_ = false;
  bool settingsChanged_ = false;
  // The journal: its descriptor (-1: none yet), its length, and the list's length at the last
  // compaction. `mustCompact_` is set when a line could not be written: the next commit writes
  // the whole list.
  int journal_ = -1;
  std::uint64_t journalBytes_ = 0;
  std::uint64_t listBytes_ = 0;
  std::uint64_t generation_ = 0;  // of the list on disk
  bool mustCompact_ = false;
};

}  // namespace plat
