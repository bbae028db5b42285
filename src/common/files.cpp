#include "common/files.hpp"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdlib>

namespace pavo::common {

std::optional<std::string> readFile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    std::optional<std::string> content;
    struct stat info {};
    if (::fstat(fd, &info) == 0 && !S_ISDIR(info.st_mode)) {
        std::string data;
        char chunk[16384];
        while (true) {
            const ssize_t n = ::read(fd, chunk, sizeof chunk);
            if (n > 0) {
                data.append(chunk, static_cast<std::size_t>(n));
            } else if (n == 0) {
                content = std::move(data);
                break;
            } else if (errno != EINTR) {
                break;
            }
        }
    }
    ::close(fd);
    return content;
}

std::string homeDirectory() {
    std::string home;
    if (const char* env = std::getenv("HOME"); env && *env) {
        home = env;
    } else if (const passwd* pw = getpwuid(getuid()); pw && pw->pw_dir) {
        home = pw->pw_dir;
    }
    while (home.size() > 1 && home.back() == '/') home.pop_back();
    return home;
}

std::optional<std::string> runningExecutablePath() {
    std::array<char, 4096> path{};
    const ssize_t length = ::readlink("/proc/self/exe", path.data(), path.size() - 1);
    if (length <= 0) return std::nullopt;
    return std::string(path.data(), static_cast<std::size_t>(length));
}

}  // namespace pavo::common
