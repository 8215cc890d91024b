#include "plat/foundation/Log.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <string>
#include <utility>

#include "plat/foundation/Clock.h"
#include "plat/foundation/Strings.h"
#include "plat/foundation/TextCut.h"

namespace plat {
namespace {
std::mutex& logMutex() {
  static std::mutex m;
  return m;
}
LogSink& currentSink() {
  static LogSink sink;
  return sink;
}
LogWatcher& currentWatcher() {
  static LogWatcher watcher;
  return watcher;
}

// The rate's budget (see LogRate), under the log's lock.
struct Budget {
  std::optional<LogRate> rate = LogRate{};
  double bytes = LogRate{}.burstBytes;
  double refilled = 0;  // when the budget was last refilled (platform clock); 0: not yet
  std::size_t dropped = 0;

  bool pay(std::size_t length, bool mustWrite) {
    if (!rate) return true;
    double now = plat::now();
    // A clock set back refills nothing, and stalls nothing either.
    if (refilled > 0 && now > refilled) bytes = std::min(rate->burstBytes, bytes + (now - refilled) * rate->bytesPerSecond);
    refilled = now;
    double cost = static_cast<double>(length + kLogLineCost);
    if (bytes < cost && !mustWrite) {
      ++dropped;
      return false;
    }
    bytes = std::max(0.0, bytes - cost);
    return true;
  }
};
Budget& budget() {
  static Budget b;
  return b;
}

void write(std::string_view line) {
  if (currentSink()) {
    currentSink()(line);
    return;
  }
  std::string text = asOneLogLine(line);
  text += '\n';
  std::fwrite(text.data(), 1, text.size(), stderr);
}
void appendEscaped(std::string& out, unsigned char c) {
  switch (c) {
    case '\\': out += "\\\\"; return;
    case '\n': out += "\\n"; return;
    case '\r': out += "\\r"; return;
    case '\t': out += "\\t"; return;
    default: out += format("\\x%02x", c);
  }
}

bool isControl(unsigned char c) { return c < 0x20 || c == 0x7f; }

}  // namespace

std::string logEscaped(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (unsigned char c : text) {
    if (c == '\\' || isControl(c)) appendEscaped(out, c);
    else out += static_cast<char>(c);
  }
  return out;
}

std::string logPageText(std::string_view text) { return logEscaped(cutPageText(text)); }

std::string logExcerpt(std::string_view text, std::size_t limit) {
  if (text.size() <= limit) return logEscaped(text);
  std::size_t end = limit;
  while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
  return logEscaped(text.substr(0, end)) + "...";
}

std::string asOneLogLine(std::string_view line) {
  std::string out;
  out.reserve(line.size());
  for (unsigned char c : line) {
    if (isControl(c) && c != '\t') appendEscaped(out, c);
    else out += static_cast<char>(c);
  }
  return out;
}

namespace {

void logLine(std::string_view line, bool pastRate) {
  std::lock_guard<std::mutex> lock(logMutex());
  bool mustWrite = (currentWatcher() && currentWatcher()(line)) || pastRate;
  Budget& b = budget();
  if (!b.pay(line.size(), mustWrite)) return;
  if (b.dropped > 0) {
    std::size_t dropped = std::exchange(b.dropped, 0);
    write("... " + std::to_string(dropped) + (dropped == 1 ? " line dropped" : " lines dropped"));
  }
  write(line);
}

}  // namespace

void NSLog(std::string_view line) { logLine(line, false); }

void NSLogPastRate(std::string_view line) { logLine(line, true); }

void NSLogf(const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  std::string line = vformat(fmt, args);
  va_end(args);
  NSLog(line);
}

std::optional<LogRate> setLogRate(std::optional<LogRate> rate) {
  std::lock_guard<std::mutex> lock(logMutex());
  Budget& b = budget();
  std::optional<LogRate> previous = b.rate;
  b.rate = rate;
  b.bytes = rate ? rate->burstBytes : 0;
  b.refilled = 0;
  return previous;
}

LogWatcher setLogWatcher(LogWatcher watcher) {
  std::lock_guard<std::mutex> lock(logMutex());
  LogWatcher previous = std::move(currentWatcher());
  currentWatcher() = std::move(watcher);
  return previous;
}

LogSink setLogSink(LogSink sink) {
  std::lock_guard<std::mutex> lock(logMutex());
  LogSink previous = std::move(currentSink());
  currentSink() = std::move(sink);
  return previous;
}

}  // namespace plat
