#pragma once
// Runs a program under test as a child: its standard output (and error) captured, ended by its pid when
// the test is done with it.

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace pavo::testing {

class ChildProcess {
  public:
    // `environment` replaces the child's environment entirely (PATH is added when missing).
    ChildProcess(const std::string& program, const std::vector<std::string>& arguments,
                 const std::map<std::string, std::string>& environment);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    pid_t pid() const { return pid_; }

    // Waits for a line of output that begins with `prefix`; returns the whole line.
    std::optional<std::string> waitForLine(const std::string& prefix,
                                           std::chrono::milliseconds timeout = std::chrono::seconds(10));

    // Waits for the child to exit; its exit status, or nothing on timeout (or death by signal: -signal).
    std::optional<int> waitForExit(std::chrono::milliseconds timeout = std::chrono::seconds(10));

    void signal(int signalNumber);

    // Everything the child printed so far (after waitForExit: everything).
    const std::string& output() const { return output_; }
    std::vector<std::string> outputLines() const;

  private:
    bool readSome(int timeoutMs);

    pid_t pid_ = -1;
    int outFd_ = -1;
    std::string output_;
    std::optional<int> exitStatus_;
};

// What pavo-agent and pavo-overlay print once they listen, followed by the port.
inline const std::string kAgentListening = "Server listening on 127.0.0.1:";
inline const std::string kOverlayListening = "[EventServer] Listening on 127.0.0.1:";

// Waits for the server's line that begins with `announcement` and returns the port it ends with; 0 when
// no such line came.
std::uint16_t waitForPort(ChildProcess& server, const std::string& announcement);

// Runs a program to completion and returns (status, output).
struct Completed {
    int status;
    std::string output;
    std::vector<std::string> lines;
};
Completed runToCompletion(const std::string& program, const std::vector<std::string>& arguments,
                          const std::map<std::string, std::string>& environment);

// A fresh directory below /tmp removed with everything in it when the object goes.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    std::string write(const std::string& relativePath, const std::string& content) const;

  private:
    std::string path_;
};

}  // namespace pavo::testing
