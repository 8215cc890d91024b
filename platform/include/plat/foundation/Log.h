#pragma once
// The system log. Lines go to standard error unless a sink is installed (the runner's or a
// test's capture). Safe from any thread; one line per call.
#include <functional>
#include <string>
#include <string_view>

namespace plat {

void NSLog(std::string_view line);
void NSLogf(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

using LogSink = std::function<void(std::string_view line)>;
// Installs a sink (nullptr restores standard error) and returns the previous one.
LogSink setLogSink(LogSink sink);

// Text from a page (or any outsider) for a log line: backslashes and control characters escaped
// (\\, \n, \r, \t, \xHH), so that it can neither end the line early, forge a line of its own,
// nor, NUL included, cut the line short. Other bytes are kept as they are.
std::string logEscaped(std::string_view text);

// At most the first `limit` bytes of the text (never half a UTF-8 sequence), "..." after them
// when it was longer, then logEscaped: for texts of any size, such as a message a page sent.
std::string logExcerpt(std::string_view text, std::size_t limit = 200);

// One log record as one line of output: line breaks and other control characters but the tab
// escaped as logEscaped does (backslashes are left alone). For sinks that write lines.
std::string asOneLogLine(std::string_view line);

}  // namespace plat
