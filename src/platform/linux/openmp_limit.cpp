#include "platform/linux/openmp_limit.hpp"

#include <unistd.h>

#include <cstdlib>
#include <cstring>

namespace pavo::platform::linux_recognition {

void limitOpenMPThreads(char** argv) {
    const char* limit = std::getenv("OMP_THREAD_LIMIT");
    if (limit && std::strcmp(limit, "1") == 0) return;
    if (setenv("OMP_THREAD_LIMIT", "1", 1) != 0) return;
    // The running program itself, even if its file has since been replaced.
    execv("/proc/self/exe", argv);
}

}  // namespace pavo::platform::linux_recognition
