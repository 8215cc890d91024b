#include "LocalNotificationStore.h"

#include <cmath>

#include "plat/foundation/JSON.h"
#include "plat/foundation/Log.h"
#include "plat/foundation/NSFileManager.h"

namespace plat {

LocalNotificationStore::LocalNotificationStore(std::string path, double now,
                                               std::vector<UILocalNotificationPtr>& firedWhileStopped)
    : path_(std::move(path)) {
  std::lock_guard<std::mutex> lock(mutex_);
  load(now, firedWhileStopped);
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

void LocalNotificationStore::schedule(const UILocalNotification& notification, double now) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto kept = notification.copy();
  kept->scheduleSerial_ = nextSerial_++;
  // A date already past fires at once; but a repeating one whose date lies well back (one
  // scheduled again with its first date, say) goes on at its next repetition instead of
  // firing again now.
  double next = kept->fireDate().value_or(now);
  if (kept->repeats() && next <= now - 1) next = nextFireDate(*kept, now);
  entries_.push_back(Entry{kept, next, std::nullopt});
  save();
}

void LocalNotificationStore::cancel(const UILocalNotification& notification) {
  std::lock_guard<std::mutex> lock(mutex_);
  std::size_t before = entries_.size();
  std::erase_if(entries_, [&](const Entry& e) {
    const UILocalNotification& kept = *e.notification;
    if (notification.scheduleSerial_ != 0) return kept.scheduleSerial_ == notification.scheduleSerial_;
    return kept.fireDate() == notification.fireDate() && kept.timeZone() == notification.timeZone() &&
           kept.repeatInterval() == notification.repeatInterval() && kept.alertBody() == notification.alertBody() &&
           kept.soundName() == notification.soundName() &&
           kept.applicationIconBadgeNumber() == notification.applicationIconBadgeNumber() &&
           kept.userInfo() == notification.userInfo();
  });
  if (entries_.size() != before) save();
}

void LocalNotificationStore::cancelAll() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (entries_.empty()) return;
  entries_.clear();
  save();
}

std::vector<UILocalNotificationPtr> LocalNotificationStore::list() {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<UILocalNotificationPtr> out;
  out.reserve(entries_.size());
  for (const auto& e : entries_) out.push_back(e.notification->copy());
  return out;
}

void LocalNotificationStore::fire(Entry& entry, double now) {
  entry.lastFired = *entry.next;
  if (entry.notification->repeats())
    entry.next = nextFireDate(*entry.notification, now);
  else
    entry.next.reset();
  if (entry.notification->applicationIconBadgeNumber() != 0) badge_ = entry.notification->applicationIconBadgeNumber();
}

std::vector<UILocalNotificationPtr> LocalNotificationStore::takeDue(double now) {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<UILocalNotificationPtr> due;
  // The timer's date is now + (next - now); a rounding error there must not leave a
  // notification just short of due, with the timer armed again for the same instant.
  constexpr double kSlack = 1e-6;
  for (auto& e : entries_) {
    if (!e.next || *e.next > now + kSlack) continue;
    fire(e, now);
    due.push_back(e.notification->copy());
  }
  if (!due.empty()) save();
  return due;
}

std::optional<double> LocalNotificationStore::nextDate() {
  std::lock_guard<std::mutex> lock(mutex_);
  std::optional<double> earliest;
  for (const auto& e : entries_)
    if (e.next && (!earliest || *e.next < *earliest)) earliest = e.next;
  return earliest;
}

UILocalNotificationPtr LocalNotificationStore::lastDelivered() {
  std::lock_guard<std::mutex> lock(mutex_);
  const Entry* latest = nullptr;
  for (const auto& e : entries_)
    if (e.lastFired && (!latest || *e.lastFired >= *latest->lastFired)) latest = &e;
  return latest ? latest->notification->copy() : nullptr;
}

std::int64_t LocalNotificationStore::badge() {
  std::lock_guard<std::mutex> lock(mutex_);
  return badge_;
}

void LocalNotificationStore::setBadge(std::int64_t badge) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (badge_ == badge) return;
  badge_ = badge;
  save();
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
  std::lock_guard<std::mutex> lock(mutex_);
  asked_ = true;
  allowedTypes_ = allowedTypes;
  save();
}

// ---- The file ----

void LocalNotificationStore::load(double now, std::vector<UILocalNotificationPtr>& firedWhileStopped) {
  if (path_.empty()) return;
  auto text = readFileContents(path_);
  if (!text) return;  // nothing stored yet
  auto parsed = json::parse(*text);
  if (!parsed || !parsed->isDictionary() || !(*parsed)["notifications"].isArray()) {
    // Kept for whoever wants to look at it; the next change writes a new file.
    std::string aside = path_ + ".unreadable";
    NSFileManager::defaultManager().removeItemAtPath(aside);
    NSFileManager::defaultManager().moveItemAtPath(path_, aside);
    NSLog("UIApplication: the stored local notifications cannot be read; set aside as " + aside);
    return;
  }
  const Value& stored = *parsed;
  badge_ = stored["badge"].asInt();
  asked_ = stored["asked"].asBool();
  allowedTypes_ = static_cast<unsigned long>(stored["allowedTypes"].asUInt());
  bool moved = false;
  for (const auto& item : stored["notifications"].asArray()) {
    auto n = UILocalNotification::fromDictionaryRepresentation(item["notification"]);
    if (!n) continue;
    Entry e{n, std::nullopt, std::nullopt};
    if (item["next"].isNumber()) e.next = item["next"].asDouble();
    if (item["lastFired"].isNumber()) e.lastFired = item["lastFired"].asDouble();
    if (n->scheduleSerial_ == 0) n->scheduleSerial_ = nextSerial_;
    nextSerial_ = std::max(nextSerial_, n->scheduleSerial_ + 1);
    if (e.next && *e.next <= now) {
      fire(e, now);
      firedWhileStopped.push_back(n->copy());
      moved = true;
    }
    entries_.push_back(std::move(e));
  }
  if (moved) save();
}

void LocalNotificationStore::save() {
  if (path_.empty()) return;  // no sandbox home: kept for this process only
  Array notifications;
  for (const auto& e : entries_) {
    Dictionary item{{"notification", e.notification->dictionaryRepresentation()}};
    if (e.next) item.set("next", *e.next);
    if (e.lastFired) item.set("lastFired", *e.lastFired);
    notifications.emplace_back(std::move(item));
  }
  Dictionary stored{{"badge", badge_},
                    {"asked", asked_},
                    {"allowedTypes", static_cast<std::uint64_t>(allowedTypes_)},
                    {"notifications", std::move(notifications)}};
  auto text = json::write(Value(std::move(stored)));
  NSError error;
  if (!text) {
    NSLog("UIApplication: cannot store the local notifications: " + text.error());
  } else if (!writeFileContentsAtomically(path_, *text, &error)) {
    NSLog("UIApplication: cannot store the local notifications in " + path_ + ": " + error.localizedDescription);
  }
}

}  // namespace plat
