#pragma once
// Stores are tried with a SIGKILL at a random moment of their saves: the test program runs one of
// its own tests again as a child (the writer), which saves version after version and prints each
// number once its save has returned; the parent kills it part-way and then checks, as the next
// start would, that the newest whole version is there.
#include <optional>
#include <random>
#include <string>

namespace plat::testing {

// Where a sandbox test makes its folder when set (instead of /tmp): a killed writer's lies in a
// folder its parent removes.
inline constexpr const char* kTestFolderVariable = "HARBOR_TEST_FOLDER";

// Runs this program again with only the test `filter` and the environment variable
// `variable`=`value` added, reads the numbers it prints (one a line), and SIGKILLs it once it has
// reported `killAfter` of them, up to `maxDelayMicros` later (a random moment of the next save).
// Gives the last number the writer reported before it died (what it wrote before the kill is
// read to the end); nothing when it could not be started or ended before it was killed.
std::optional<int> runWriterUntilKilled(const std::string& filter, const std::string& variable,
                                        const std::string& value, int killAfter, std::mt19937& random,
                                        int maxDelayMicros = 0);

}  // namespace plat::testing
