#include "child_process.hpp"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace pavo::testing {

namespace {

using Clock = std::chrono::steady_clock;

int remainingMs(Clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left < 0 ? 0 : static_cast<int>(left);
}

}  // namespace

ChildProcess::ChildProcess(const std::string& program, const std::vector<std::string>& arguments,
                           const std::map<std::string, std::string>& environment) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");

    std::vector<std::string> argStrings{program};
    argStrings.insert(argStrings.end(), arguments.begin(), arguments.end());
    std::vector<std::string> envStrings;
    for (const auto& [name, value] : environment) envStrings.push_back(name + "=" + value);
    if (!environment.count("PATH")) envStrings.push_back("PATH=/usr/local/bin:/usr/bin:/bin");
    std::vector<char*> argv, envp;
    for (auto& s : argStrings) argv.push_back(s.data());
    for (auto& s : envStrings) envp.push_back(s.data());
    argv.push_back(nullptr);
    envp.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 2);
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
        ::close(fds[0]);
        throw std::runtime_error("cannot start " + program);
    }
    outFd_ = fds[0];
}

ChildProcess::~ChildProcess() {
    if (!exitStatus_ && pid_ > 0) {
        ::kill(pid_, SIGKILL);
        int status = 0;
        ::waitpid(pid_, &status, 0);
    }
    if (outFd_ >= 0) ::close(outFd_);
}

bool ChildProcess::readSome(int timeoutMs) {
    if (outFd_ < 0) return false;
    pollfd p{outFd_, POLLIN, 0};
    if (::poll(&p, 1, timeoutMs) <= 0) return false;
    char chunk[8192];
    const ssize_t n = ::read(outFd_, chunk, sizeof chunk);
    if (n <= 0) {
        ::close(outFd_);
        outFd_ = -1;
        return false;
    }
    output_.append(chunk, static_cast<std::size_t>(n));
    return true;
}

std::optional<std::string> ChildProcess::waitForLine(const std::string& prefix,
                                                     std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    while (true) {
        std::istringstream lines(output_);
        std::string line;
        while (std::getline(lines, line)) {
            if (line.rfind(prefix, 0) == 0 && !lines.eof()) return line;
        }
        if (Clock::now() >= deadline) return std::nullopt;
        if (!readSome(remainingMs(deadline)) && outFd_ < 0) return std::nullopt;
    }
}

std::optional<int> ChildProcess::waitForExit(std::chrono::milliseconds timeout) {
    if (exitStatus_) return exitStatus_;
    const auto deadline = Clock::now() + timeout;
    while (true) {
        while (readSome(0)) {
        }
        int status = 0;
        const pid_t done = ::waitpid(pid_, &status, WNOHANG);
        if (done == pid_) {
            while (readSome(50)) {
            }
            exitStatus_ = WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
            return exitStatus_;
        }
        if (Clock::now() >= deadline) return std::nullopt;
        readSome(std::min(20, remainingMs(deadline)));
        if (outFd_ < 0) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

void ChildProcess::signal(int signalNumber) {
    if (!exitStatus_) ::kill(pid_, signalNumber);
}

std::vector<std::string> ChildProcess::outputLines() const {
    std::vector<std::string> lines;
    std::istringstream in(output_);
    std::string line;
    while (std::getline(in, line)) lines.push_back(line);
    return lines;
}

Completed runToCompletion(const std::string& program, const std::vector<std::string>& arguments,
                          const std::map<std::string, std::string>& environment) {
    ChildProcess child(program, arguments, environment);
    auto status = child.waitForExit(std::chrono::seconds(20));
    if (!status) throw std::runtime_error(program + " did not exit");
    return {*status, child.output(), child.outputLines()};
}

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "pavo-test-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
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
