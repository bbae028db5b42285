#include "stand_in.hpp"

#include <dirent.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>
#include <thread>

namespace pavo::testing {

std::string writeStandIn(const TempDir& dir, const std::string& name, const std::string& body) {
    const std::string path = dir.write(name, "#!/bin/sh\n" + body + "\n");
    ::chmod(path.c_str(), 0755);
    return path;
}

std::string writeRecordingStandIn(const TempDir& dir, const std::string& name, const std::string& answer) {
    const std::string record = dir.path() + "/" + name;
    return writeStandIn(dir, name,
                        "for a in \"$@\"; do printf '%s\\0' \"$a\"; done > '" + record + ".args'\n" +
                            "cat > '" + record + ".stdin'\n" + answer);
}

std::optional<StandInCall> takeStandInCall(const std::string& path) {
    std::ifstream args(path + ".args", std::ios::binary);
    if (!args) return std::nullopt;
    StandInCall call;
    for (std::string argument; std::getline(args, argument, '\0');) call.arguments.push_back(argument);
    std::ifstream input(path + ".stdin", std::ios::binary);
    call.input.assign(std::istreambuf_iterator<char>(input), {});
    std::remove((path + ".args").c_str());
    std::remove((path + ".stdin").c_str());
    return call;
}

std::vector<pid_t> unreapedChildren() {
    std::vector<pid_t> children;
    DIR* tasks = ::opendir("/proc/self/task");
    if (!tasks) return children;
    while (const dirent* task = ::readdir(tasks)) {
        if (task->d_name[0] == '.') continue;
        std::ifstream list(std::string("/proc/self/task/") + task->d_name + "/children");
        for (pid_t pid; list >> pid;) children.push_back(pid);
    }
    ::closedir(tasks);
    return children;
}

bool hasEnded(pid_t pid) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (true) {
        std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
        std::string line;
        if (!std::getline(stat, line)) return true;
        // The state follows the command name, which is in parentheses and may hold spaces.
        std::istringstream fields(line.substr(line.rfind(')') + 1));
        char state = '?';
        fields >> state;
        if (state == 'Z' || state == 'X') return true;
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

}  // namespace pavo::testing
