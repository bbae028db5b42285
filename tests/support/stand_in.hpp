#pragma once
// Stand-in programs for tests of code that runs other programs, and checks that nothing was left running.

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

#include "child_process.hpp"

namespace pavo::testing {

// Writes an executable shell script `name` into `dir` with `body` after the #! line; returns its path.
std::string writeStandIn(const TempDir& dir, const std::string& name, const std::string& body);

// A stand-in that records its arguments and its standard input, then runs `answer` (shell commands).
std::string writeRecordingStandIn(const TempDir& dir, const std::string& name, const std::string& answer);

struct StandInCall {
    std::vector<std::string> arguments;
    std::string input;
};

// What the recording stand-in at `path` received on its last run, forgotten once taken; nothing when it
// has not run since.
std::optional<StandInCall> takeStandInCall(const std::string& path);

// The processes this process has started and not yet reaped (zombies included).
std::vector<pid_t> unreapedChildren();

// Whether `pid` has ended: gone, or a zombie waiting for init (which reaps orphans lazily here).
// Waits up to ten seconds for a process that is still being killed.
bool hasEnded(pid_t pid);

}  // namespace pavo::testing
