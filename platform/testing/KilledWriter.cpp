#include "plat/testing/KilledWriter.h"

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <thread>
#include <vector>

extern char** environ;

namespace plat::testing {

std::optional<int> runWriterUntilKilled(const std::string& filter, const std::string& variable,
                                        const std::string& value, int killAfter, std::mt19937& random,
                                        int maxDelayMicros) {
  int out[2];
  if (pipe(out) != 0) return std::nullopt;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_addclose(&actions, out[0]);
  std::string self = "/proc/self/exe";
  std::string filterArgument = "--gtest_filter=" + filter;
  char* argv[] = {self.data(), filterArgument.data(), nullptr};
  // The writer's own test folder goes under one of ours: a killed writer never removes it.
  std::string folder = "/tmp/harbor-writer-XXXXXX";
  if (!::mkdtemp(folder.data())) return std::nullopt;
  struct RemovedAfter {
    std::string path;
    ~RemovedAfter() {
      std::error_code ignored;
      std::filesystem::remove_all(path, ignored);
    }
  } removed{folder};
  std::vector<std::string> envText{variable + "=" + value, std::string(kTestFolderVariable) + "=" + folder};
  for (char** e = environ; *e; ++e) envText.emplace_back(*e);
  std::vector<char*> env;
  for (auto& e : envText) env.push_back(e.data());
  env.push_back(nullptr);
  pid_t child = 0;
  int spawned = posix_spawn(&child, self.c_str(), &actions, nullptr, argv, env.data());
  posix_spawn_file_actions_destroy(&actions);
  close(out[1]);
  if (spawned != 0) {
    close(out[0]);
    return std::nullopt;
  }

  FILE* lines = fdopen(out[0], "r");
  int lastReported = 0;
  char line[256];
  while (lastReported < killAfter && std::fgets(line, sizeof line, lines)) {
    int n = std::atoi(line);
    if (n > 0) lastReported = n;
  }
  if (maxDelayMicros > 0)
    std::this_thread::sleep_for(std::chrono::microseconds(std::uniform_int_distribution<int>(0, maxDelayMicros)(random)));
  kill(child, SIGKILL);
  int status = 0;
  waitpid(child, &status, 0);
  bool killedInTime = lastReported >= killAfter;
  // The writer ran on while this side read: what it reported before it died is still in the pipe.
  while (std::fgets(line, sizeof line, lines)) {
    int n = std::atoi(line);
    if (n > lastReported) lastReported = n;
  }
  std::fclose(lines);
  if (!killedInTime) return std::nullopt;
  return lastReported;
}

}  // namespace plat::testing
