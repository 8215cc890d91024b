#include "LocalNotificationStore.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <string_view>

#include "plat/foundation/FileFaults.h"
#include "plat/foundation/JSON.h"
#include "plat/foundation/Log.h"
#include "plat/foundation/NSFileManager.h"

namespace plat {
namespace {

// The journal may grow to the list's size, and to this much at least, before the list is
// written again.
constexpr std::uint64_t kMinimumJournalBytes = 64 * 1024;

constexpr char kLog[] = "UIApplication: ";

// Whether the value holds containers nested deeper than `levels` (the value itself counting as
// one when it is a container). Walks no deeper than that.
bool nestedDeeperThan(const Value& value, std::size_t levels) {
  if (!value.isArray() && !value.isDictionary()) return false;
  if (levels == 0) return true;
  if (value.isArray()) {
    for (const auto& item : value.asArray())
      if (nestedDeeperThan(item, levels - 1)) return true;
  } else {
    for (const auto& [key, item] : value.asDictionary())
      if (nestedDeeperThan(item, levels - 1)) return true;
  }
  return false;
}

}  // namespace

class LocalNotificationStore::Change {
 public:
  explicit Change(LocalNotificationStore& store) : store_(store) { store_.beginChanges(); }
  ~Change() { store_.endChanges(); }
  Change(const Change&) = delete;
  Change& operator=(const Change&) = delete;

 private:
  LocalNotificationStore& store_;
};

LocalNotificationStore::LocalNotificationStore(std::string path, double now,
                                               std::vector<UILocalNotificationPtr>& firedWhileStopped)
    : path_(std::move(path)), journalPath_(path_.empty() ? std::string() : journalPath(path_)) {
  std::lock_guard<std::mutex> lock(mutex_);
  load(now, firedWhileStopped);
}

LocalNotificationStore::~LocalNotificationStore() {
  if (journal_ >= 0) ::close(journal_);
}

std::string LocalNotificationStore::journalPath(const std::string& path) {
  std::string base = path;
  if (base.size() > 5 && base.compare(base.size() - 5, 5, ".json") == 0) base.resize(base.size() - 5);
  return base + ".journal";
}

double LocalNotificationStore::nextFireDate(const UILocalNotification& notification, double after) {
  double fire = notification.fireDate().value_or(after);
  if (fire > after || !notification.repeats()) return fire;
  NSCalendarUnit unit = notification.repeatInterval();
  // One step from the fire date tells the length of a repetition; start near the answer and
  // walk the last few steps, so a notification repeating every second that waited a year is
  // not walked through one step at a time.
  double step = dateByAddingUnits(fire, unit, 1) - fire;
  if (!(step > 0)) return after + 1;  // an interval the calendar does not know: nothing sensible to add
  double estimate = std::floor((after - fire) / step);
  std::int64_t k = estimate > 1e12 ? static_cast<std::int64_t>(1e12) : static_cast<std::int64_t>(estimate);
  if (k < 1) k = 1;
  while (k > 1 && dateByAddingUnits(fire, unit, k - 1) > after) --k;
  while (dateByAddingUnits(fire, unit, k) <= after) ++k;
  return dateByAddingUnits(fire, unit, k);
}

// ---- Changes ----

void LocalNotificationStore::beginChanges() {
  changeMutex_.lock();
  ++changeDepth_;
}

void LocalNotificationStore::endChanges() {
  if (--changeDepth_ == 0) {
    std::lock_guard<std::mutex> lock(mutex_);
    commit();
  }
  changeMutex_.unlock();
}

bool LocalNotificationStore::schedule(const UILocalNotification& notification, double now, std::string* why) {
  auto refuse = [&](const std::string& reason) {
    NSLog(std::string(kLog) + "a local notification was not scheduled: " + reason);
    if (why) *why = reason;
    return false;
  };
  if (notification.fireDate() && !std::isfinite(*notification.fireDate()))
    return refuse("its fire date is not finite");
  // What cannot be written (or read back) would stop the store from being saved at all; the
  // notification is refused whole rather than kept with less than it was given.
  if (nestedDeeperThan(Value(notification.userInfo()), kMaxUserInfoDepth))
    return refuse("its user info is nested deeper than " + std::to_string(kMaxUserInfoDepth) + " levels");
  auto written = json::write(notification.dictionaryRepresentation());
  if (!written) return refuse("it cannot be stored: " + written.error());
  Change change(*this);
  std::lock_guard<std::mutex> lock(mutex_);
  auto kept = notification.copy();
  std::uint64_t serial = nextSerial_++;
  kept->scheduleSerial_ = serial;
  // A date already past fires at once; but a repeating one whose date lies well back (one
  // scheduled again with its first date, say) goes on at its next repetition instead of
  // firing again now.
  double next = kept->fireDate().value_or(now);
  if (kept->repeats() && next <= now - 1) next = nextFireDate(*kept, now);
  entries_.emplace(serial, Entry{kept, next, std::nullopt});
  touched_.insert(serial);
  return true;
}

void LocalNotificationStore::cancel(const UILocalNotification& notification) {
  Change change(*this);
  std::lock_guard<std::mutex> lock(mutex_);
  if (notification.scheduleSerial_ != 0) {
    if (entries_.erase(notification.scheduleSerial_)) touched_.insert(notification.scheduleSerial_);
    return;
  }
  for (auto it = entries_.begin(); it != entries_.end();) {
    const UILocalNotification& kept = *it->second.notification;
    bool same = kept.fireDate() == notification.fireDate() && kept.timeZone() == notification.timeZone() &&
                kept.repeatInterval() == notification.repeatInterval() && kept.alertBody() == notification.alertBody() &&
                kept.soundName() == notification.soundName() &&
                kept.applicationIconBadgeNumber() == notification.applicationIconBadgeNumber() &&
                kept.userInfo() == notification.userInfo();
    if (!same) {
      ++it;
      continue;
    }
    touched_.insert(it->first);
    it = entries_.erase(it);
  }
}

void LocalNotificationStore::cancelAll() {
  Change change(*this);
  std::lock_guard<std::mutex> lock(mutex_);
  if (entries_.empty()) return;
  entries_.clear();
  touched_.clear();
  clearedAll_ = true;
}

std::vector<UILocalNotificationPtr> LocalNotificationStore::list() {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<UILocalNotificationPtr> out;
  out.reserve(entries_.size());
  for (const auto& [serial, e] : entries_) out.push_back(e.notification->copy());
  return out;
}

UILocalNotificationPtr LocalNotificationStore::first(const std::function<bool(const UILocalNotification&)>& matches) {
  std::lock_guard<std::mutex> lock(mutex_);
  for (const auto& [serial, e] : entries_)
    if (matches(*e.notification)) return e.notification->copy();
  return nullptr;
}

void LocalNotificationStore::fire(std::uint64_t serial, Entry& entry, double now) {
  entry.lastFired = *entry.next;
  if (entry.notification->repeats())
    entry.next = nextFireDate(*entry.notification, now);
  else
    entry.next.reset();
  touched_.insert(serial);
  if (entry.notification->applicationIconBadgeNumber() != 0 && badge_ != entry.notification->applicationIconBadgeNumber()) {
    badge_ = entry.notification->applicationIconBadgeNumber();
    settingsChanged_ = true;
  }
}

std::vector<UILocalNotificationPtr> LocalNotificationStore::takeDue(double now) {
  Change change(*this);
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<UILocalNotificationPtr> due;
  // The timer's date is now + (next - now); a rounding error there must not leave a
  // notification just short of due, with the timer armed again for the same instant.
  constexpr double kSlack = 1e-6;
  for (auto& [serial, e] : entries_) {
    if (!e.next || *e.next > now + kSlack) continue;
    fire(serial, e, now);
    due.push_back(e.notification->copy());
  }
  return due;
}

std::optional<double> LocalNotificationStore::nextDate() {
  std::lock_guard<std::mutex> lock(mutex_);
  std::optional<double> earliest;
  for (const auto& [serial, e] : entries_)
    if (e.next && (!earliest || *e.next < *earliest)) earliest = e.next;
  return earliest;
}

UILocalNotificationPtr LocalNotificationStore::lastDelivered() {
  std::lock_guard<std::mutex> lock(mutex_);
  const Entry* latest = nullptr;
  for (const auto& [serial, e] : entries_)
    if (e.lastFired && (!latest || *e.lastFired >= *latest->lastFired)) latest = &e;
  return latest ? latest->notification->copy() : nullptr;
}

std::int64_t LocalNotificationStore::badge() {
  std::lock_guard<std::mutex> lock(mutex_);
  return badge_;
}

void LocalNotificationStore::setBadge(std::int64_t badge) {
  Change change(*this);
  std::lock_guard<std::mutex> lock(mutex_);
  if (badge_ == badge) return;
  badge_ = badge;
  settingsChanged_ = true;
}

bool LocalNotificationStore::asked() {
  std::lock_guard<std::mutex> lock(mutex_);
  return asked_;
}

unsigned long LocalNotificationStore::allowedTypes() {
  std::lock_guard<std::mutex> lock(mutex_);
  return allowedTypes_;
}

void LocalNotificationStore::setAnswer(unsigned long allowedTypes) {
  Change change(*this);
  std::lock_guard<std::mutex> lock(mutex_);
  asked_ = true;
  allowedTypes_ = allowedTypes;
  settingsChanged_ = true;
}

// ---- The files ----

Value LocalNotificationStore::entryValue(const Entry& e) {
  Dictionary item{{"notification", e.notification->dictionaryRepresentation()}};
  if (e.next) item.set("next", *e.next);
  if (e.lastFired) item.set("lastFired", *e.lastFired);
  return item;
}

// One stored entry, from the list or a journal line; an entry whose serial is taken or missing
// (written before serials were stored) gets a new one.
void LocalNotificationStore::applyStored(const Value& item, bool& renumbered) {
  auto n = UILocalNotification::fromDictionaryRepresentation(item["notification"]);
  if (!n) return;
  Entry e{n, std::nullopt, std::nullopt};
  if (item["next"].isNumber() && std::isfinite(item["next"].asDouble())) e.next = item["next"].asDouble();
  if (item["lastFired"].isNumber() && std::isfinite(item["lastFired"].asDouble()))
    e.lastFired = item["lastFired"].asDouble();
  std::uint64_t serial = n->scheduleSerial_;
  if (serial == 0) {
    serial = n->scheduleSerial_ = std::max(nextSerial_, entries_.empty() ? 1 : entries_.rbegin()->first + 1);
    renumbered = true;
  }
  nextSerial_ = std::max(nextSerial_, serial + 1);
  entries_[serial] = std::move(e);
}

void LocalNotificationStore::applyJournalLine(const Value& line) {
  // A line written onto an earlier list: that list's successor already holds its change.
  if (line["generation"].asUInt() != generation_) return;
  bool renumbered = false;
  if (line["clear"].asBool()) entries_.clear();
  if (line["remove"].isArray())
    for (const auto& serial : line["remove"].asArray())
      if (serial.isInteger()) {
        entries_.erase(serial.asUInt());
        nextSerial_ = std::max(nextSerial_, serial.asUInt() + 1);
      }
  if (line["set"].isArray())
    for (const auto& item : line["set"].asArray()) applyStored(item, renumbered);
  if (line["badge"].isInteger()) badge_ = line["badge"].asInt();
  if (line["asked"].isBool()) asked_ = line["asked"].asBool();
  if (line["allowedTypes"].isInteger()) allowedTypes_ = static_cast<unsigned long>(line["allowedTypes"].asUInt());
}

void LocalNotificationStore::load(double now, std::vector<UILocalNotificationPtr>& firedWhileStopped) {
  if (path_.empty()) return;
  bool rewrite = false;
  if (auto text = readFileContents(path_)) {
    auto parsed = json::parse(*text);
    if (!parsed || !parsed->isDictionary() || !(*parsed)["notifications"].isArray()) {
      // Kept for whoever wants to look at it; the next change writes a new file. The journal's
      // changes were made to that list, so they go with it.
      std::string aside = path_ + ".unreadable";
      NSFileManager::defaultManager().removeItemAtPath(aside);
      NSFileManager::defaultManager().moveItemAtPath(path_, aside);
      NSFileManager::defaultManager().removeItemAtPath(journalPath_ + ".unreadable");
      NSFileManager::defaultManager().moveItemAtPath(journalPath_, journalPath_ + ".unreadable");
      NSLog(std::string(kLog) + "the stored local notifications cannot be read; set aside as " + aside);
    } else {
      const Value& stored = *parsed;
      badge_ = stored["badge"].asInt();
      asked_ = stored["asked"].asBool();
      allowedTypes_ = static_cast<unsigned long>(stored["allowedTypes"].asUInt());
      if (stored["nextSerial"].isInteger()) nextSerial_ = std::max<std::uint64_t>(1, stored["nextSerial"].asUInt());
      generation_ = stored["generation"].asUInt();
      bool renumbered = false;
      for (const auto& item : stored["notifications"].asArray()) applyStored(item, renumbered);
      rewrite = renumbered;
      listBytes_ = text->size();
    }
  }
  if (auto journal = readFileContents(journalPath_)) {
    std::string_view rest = *journal;
    std::size_t damaged = 0;
    while (!rest.empty()) {
      std::size_t end = rest.find('\n');
      std::string_view line = rest.substr(0, end);
      bool last = end == std::string_view::npos || end + 1 == rest.size();
      auto parsed = json::parse(line);
      if (parsed && parsed->isDictionary())
        applyJournalLine(*parsed);
      else if (!last)
        ++damaged;
      // A last line cut short is a change whose write a stop interrupted: it never happened.
      rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
    }
    if (damaged) NSLog(std::string(kLog) + "skipped " + std::to_string(damaged) + " damaged change(s) in " + journalPath_);
    if (!journal->empty()) rewrite = true;
  }
  for (auto& [serial, e] : entries_) {
    if (!e.next || *e.next > now) continue;
    fire(serial, e, now);
    firedWhileStopped.push_back(e.notification->copy());
    rewrite = true;
  }
  forgetChanges();
  if (rewrite) compact();
}

void LocalNotificationStore::forgetChanges() {
  touched_.clear();
  clearedAll_ = false;
  settingsChanged_ = false;
}

bool LocalNotificationStore::openJournal() {
  if (journal_ >= 0) return true;
  journal_ = fileio::open(journalPath_, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (journal_ < 0) {
    NSLog(std::string(kLog) + "cannot open " + journalPath_ + ": " + std::strerror(errno));
    return false;
  }
  off_t size = ::lseek(journal_, 0, SEEK_END);
  journalBytes_ = size > 0 ? static_cast<std::uint64_t>(size) : 0;
  return true;
}

bool LocalNotificationStore::compact() {
  Array notifications;
  for (const auto& [serial, e] : entries_) notifications.emplace_back(entryValue(e));
  Dictionary stored{{"badge", badge_},
                    {"asked", asked_},
                    {"allowedTypes", static_cast<std::uint64_t>(allowedTypes_)},
                    {"nextSerial", nextSerial_},
                    {"generation", generation_ + 1},
                    {"notifications", std::move(notifications)}};
  auto text = json::write(Value(std::move(stored)));
  NSError error;
  if (!text) {
    NSLog(std::string(kLog) + "cannot store the local notifications: " + text.error());
    return false;
  }
  if (!writeFileContentsAtomically(path_, *text, &error)) {
    NSLog(std::string(kLog) + "cannot store the local notifications in " + path_ + ": " + error.localizedDescription);
    return false;
  }
  listBytes_ = text->size();
  // The journal's lines name the list before this one, so a stop before they are gone leaves
  // lines that loading skips.
  ++generation_;
  if (!openJournal()) return true;
  if (fileio::ftruncate(journal_, 0) != 0) {
    NSLog(std::string(kLog) + "cannot empty " + journalPath_ + ": " + std::strerror(errno));
    return true;
  }
  journalBytes_ = 0;
  return true;
}

void LocalNotificationStore::commit() {
  if (path_.empty()) {  // no sandbox home: kept for this process only
    forgetChanges();
    return;
  }
  if (touched_.empty() && !clearedAll_ && !settingsChanged_) return;
  bool grown = journalBytes_ > std::max(kMinimumJournalBytes, listBytes_);
  if (mustCompact_ || grown) {
    mustCompact_ = !compact();
    forgetChanges();
    return;
  }
  Dictionary line;
  if (clearedAll_) line.set("clear", true);
  Array set, removed;
  for (std::uint64_t serial : touched_) {
    auto it = entries_.find(serial);
    if (it == entries_.end())
      removed.emplace_back(serial);
    else
      set.emplace_back(entryValue(it->second));
  }
  if (!removed.empty()) line.set("remove", std::move(removed));
  if (!set.empty()) line.set("set", std::move(set));
  line.set("generation", generation_);
  line.set("badge", badge_);
  line.set("asked", asked_);
  line.set("allowedTypes", static_cast<std::uint64_t>(allowedTypes_));
  forgetChanges();
  auto text = json::write(Value(std::move(line)));
  if (!text) {
    NSLog(std::string(kLog) + "cannot store the local notifications: " + text.error());
    mustCompact_ = true;
    return;
  }
  text->push_back('\n');
  if (!openJournal()) {
    mustCompact_ = true;
    return;
  }
  // One write of the whole line; one cut short (a full disk) is taken back, so that the next
  // line does not follow a broken one, and the whole list is written with the next change.
  if (!fileio::writeAll(journal_, text->data(), text->size())) {
    NSLog(std::string(kLog) + "cannot store the local notifications in " + journalPath_ + ": " + std::strerror(errno));
    if (fileio::ftruncate(journal_, static_cast<off_t>(journalBytes_)) != 0) {
      ::close(journal_);
      journal_ = -1;
    }
    mustCompact_ = true;
    return;
  }
  journalBytes_ += text->size();
}

}  // namespace plat
