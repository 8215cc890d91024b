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

void NSLog(std::string_view line) {
  std::lock_guard<std::mutex> lock(logMutex());
  if (currentSink()) {
    currentSink()(line);
    return;
  }
  std::string text = asOneLogLine(line);
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
