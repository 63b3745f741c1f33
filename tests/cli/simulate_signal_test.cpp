// chordwellctl simulate keeps copies of mapping files in a temporary folder;
// a run that is interrupted, or whose reader goes away, must not leave it.
#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>

#include <sys/wait.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

const char* const kRecord =
    R"({"id":"E621E1F8-C36C-495A-93FC-0C247A3E6E5F","productName":"Magic Keyboard",)"
    R"("productID":591,"vendorID":1452,"mappings":[{"id":"A621E1F8-C36C-495A-93FC-0C247A3E6E5F",)"
    R"("name":"Copy","inputKeyCodes":[224,4],"outputBehavior":{"kind":"copyOperation"}}]})";

TEST(SimulateSignals, TheTemporaryFolderIsRemovedWhenTheRunIsStopped) {
    const fs::path work =
        fs::temp_directory_path() / ("chordwellctl-signal-test-" + std::to_string(::getpid()));
    fs::remove_all(work);
    const fs::path tmp = work / "tmp";
    fs::create_directories(tmp);
    std::ofstream(work / "mappings.json") << kRecord;
    {
        // Far more output than a pipe holds, so the run is still writing
        // when it is stopped.
        std::ofstream script(work / "script");
        script << "keyboard kb vendor=0x05AC product=0x024F name=\"Magic Keyboard\"\nselect kb\n";
        for (int i = 0; i < 20000; ++i) {
            script << "down kb 0x05\nup kb 0x05\n";
        }
    }
    for (const int signal : {SIGTERM, SIGINT, SIGHUP, SIGPIPE}) {
        SCOPED_TRACE(strsignal(signal));
        int out[2];
        ASSERT_EQ(::pipe(out), 0);
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            ::dup2(out[1], STDOUT_FILENO);
            ::close(out[0]);
            ::close(out[1]);
            std::signal(SIGPIPE, SIG_DFL);
            std::signal(SIGINT, SIG_DFL);
            ::setenv("TMPDIR", tmp.c_str(), 1);
            const std::string mappings = (work / "mappings.json").string();
            const std::string script = (work / "script").string();
            ::execl(CHORDWELLCTL, "chordwellctl", "simulate", "--mappings", mappings.c_str(),
                    script.c_str(), static_cast<char*>(nullptr));
            ::_exit(127);
        }
        ::close(out[1]);
        // The first line of output means the run, and its folder, exist.
        char c = 0;
        while (::read(out[0], &c, 1) == 1 && c != '\n') {
        }
        ASSERT_EQ(c, '\n');
        ASSERT_FALSE(fs::is_empty(tmp));
        if (signal == SIGPIPE) {
            ::close(out[0]); // the reader goes away, like `| head -1`
        } else {
            ::kill(child, signal);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        if (signal != SIGPIPE) {
            ::close(out[0]);
        }
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal) << status;
        EXPECT_TRUE(fs::is_empty(tmp)) << fs::directory_iterator(tmp)->path();
        fs::remove_all(tmp);
        fs::create_directories(tmp);
    }
    fs::remove_all(work);
}

// kill -9 leaves the folder (nothing runs then); the next run removes it, as
// it removes every such folder whose process is gone, and nothing else.
TEST(SimulateSignals, AFolderLeftByAKilledRunGoesAtTheNextStart) {
    const fs::path work =
        fs::temp_directory_path() / ("chordwellctl-kill-test-" + std::to_string(::getpid()));
    fs::remove_all(work);
    const fs::path tmp = work / "tmp";
    fs::create_directories(tmp);
    std::ofstream(work / "mappings.json") << kRecord;
    std::ofstream(work / "script") << "wait 1\n";
    const auto run = [&](bool kill) {
        int out[2];
        int in[2];
        EXPECT_EQ(::pipe(out), 0);
        EXPECT_EQ(::pipe(in), 0);
        const pid_t child = ::fork();
        if (child == 0) {
            ::dup2(out[1], STDOUT_FILENO);
            ::dup2(in[0], STDIN_FILENO);
            for (const int fd : {out[0], out[1], in[0], in[1]}) {
                ::close(fd);
            }
            ::setenv("TMPDIR", tmp.c_str(), 1);
            const std::string mappings = (work / "mappings.json").string();
            // Killed: a script read from standard input, which stays open.
            const std::string script = kill ? "-" : (work / "script").string();
            ::execl(CHORDWELLCTL, "chordwellctl", "simulate", "--mappings", mappings.c_str(),
                    script.c_str(), static_cast<char*>(nullptr));
            ::_exit(127);
        }
        ::close(out[1]);
        ::close(in[0]);
        if (kill) {
            // Its first output line means the run, and its folder, exist.
            const std::string line = "keyboard kb name=\"K\"\nlist\n";
            EXPECT_EQ(::write(in[1], line.data(), line.size()), static_cast<ssize_t>(line.size()));
            char c = 0;
            while (::read(out[0], &c, 1) == 1 && c != '\n') {
            }
            EXPECT_EQ(c, '\n');
            ::kill(child, SIGKILL);
        }
        ::close(in[1]);
        int status = 0;
        ::waitpid(child, &status, 0);
        ::close(out[0]);
        return status;
    };
    // Someone else's look-alikes: a process that still runs, and a file.
    const fs::path alive = tmp / ("chordwell-simulate-" + std::to_string(::getpid()) + "-keep");
    fs::create_directories(alive);
    std::ofstream(tmp / "chordwell-simulate-1-file") << "keep";

    run(true);
    std::size_t left = 0;
    for (const auto& entry : fs::directory_iterator(tmp)) {
        left += entry.is_directory() && entry.path() != alive ? 1 : 0;
    }
    EXPECT_EQ(left, 1u) << "kill -9 leaves the run's folder";
    EXPECT_EQ(run(false), 0);
    std::set<fs::path> remaining;
    for (const auto& entry : fs::directory_iterator(tmp)) {
        remaining.insert(entry.path());
    }
    EXPECT_EQ(remaining, (std::set<fs::path>{alive, tmp / "chordwell-simulate-1-file"}));
    fs::remove_all(work);
}

} // namespace
