#include "child_process.hpp"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace pavo::testing {

using Clock = std::chrono::steady_clock;

ChildProcess::ChildProcess(const std::string& program, const std::vector<std::string>& arguments,
                           const std::map<std::string, std::string>& environment) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
    std::vector<std::string> args{program}, env{"PATH=/usr/local/bin:/usr/bin:/bin"};
    args.insert(args.end(), arguments.begin(), arguments.end());
    if (environment.count("PATH")) env.clear();
    for (const auto& [name, value] : environment) env.push_back(name + "=" + value);
    std::vector<char*> argv, envp;
    for (auto& s : args) argv.push_back(s.data());
    for (auto& s : env) envp.push_back(s.data());
    argv.push_back(nullptr);
    envp.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 2);
    // The child gets the default SIGPIPE whatever this process does with it.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);
    const int rc = ::posix_spawn(&pid_, program.c_str(), &actions, &attributes, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    ::close(fds[1]);
    if (rc != 0) {
        ::close(fds[0]);  // no destructor runs for a constructor that throws
        throw std::runtime_error("cannot start " + program);
    }
    outFd_ = fds[0];
}

ChildProcess::~ChildProcess() {
    if (!exitStatus_ && pid_ > 0) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }
    if (outFd_ >= 0) ::close(outFd_);
}

bool ChildProcess::readSome(int timeoutMs) {
    pollfd p{outFd_, POLLIN, 0};
    if (outFd_ < 0 || ::poll(&p, 1, std::max(timeoutMs, 0)) <= 0) return false;
    char chunk[8192];
    const ssize_t n = ::read(outFd_, chunk, sizeof chunk);
    if (n > 0) return output_.append(chunk, static_cast<std::size_t>(n)), true;
    ::close(outFd_);
    outFd_ = -1;
    return false;
}

static int msUntil(Clock::time_point deadline) {
    return static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count());
}

std::optional<std::string> ChildProcess::waitForLine(const std::string& prefix,
                                                     std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    while (true) {
        // Only complete lines count.
        for (std::size_t start = 0, end; (end = output_.find('\n', start)) != std::string::npos;
             start = end + 1)
            if (output_.compare(start, prefix.size(), prefix) == 0 && end - start >= prefix.size())
                return output_.substr(start, end - start);
        if (Clock::now() >= deadline || (!readSome(msUntil(deadline)) && outFd_ < 0)) return std::nullopt;
    }
}

std::optional<int> ChildProcess::waitForExit(std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    while (!exitStatus_) {
        // Reading on keeps a chatty child from blocking on a full pipe.
        readSome(std::min(20, msUntil(deadline)));
        int status = 0;
        if (::waitpid(pid_, &status, WNOHANG) == pid_) {
            while (readSome(50)) {
            }
            exitStatus_ = WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
        } else if (Clock::now() >= deadline) {
            return std::nullopt;
        } else if (outFd_ < 0) {
            ::poll(nullptr, 0, 5);
        }
    }
    return exitStatus_;
}

void ChildProcess::signal(int signalNumber) {
    if (!exitStatus_) ::kill(pid_, signalNumber);
}

std::vector<std::string> ChildProcess::outputLines() const {
    std::vector<std::string> lines;
    std::istringstream in(output_);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

std::uint16_t waitForPort(ChildProcess& server, const std::string& announcement) {
    const auto line = server.waitForLine(announcement);
    return line ? static_cast<std::uint16_t>(std::stoi(line->substr(announcement.size()))) : 0;
}

Completed runToCompletion(const std::string& program, const std::vector<std::string>& arguments,
                          const std::map<std::string, std::string>& environment) {
    ChildProcess child(program, arguments, environment);
    const auto status = child.waitForExit(std::chrono::seconds(20));
    if (!status) throw std::runtime_error(program + " did not exit");
    return {*status, child.output(), child.outputLines()};
}

TempDir::TempDir() : path_((std::filesystem::temp_directory_path() / "pavo-test-XXXXXX").string()) {
    if (!::mkdtemp(path_.data())) throw std::runtime_error("mkdtemp failed");
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

std::string TempDir::write(const std::string& relativePath, const std::string& content) const {
    const std::filesystem::path full = std::filesystem::path(path_) / relativePath;
    std::filesystem::create_directories(full.parent_path());
    std::ofstream(full, std::ios::binary) << content;
    return full.string();
}

}  // namespace pavo::testing
