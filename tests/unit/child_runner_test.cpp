// The child-process runner against stand-in programs: what reaches the child, what comes back, time
// limits that end a whole process group, and no child left unreaped after any run.

#include <gtest/gtest.h>

#include <boost/asio/experimental/awaitable_operators.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/use_awaitable.hpp>

#include <csignal>
#include <random>

#include "await.hpp"
#include "common/child_process.hpp"
#include "common/files.hpp"
#include "stand_in.hpp"

namespace pavo::common {
namespace {

using namespace std::chrono_literals;
using pavo::testing::TempDir;

class ChildRunner : public ::testing::Test {
  protected:
    TempDir dir;

    std::string standIn(const std::string& body) {
        return pavo::testing::writeStandIn(dir, "stand-in", body);
    }
    void TearDown() override { EXPECT_TRUE(pavo::testing::unreapedChildren().empty()); }
};

// How a run ended, then what it printed: "exit 3 [out][err]", "signal 10 [][]", "errno 2 [][]".
std::string summary(const ChildResult& r) {
    std::string ended = r.started() ? "" : "errno " + std::to_string(r.startError.value()) + " ";
    if (r.timedOut) ended += "timed out ";
    if (r.exitStatus) ended += "exit " + std::to_string(*r.exitStatus) + " ";
    if (r.signal) ended += "signal " + std::to_string(*r.signal) + " ";
    return ended + "[" + r.standardOutput + "][" + r.standardError + "]";
}

TEST_F(ChildRunner, PassesArgumentsAsTheyAreAndLooksBareNamesUpInPath) {
    // Input, output, exit statuses and signals reach the script routes' tests through this same runner, and
    // a program that cannot be started the install command's.
    const auto result = runChildSync({"sh",
                                      {"-c", R"(for a in "$@"; do printf '[%s]' "$a"; done)", "sh",
                                       "two words", "$HOME", "a;b", "'q'", ""},
                                      std::nullopt,
                                      20s});
    EXPECT_EQ(summary(result), "exit 0 [[two words][$HOME][a;b]['q'][]][]");
}

TEST_F(ChildRunner, ATimeLimitEndsTheWholeGroup) {
    // Each prints the pid of a grandchild it leaves running.
    const std::pair<std::string, std::string> rows[] = {
        {"sleep 30 & echo $!; wait", "timed out signal " + std::to_string(SIGTERM)},
        {"trap '' TERM; sleep 30 & echo $!; wait", "timed out signal " + std::to_string(SIGKILL)},
        {"sleep 30 & echo $!; exit 0", "timed out exit 0"}};  // the grandchild keeps the output open
    for (const auto& [body, ended] : rows) {
        ChildResult result = runChildSync({standIn(body), {}, std::nullopt, 300ms});
        const pid_t grandchild = std::atoi(std::exchange(result.standardOutput, "").c_str());
        EXPECT_EQ(summary(result), ended + " [][]") << body;
        EXPECT_TRUE(grandchild > 0 && pavo::testing::hasEnded(grandchild)) << body << grandchild;
    }
}

TEST_F(ChildRunner, MovesMegabytesBothWaysWithoutDeadlock) {
    std::string input(8 << 20, '\0');
    std::mt19937 random(42);
    for (auto& byte : input) byte = static_cast<char>(random());
    const std::tuple<std::string, std::size_t, std::string> rows[] = {
        {"head -c 3000000 /dev/zero >&2; cat", 3000000, input},         // errors written before input is read
        {"head -c 3000000 /dev/zero", 0, std::string(3000000, '\0')}};  // input never read
    for (const auto& [body, errorBytes, output] : rows) {
        const auto result = runChildSync({standIn(body), {}, input, 60s});
        EXPECT_EQ(result.exitStatus, 0) << body;
        EXPECT_EQ(result.standardError.size(), errorBytes) << body;
        EXPECT_TRUE(result.standardOutput == output) << body << ": " << result.standardOutput.size();
    }
}

TEST_F(ChildRunner, ACallerThatGivesUpLeavesNothingRunning) {
    using namespace boost::asio::experimental::awaitable_operators;
    const std::string slow = standIn(R"(sleep 30 & echo $! > "$1"; wait)");
    const std::string grandchildFile = dir.path() + "/grandchild";
    boost::asio::steady_timer later(pavo::testing::testContext(), 200ms);
    // The run that loses the race is cancelled, and the race ends only once the run has.
    const auto first = pavo::testing::await(runChild({slow, {grandchildFile}, std::nullopt, std::nullopt}) ||
                                            later.async_wait(boost::asio::use_awaitable));
    EXPECT_EQ(first.index(), 1u);
    const pid_t grandchild = std::atoi(common::readFile(grandchildFile).value_or("0").c_str());
    EXPECT_TRUE(grandchild > 0 && pavo::testing::hasEnded(grandchild)) << grandchild;
}

}  // namespace
}  // namespace pavo::common
