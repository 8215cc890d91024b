#include "plat/foundation/Log.h"

#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <string>

#include "plat/foundation/Strings.h"

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
}  // namespace

void NSLog(std::string_view line) {
  std::lock_guard<std::mutex> lock(logMutex());
  if (currentSink()) {
    currentSink()(line);
    return;
  }
  std::string text(line);
  text += '\n';
  std::fwrite(text.data(), 1, text.size(), stderr);
}

void NSLogf(const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  std::string line = vformat(fmt, args);
  va_end(args);
  NSLog(line);
}

LogSink setLogSink(LogSink sink) {
  std::lock_guard<std::mutex> lock(logMutex());
  LogSink previous = std::move(currentSink());
  currentSink() = std::move(sink);
  return previous;
}

}  // namespace plat
