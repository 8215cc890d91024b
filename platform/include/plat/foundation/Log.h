#pragma once
// The system log. Lines go to standard error unless a sink is installed (the runner's or a
// test's capture). Safe from any thread; one line per call.
#include <functional>
#include <string_view>

namespace plat {

void NSLog(std::string_view line);
void NSLogf(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

using LogSink = std::function<void(std::string_view line)>;
// Installs a sink (nullptr restores standard error) and returns the previous one.
LogSink setLogSink(LogSink sink);

}  // namespace plat
