#pragma once
// Runs a program as a child process: never through a shell, all three pipes drained while it runs, an
// optional time limit, and the child always reaped. The child leads its own process group so that a time
// limit ends everything it started, not just itself.

#include <boost/asio/awaitable.hpp>

#include <chrono>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

namespace pavo::common {

struct ChildCommand {
    std::string executable;              // a path, or a bare name looked up in PATH like execvp does
    std::vector<std::string> arguments;  // after the program name
    // Written to the child's standard input, which is then closed (also when empty). Absent: the child
    // reads end of file from /dev/null.
    std::optional<std::string> input;
    // When it passes: SIGTERM to the group, 0.2 s grace, then SIGKILL to the group. A run ends when the
    // child has exited and its outputs are closed, so without a limit anything it left running with them
    // open holds the run; what it left running with them closed is not stopped.
    std::optional<std::chrono::milliseconds> timeLimit;
};

struct ChildResult {
    std::error_code startError;     // set when the program could not be started; nothing else then holds
    std::optional<int> exitStatus;  // it exited with this status
    std::optional<int> signal;      // it was ended by this signal
    bool timedOut = false;          // the time limit passed before it and its pipes were done
    std::string standardOutput;
    std::string standardError;

    bool started() const { return !startError; }
};

inline constexpr std::chrono::milliseconds kTerminationGrace{200};

// Runs on the calling coroutine's executor and never blocks its thread.
boost::asio::awaitable<ChildResult> runChild(ChildCommand command);

// The same for callers without an event loop (command-line tools): blocks the calling thread.
ChildResult runChildSync(ChildCommand command);

// How it ended, to follow a program's name: "returned 3", "was ended by signal 9", "did not finish within
// its time limit", "could not be started: <reason>".
std::string describeEnding(const ChildResult& result);

// The bytes as text when they are valid UTF-8, otherwise the empty string.
std::string utf8OrEmpty(std::string bytes);

}  // namespace pavo::common
