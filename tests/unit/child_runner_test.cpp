// The child-process runner against stand-in programs: what reaches the child, what comes back, time
// limits that end a whole process group, and no child left unreaped after any run.

#include <gtest/gtest.h>

#include <boost/asio/bind_cancellation_slot.hpp>
#include <boost/asio/cancellation_signal.hpp>
#include <boost/asio/co_spawn.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/steady_timer.hpp>

#include <csignal>
#include <random>

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
        return pavo::testing::writeStandIn(dir, "stand-in-" + std::to_string(++count_), body);
    }
    void TearDown() override { EXPECT_TRUE(pavo::testing::unreapedChildren().empty()); }

  private:
    int count_ = 0;
};

TEST_F(ChildRunner, ReportsWhatTheChildReceivedAndHowItEnded) {
    const std::string notExecutable = dir.write("plain-file", "echo never\n");
    struct Row {
        const char* name;
        std::string body;  // of the stand-in, unless another executable is named
        std::vector<std::string> arguments;
        std::optional<std::string> input;
        std::optional<int> exitStatus;
        std::optional<int> signal;
        std::string output;
        std::string error;
        std::string executable = "";
        int startError = 0;
    };
    const std::vector<Row> rows = {
        {"arguments as they are, no shell",
         R"(for a in "$@"; do printf '[%s]' "$a"; done)",
         {"two words", "$HOME", "a;b", "'q'", ""},
         {},
         0,
         {},
         "[two words][$HOME][a;b]['q'][]",
         ""},
        {"input is standard input", "cat", {}, "line 1\nline 2", 0, {}, "line 1\nline 2", ""},
        {"empty input still ends standard input", "cat; echo end", {}, "", 0, {}, "end\n", ""},
        {"no input reads end of file", "cat; echo end", {}, std::nullopt, 0, {}, "end\n", ""},
        {"status and error", "echo out; echo oops >&2; exit 3", {}, {}, 3, {}, "out\n", "oops\n"},
        {"ended by a signal", "kill -USR1 $$", {}, std::nullopt, {}, SIGUSR1, "", ""},
        {"a bare name is looked up in PATH", "", {"%s-%s", "a", "b"}, {}, 0, {}, "a-b", "", "printf"},
        {"a missing program", "", {}, {}, {}, {}, "", "", "/nonexistent/program", ENOENT},
        {"a name PATH does not have", "", {}, {}, {}, {}, "", "", "pavo-no-such-program", ENOENT},
        {"a file that is not executable", "", {}, {}, {}, {}, "", "", notExecutable, EACCES},
    };
    for (const auto& row : rows) {
        const std::string executable = row.executable.empty() ? standIn(row.body) : row.executable;
        // The limit only turns a child that waits for an end of input it never gets into a failure.
        const auto result = runChildSync({executable, row.arguments, row.input, 20s});
        EXPECT_EQ(result.startError.value(), row.startError) << row.name;
        EXPECT_FALSE(result.timedOut) << row.name;
        EXPECT_EQ(result.exitStatus, row.exitStatus) << row.name;
        EXPECT_EQ(result.signal, row.signal) << row.name;
        EXPECT_EQ(result.standardOutput, row.output) << row.name;
        EXPECT_EQ(result.standardError, row.error) << row.name;
    }
}

TEST_F(ChildRunner, ATimeLimitEndsTheWholeGroup) {
    struct Row {
        const char* name;
        std::string body;  // prints the pid of a grandchild it leaves running
        std::optional<int> exitStatus;
        std::optional<int> signal;
    };
    const std::vector<Row> rows = {
        {"a child that honours SIGTERM", "sleep 30 & echo $!; wait", {}, SIGTERM},
        {"a child and grandchild that ignore SIGTERM", "trap '' TERM; sleep 30 & echo $!; wait", {}, SIGKILL},
        {"a grandchild that keeps the output open after the child exits",
         "sleep 30 & echo $!; exit 0",
         0,
         {}},
    };
    for (const auto& row : rows) {
        const auto result = runChildSync({standIn(row.body), {}, std::nullopt, 300ms});
        EXPECT_TRUE(result.timedOut) << row.name;
        EXPECT_EQ(result.exitStatus, row.exitStatus) << row.name;
        EXPECT_EQ(result.signal, row.signal) << row.name;
        const pid_t grandchild = std::atoi(result.standardOutput.c_str());
        ASSERT_GT(grandchild, 0) << row.name << ": " << result.standardOutput;
        EXPECT_TRUE(pavo::testing::hasEnded(grandchild)) << row.name;
    }
}

TEST_F(ChildRunner, MovesMegabytesBothWaysWithoutDeadlock) {
    std::string input(8 << 20, '\0');
    std::mt19937 random(42);
    for (auto& byte : input) byte = static_cast<char>(random());
    struct Row {
        const char* name;
        std::string body;
        std::size_t errorBytes;
        std::string output;
    };
    const std::vector<Row> rows = {
        {"echoed back", "cat", 0, input},
        {"errors written before input is read", "head -c 3000000 /dev/zero >&2; cat", 3000000, input},
        {"input never read", "head -c 3000000 /dev/zero", 0, std::string(3000000, '\0')},
    };
    for (const auto& row : rows) {
        const auto result = runChildSync({standIn(row.body), {}, input, 60s});
        EXPECT_FALSE(result.timedOut) << row.name;
        EXPECT_EQ(result.exitStatus, 0) << row.name;
        EXPECT_EQ(result.standardError.size(), row.errorBytes) << row.name;
        EXPECT_TRUE(result.standardOutput == row.output) << row.name << ": " << result.standardOutput.size();
    }
}

TEST_F(ChildRunner, WaitingLeavesItsThreadFreeForOtherWork) {
    // Two children on one thread that each wait for the other to have started: they finish only if
    // waiting for the first never held the thread the second is started from.
    const std::string rendezvous =
        standIn(R"(touch "$1"; while [ ! -e "$2" ]; do sleep 0.01; done; echo met)");
    boost::asio::io_context io(1);
    std::vector<ChildResult> results;
    for (const auto& [mine, theirs] : {std::pair{"a", "b"}, std::pair{"b", "a"}}) {
        ChildCommand command{
            rendezvous, {dir.path() + "/" + mine, dir.path() + "/" + theirs}, std::nullopt, 20s};
        boost::asio::co_spawn(io, runChild(command),
                              [&](std::exception_ptr, ChildResult r) { results.push_back(std::move(r)); });
    }
    io.run();
    ASSERT_EQ(results.size(), 2u);
    for (const auto& result : results) {
        EXPECT_FALSE(result.timedOut);
        EXPECT_EQ(result.standardOutput, "met\n");
    }
}

TEST_F(ChildRunner, ACallerThatGivesUpLeavesNothingRunning) {
    const std::string slow = standIn(R"(sleep 30 & echo $! > "$1"; wait)");
    const std::string grandchildFile = dir.path() + "/grandchild";
    boost::asio::io_context io(1);
    boost::asio::cancellation_signal giveUp;
    std::exception_ptr outcome;
    bool done = false;
    boost::asio::co_spawn(
        io, runChild({slow, {grandchildFile}, std::nullopt, std::nullopt}),
        boost::asio::bind_cancellation_slot(giveUp.slot(), [&](std::exception_ptr e, ChildResult) {
            outcome = e;
            done = true;
        }));
    boost::asio::steady_timer later(io, 200ms);
    later.async_wait(
        [&](boost::system::error_code) { giveUp.emit(boost::asio::cancellation_type::terminal); });
    io.run();
    ASSERT_TRUE(done);
    EXPECT_TRUE(outcome);  // no result for a run nobody waits for
    const pid_t grandchild = std::atoi(common::readFile(grandchildFile).value_or("0").c_str());
    ASSERT_GT(grandchild, 0);
    EXPECT_TRUE(pavo::testing::hasEnded(grandchild));
}

TEST(Utf8OrEmpty, KeepsTextAndEmptiesAnythingUndecodable) {
    const std::vector<std::pair<std::string, std::string>> rows = {
        {"plain", "plain"}, {"Grüße ✓\n", "Grüße ✓\n"}, {"", ""}, {"ok\xFF", ""}, {"cut \xC3", ""},
    };
    for (const auto& [bytes, text] : rows) EXPECT_EQ(utf8OrEmpty(bytes), text) << bytes;
}

}  // namespace
}  // namespace pavo::common
