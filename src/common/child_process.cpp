#include "common/child_process.hpp"

#include <boost/asio/as_tuple.hpp>
#include <boost/asio/co_spawn.hpp>
#include <boost/asio/experimental/awaitable_operators.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/posix/stream_descriptor.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/this_coro.hpp>
#include <boost/asio/use_awaitable.hpp>
#include <boost/asio/use_future.hpp>
#include <boost/asio/write.hpp>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <utility>

#include "common/text.hpp"

extern char** environ;

namespace pavo::common {

namespace {

namespace asio = boost::asio;
using namespace asio::experimental::awaitable_operators;
using Descriptor = asio::posix::stream_descriptor;
constexpr auto kTuple = asio::as_tuple(asio::use_awaitable);

std::error_code lastError() {
    return {errno, std::system_category()};
}

void closeFd(int& fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
}

// The parent's ends of the child's pipes, and a pidfd that becomes readable when the child exits.
struct Spawned {
    pid_t pid = -1;
    int exitFd = -1;
    int input = -1;
    int output = -1;
    int error = -1;

    Spawned() = default;
    Spawned(const Spawned&) = delete;
    Spawned& operator=(const Spawned&) = delete;
    ~Spawned() {
        for (int* fd : {&exitFd, &input, &output, &error}) closeFd(*fd);
    }
};

struct Pipe {
    int read = -1;
    int write = -1;
};

bool makePipe(Pipe& pipe) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return false;
    pipe = {fds[0], fds[1]};
    return true;
}

int spawnWithPipes(const ChildCommand& command, pid_t& pid, const Pipe& in, const Pipe& out,
                   const Pipe& err) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (command.input) {
        posix_spawn_file_actions_adddup2(&actions, in.read, 0);
    } else {
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    }
    posix_spawn_file_actions_adddup2(&actions, out.write, 1);
    posix_spawn_file_actions_adddup2(&actions, err.write, 2);

    // A group of its own, so a time limit reaches whatever it starts; signals as a fresh program expects
    // them (this process ignores SIGPIPE, which the child must not inherit).
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes,
                             POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    posix_spawnattr_setpgroup(&attributes, 0);
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &all);

    std::vector<std::string> words{command.executable};
    words.insert(words.end(), command.arguments.begin(), command.arguments.end());
    std::vector<char*> argv;
    for (auto& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);

    const bool searchPath = command.executable.find('/') == std::string::npos;
    const int rc =
        searchPath
            ? ::posix_spawnp(&pid, command.executable.c_str(), &actions, &attributes, argv.data(), environ)
            : ::posix_spawn(&pid, command.executable.c_str(), &actions, &attributes, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    return rc;
}

std::error_code spawn(const ChildCommand& command, Spawned& spawned) {
    Pipe in, out, err;
    auto closeAll = [&] {
        for (int* fd : {&in.read, &in.write, &out.read, &out.write, &err.read, &err.write}) closeFd(*fd);
    };
    if ((command.input && !makePipe(in)) || !makePipe(out) || !makePipe(err)) {
        const auto error = lastError();
        closeAll();
        return error;
    }
    pid_t pid = -1;
    const int rc = spawnWithPipes(command, pid, in, out, err);
    closeFd(in.read);
    closeFd(out.write);
    closeFd(err.write);
    if (rc != 0) {
        closeAll();
        return {rc, std::system_category()};
    }
    const int exitFd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
    if (exitFd < 0) {
        const auto error = lastError();
        ::kill(-pid, SIGKILL);
        int status = 0;
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        closeAll();
        return error;
    }
    spawned.pid = pid;
    spawned.exitFd = exitFd;
    spawned.input = std::exchange(in.write, -1);
    spawned.output = std::exchange(out.read, -1);
    spawned.error = std::exchange(err.read, -1);
    return {};
}

// However the run ends (finished, thrown through, or its coroutine destroyed unfinished), the child's
// group is stopped and the child reaped exactly once.
class Reaper {
  public:
    explicit Reaper(pid_t pid) : pid_(pid) {}
    Reaper(const Reaper&) = delete;
    Reaper& operator=(const Reaper&) = delete;
    ~Reaper() {
        if (pid_ <= 0) return;
        ::kill(-pid_, SIGKILL);
        int status = 0;
        while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
        }
    }

    // Only once the child has exited: until it is reaped its pid, and so its group id, cannot be reused.
    void reap(ChildResult& result) {
        siginfo_t info{};
        while (::waitid(P_PID, pid_, &info, WEXITED) != 0 && errno == EINTR) {
        }
        if (info.si_code == CLD_EXITED) {
            result.exitStatus = info.si_status;
        } else {
            result.signal = info.si_status;
        }
        pid_ = -1;
    }

  private:
    pid_t pid_;
};

void ignoreBrokenPipes() {
    // Writing to a child that stopped reading must give EPIPE, not end this process.
    static const bool ignored = [] {
        struct sigaction current {};
        if (::sigaction(SIGPIPE, nullptr, &current) == 0 && current.sa_handler == SIG_DFL)
            ::signal(SIGPIPE, SIG_IGN);
        return true;
    }();
    (void)ignored;
}

asio::awaitable<void> feed(Descriptor* input, const std::optional<std::string>& bytes) {
    if (!input) co_return;
    if (bytes && !bytes->empty()) co_await asio::async_write(*input, asio::buffer(*bytes), kTuple);
    boost::system::error_code ignored;
    input->close(ignored);
}

asio::awaitable<void> drain(Descriptor& from, std::string& into) {
    std::array<char, 65536> chunk;
    while (true) {
        auto [error, n] = co_await from.async_read_some(asio::buffer(chunk), kTuple);
        into.append(chunk.data(), n);
        if (error) co_return;
    }
}

asio::awaitable<void> awaitExit(Descriptor& exitFd) {
    co_await exitFd.async_wait(Descriptor::wait_read, kTuple);
}

asio::awaitable<void> sleepFor(std::chrono::milliseconds duration) {
    asio::steady_timer timer(co_await asio::this_coro::executor, duration);
    co_await timer.async_wait(kTuple);
}

struct Streams {
    Descriptor exit;
    Descriptor output;
    Descriptor error;
    std::optional<Descriptor> input;
};

// Done when the child has exited and both of its outputs have reached end of file.
asio::awaitable<void> runToEnd(Streams& streams, const ChildCommand& command, ChildResult& result) {
    co_await (feed(streams.input ? &*streams.input : nullptr, command.input) &&
              drain(streams.output, result.standardOutput) && drain(streams.error, result.standardError) &&
              awaitExit(streams.exit));
}

asio::awaitable<void> stopGroup(pid_t group, Descriptor& exitFd) {
    ::kill(-group, SIGTERM);
    co_await (awaitExit(exitFd) || sleepFor(kTerminationGrace));
    // Whatever in the group outlived the grace ends now, the leader and anything ignoring SIGTERM alike.
    ::kill(-group, SIGKILL);
    co_await awaitExit(exitFd);
}

Descriptor adopt(const asio::any_io_executor& executor, int& fd) {
    Descriptor descriptor(executor);
    descriptor.assign(fd);
    fd = -1;
    return descriptor;
}

}  // namespace

asio::awaitable<ChildResult> runChild(ChildCommand command) {
    ignoreBrokenPipes();
    ChildResult result;
    Spawned spawned;
    if (const auto error = spawn(command, spawned)) {
        result.startError = error;
        co_return result;
    }
    Reaper reaper(spawned.pid);
    const auto executor = co_await asio::this_coro::executor;
    Streams streams{adopt(executor, spawned.exitFd), adopt(executor, spawned.output),
                    adopt(executor, spawned.error), std::nullopt};
    if (spawned.input >= 0) streams.input.emplace(adopt(executor, spawned.input));

    if (!command.timeLimit) {
        co_await runToEnd(streams, command, result);
    } else if ((co_await (runToEnd(streams, command, result) || sleepFor(*command.timeLimit))).index() == 1) {
        result.timedOut = true;
        co_await stopGroup(spawned.pid, streams.exit);
    }
    // A caller that gave up on the run gets no result; the reaper kills the group on the way out.
    if ((co_await asio::this_coro::cancellation_state).cancelled() != asio::cancellation_type::none) {
        throw boost::system::system_error(asio::error::operation_aborted);
    }
    reaper.reap(result);
    co_return result;
}

ChildResult runChildSync(ChildCommand command) {
    asio::io_context io(1);
    auto result = asio::co_spawn(io, runChild(std::move(command)), asio::use_future);
    io.run();
    return result.get();
}

std::string describeEnding(const ChildResult& result) {
    if (!result.started()) return "could not be started: " + result.startError.message();
    if (result.timedOut) return "did not finish within its time limit";
    if (result.signal) return "was ended by signal " + std::to_string(*result.signal);
    return "returned " + std::to_string(result.exitStatus.value_or(-1));
}

std::string utf8OrEmpty(std::string bytes) {
    return isValidUtf8(bytes) ? std::move(bytes) : std::string();
}

}  // namespace pavo::common
