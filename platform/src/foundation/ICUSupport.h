#pragma once
// What the locale-aware Foundation classes share over ICU: text conversion, locales from our
// identifiers, and a bounded cache of built formatters. Private to the platform library.
#include <unicode/locid.h>
#include <unicode/timezone.h>
#include <unicode/unistr.h>

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

namespace plat::icu_support {

inline icu::UnicodeString toUnicode(std::string_view text) {
  return icu::UnicodeString::fromUTF8(icu::StringPiece(text.data(), static_cast<int32_t>(text.size())));
}

inline std::string toUTF8(const icu::UnicodeString& text) {
  std::string out;
  text.toUTF8String(out);
  return out;
}

// "de_CH@currency=EUR", "zh_Hans_CN" or a tag such as "de-CH": ICU reads underscores, so the
// hyphens of the language part become underscores; keywords after "@" stay as they are.
icu::Locale localeFor(std::string_view identifier);

// A time zone by its identifier; the unknown zone ("Etc/Unknown") when there is no such zone.
std::unique_ptr<icu::TimeZone> timeZoneFor(std::string_view name);

// Building an ICU formatter loads and parses locale data: far dearer than using one. Formatters
// are built once per key (locale, styles or pattern, time zone, ...) and then shared. ICU's
// formatters may be used from several threads only through const members, and even those are not
// promised to be safe for every class, so each shared formatter is used under its own lock.
// Entry is { std::mutex lock; std::unique_ptr<Formatter> formatter; } (null when ICU could not
// build one).
template <class Entry>
class FormatterCache {
 public:
  using FormatterPtr = decltype(Entry::formatter);

  // The entry for key, built by make on first use. A page can name only so many distinct
  // formatters, but the cache is bounded anyway: when full it starts again.
  std::shared_ptr<Entry> get(const std::string& key, const std::function<FormatterPtr()>& make) {
    std::lock_guard<std::mutex> guard(mutex_);
    auto it = entries_.find(key);
    if (it != entries_.end()) return it->second;
    if (entries_.size() >= kCapacity) entries_.clear();
    auto entry = std::make_shared<Entry>();
    entry->formatter = make();
    entries_.emplace(key, entry);
    return entry;
  }

 private:
  static constexpr std::size_t kCapacity = 256;
  std::mutex mutex_;
  std::map<std::string, std::shared_ptr<Entry>> entries_;
};

// The one cache of each kind of formatter, kept for the life of the process.
template <class Entry>
FormatterCache<Entry>& sharedCache() {
  static auto* cache = new FormatterCache<Entry>();
  return *cache;
}

}  // namespace plat::icu_support
