#pragma once
// The system log. Lines go to standard error unless a sink is installed (the runner's or a
// test's capture). Safe from any thread; one line per call.
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace plat {

void NSLog(std::string_view line);
void NSLogf(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
// A line written whatever the log's rate (below), for the few lines of the process's own that
// must never be lost in a page's flood: why the runner ends the run. Exempt by who writes it,
// never by its wording, so never a page's text.
void NSLogPastRate(std::string_view line);

using LogSink = std::function<void(std::string_view line)>;
// Installs a sink (nullptr restores standard error) and returns the previous one.
LogSink setLogSink(LogSink sink);

// The log's rate: a page that logs in a loop would otherwise write hundreds of megabytes a second
// and keep the main thread writing them. Each line costs its length plus kLogLineCost bytes from
// a budget that refills at bytesPerSecond (on the platform clock) up to burstBytes; a line the
// budget cannot pay for is dropped, never waited for, and the next line written is preceded by
// "... N lines dropped" (so a line longer than burstBytes is never written: page texts are cut
// far shorter). In force from the start (LogRate{}); a test's log capture sets none, so that it
// sees every line, unless the test sets one.
struct LogRate {
  double bytesPerSecond = 1 << 20;
  double burstBytes = 4 << 20;
};
inline constexpr std::size_t kLogLineCost = 64;
// Sets the rate (none: every line is written) and returns the previous one.
std::optional<LogRate> setLogRate(std::optional<LogRate> rate);

// Sees every line before the rate is applied, dropped or not (the runner's --until and start
// watch, which must never miss one), under the log's lock. Its answer true has the line written
// whatever the rate: for the one line that ends the run, never for every line of a wording, which
// a page could repeat to get past the rate. Installs the watcher (nullptr: none) and returns the
// previous one.
using LogWatcher = std::function<bool(std::string_view line)>;
LogWatcher setLogWatcher(LogWatcher watcher);

// Text from a page (or any outsider) for a log line: backslashes and control characters escaped
// (\\, \n, \r, \t, \xHH), so that it can neither end the line early, forge a line of its own,
// nor, NUL included, cut the line short. Other bytes are kept as they are.
std::string logEscaped(std::string_view text);

// A page's text for a log line: cut as every page text is (cutPageText, plat/foundation/TextCut.h),
// then escaped as logEscaped.
std::string logPageText(std::string_view text);

// At most the first `limit` bytes of the text (never half a UTF-8 sequence), "..." after them
// when it was longer, then logEscaped: for texts of any size, such as a message a page sent.
std::string logExcerpt(std::string_view text, std::size_t limit = 200);

// One log record as one line of output: line breaks and other control characters but the tab
// escaped as logEscaped does (backslashes are left alone). For sinks that write lines.
std::string asOneLogLine(std::string_view line);

}  // namespace plat
