#include "common/private_file.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>
#include <vector>

namespace pavo::common {

namespace {

[[noreturn]] void fail(const std::string& what) {
    throw std::system_error(errno, std::generic_category(), what);
}

bool isDirectory(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

std::string parentOf(const std::string& path) {
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

}  // namespace

void createPrivateDirectories(const std::string& path) {
    // Collect the missing tail of the path, then create it from the top down.
    std::vector<std::string> missing;
    std::string current = path;
    while (current.size() > 1 && current.back() == '/') current.pop_back();
    while (!current.empty() && current != "/" && current != "." && !isDirectory(current)) {
        missing.push_back(current);
        current = parentOf(current);
    }
    for (auto it = missing.rbegin(); it != missing.rend(); ++it) {
        if (::mkdir(it->c_str(), 0700) != 0 && !(errno == EEXIST && isDirectory(*it))) {
            fail("cannot create directory " + *it);
        }
    }
}

void writePrivateFileAtomically(const std::string& path, const std::string& content) {
    std::string temporary = path + ".XXXXXX";
    // mkstemp creates the file 0600 whatever the umask, so the secret is never readable by others.
    const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0) fail("cannot create a temporary file beside " + path);

    auto abandon = [&](const std::string& what) {
        const int saved = errno;
        ::close(fd);
        ::unlink(temporary.c_str());
        errno = saved;
        fail(what);
    };
    if (::fchmod(fd, 0600) != 0) abandon("cannot set the permissions of " + temporary);
    std::size_t written = 0;
    while (written < content.size()) {
        const ssize_t n = ::write(fd, content.data() + written, content.size() - written);
        if (n < 0) {
            if (errno == EINTR) continue;
            abandon("cannot write " + temporary);
        }
        written += static_cast<std::size_t>(n);
    }
    if (::fsync(fd) != 0) abandon("cannot flush " + temporary);
    if (::close(fd) != 0) {
        const int saved = errno;
        ::unlink(temporary.c_str());
        errno = saved;
        fail("cannot close " + temporary);
    }
    if (::rename(temporary.c_str(), path.c_str()) != 0) {
        const int saved = errno;
        ::unlink(temporary.c_str());
        errno = saved;
        fail("cannot replace " + path);
    }
}

}  // namespace pavo::common
