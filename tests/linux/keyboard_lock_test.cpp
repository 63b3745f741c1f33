// The lock that keeps two Chordwell processes from grabbing one keyboard:
// held across processes, shared within one, dropped when its holder dies,
// and what the input context does when another process holds a keyboard.
#include "platform/linux/input_context.hpp"
#include "platform/linux/keyboard_lock.hpp"

#include "logging/log.hpp"
#include "platform/linux/poll_loop.hpp"
#include "platform/memory/memory_ports.hpp"
#include "support/test_support.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>

namespace chordwell::platform::lnx {
namespace {

// A child process that holds the lock `name` until told to let go.
class LockingChild {
public:
    explicit LockingChild(const std::string& name) {
        int ready[2];
        int release[2];
        if (::pipe(ready) != 0 || ::pipe(release) != 0) {
            return;
        }
        pid_ = ::fork();
        if (pid_ == 0) {
            ::close(ready[0]);
            ::close(release[1]);
            const auto claim = acquireKeyboardLock(name);
            const char answer = claim.lock ? 'y' : 'n';
            (void)!::write(ready[1], &answer, 1);
            char ignored = 0;
            (void)!::read(release[0], &ignored, 1); // until the parent writes or dies
            ::_exit(0);
        }
        ::close(ready[1]);
        ::close(release[0]);
        releaseFd_ = release[1];
        char answer = 0;
        locked_ = ::read(ready[0], &answer, 1) == 1 && answer == 'y';
        ::close(ready[0]);
    }
    ~LockingChild() { finish(); }
    void finish() {
        if (releaseFd_ >= 0) {
            ::close(releaseFd_);
            releaseFd_ = -1;
        }
        if (pid_ > 0) {
            ::waitpid(pid_, nullptr, 0);
            pid_ = -1;
        }
    }
    bool locked() const { return locked_; }
    pid_t pid() const { return pid_; }

private:
    pid_t pid_ = -1;
    int releaseFd_ = -1;
    bool locked_ = false;
};

class KeyboardLockTest : public ::testing::Test {
protected:
    void SetUp() override {
        const char* old = std::getenv("XDG_RUNTIME_DIR");
        saved_ = old ? std::optional<std::string>(old) : std::nullopt;
        ::setenv("XDG_RUNTIME_DIR", temp.path().c_str(), 1);
        logging::configure(std::make_shared<NullSystemLog>(), std::nullopt);
    }
    void TearDown() override {
        if (saved_) {
            ::setenv("XDG_RUNTIME_DIR", saved_->c_str(), 1);
        } else {
            ::unsetenv("XDG_RUNTIME_DIR");
        }
    }
    chordwell::testing::TempDir temp;
    std::optional<std::string> saved_;
};

TEST_F(KeyboardLockTest, OneProcessAtATimeSharedWithinAProcessFreedByExit) {
    {
        LockingChild child("event7");
        ASSERT_TRUE(child.locked());
        const auto refused = acquireKeyboardLock("event7");
        EXPECT_EQ(refused.lock, nullptr);
        ASSERT_TRUE(refused.heldBy.has_value());
        EXPECT_NE(refused.heldBy->find("process " + std::to_string(child.pid())), std::string::npos)
            << *refused.heldBy;
        // Another keyboard is free meanwhile.
        EXPECT_NE(acquireKeyboardLock("event8").lock, nullptr);
        child.finish(); // the kernel drops a dead holder's lock
    }
    auto first = acquireKeyboardLock("event7");
    ASSERT_NE(first.lock, nullptr);
    EXPECT_EQ(acquireKeyboardLock("event7").lock, first.lock); // shared in-process
    EXPECT_FALSE(LockingChild("event7").locked());
    auto copy = first.lock;
    first.lock.reset();
    EXPECT_FALSE(LockingChild("event7").locked()); // one reference still holds it
    copy.reset();
    EXPECT_TRUE(LockingChild("event7").locked());
}

TEST_F(KeyboardLockTest, NamesThatCouldEscapeTheFolderTakeNoLock) {
    for (const char* name : {"", "..", ".", "../event1", "a/b"}) {
        SCOPED_TRACE(name);
        const auto claim = acquireKeyboardLock(name);
        EXPECT_EQ(claim.lock, nullptr);
        EXPECT_FALSE(claim.heldBy.has_value());
    }
}

// Whatever stands where the lock file goes (left by a crash, another host,
// a mistake or a prank), taking the lock neither waits nor refuses: only a
// live holder keeps a keyboard. What is no regular file is moved aside,
// never followed and never deleted.
TEST_F(KeyboardLockTest, AnyLockFileLeftBehindIsTakenOverWithoutWaiting) {
    namespace fs = std::filesystem;
    const fs::path folder = temp.path() / "chordwell";
    const fs::path lock = folder / "keyboard-event5.lock";
    const fs::path outside = temp.path() / "outside.txt";
    struct Case {
        const char* what;
        std::function<void()> make;
        bool setAside;
    };
    const auto write = [&](const std::string& text) {
        std::ofstream(lock, std::ios::binary) << text;
    };
    const Case cases[] = {
        {"empty", [&] { write(""); }, false},
        {"garbage", [&] { write(std::string("\xff\x00\x1b[2J", 6) + std::string(4000, 'x')); },
         false},
        {"another host's", [&] { write("1\nchordwell\nelsewhere.example\n"); }, false},
        {"a process that is gone", [&] { write("2147483646\nchordwellctl\n"); }, false},
        {"a folder", [&] { fs::create_directory(lock); }, true},
        {"a folder with files",
         [&] {
             fs::create_directory(lock);
             std::ofstream(lock / "inside") << "kept";
         },
         true},
        {"a FIFO", [&] { ASSERT_EQ(::mkfifo(lock.c_str(), 0600), 0); }, true},
        {"a dangling link", [&] { fs::create_symlink(temp.path() / "nowhere", lock); }, true},
        {"a link to a file",
         [&] {
             std::ofstream(outside) << "not a lock";
             fs::create_symlink(outside, lock);
         },
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(folder);
        fs::create_directory(folder);
        c.make();
        {
            const auto claim = acquireKeyboardLock("event5");
            EXPECT_NE(claim.lock, nullptr);
            EXPECT_FALSE(claim.heldBy.has_value());
            EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(lock)));
        }
        EXPECT_EQ(fs::exists(fs::symlink_status(folder / "keyboard-event5.lock.unusable")),
                  c.setAside);
    }
    std::ifstream kept(outside);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(kept), {}), "not a lock");

    // A FIFO where another process takes the lock: this one learns who holds
    // it instead of waiting for ever on the FIFO.
    fs::remove_all(folder);
    fs::create_directory(folder);
    ASSERT_EQ(::mkfifo(lock.c_str(), 0600), 0);
    LockingChild child("event5");
    ASSERT_TRUE(child.locked());
    const auto refused = acquireKeyboardLock("event5");
    EXPECT_EQ(refused.lock, nullptr);
    ASSERT_TRUE(refused.heldBy.has_value());
    EXPECT_NE(refused.heldBy->find("process " + std::to_string(child.pid())), std::string::npos);
}

class LockedKeyboard : public GrabbableKeyboard {
public:
    EventPipeline::SourceId sourceId() const override { return 1; }
    bool anyKeyDown() const override { return false; }
    bool isKeyDown(std::uint16_t) const override { return false; }
    bool setGrabbed(bool grabbed) override {
        kernelGrabbed = grabbed;
        return true;
    }
    void setLed(std::uint16_t, std::int32_t) override {}
    std::string displayName() const override { return "Locked (/dev/input/event9)"; }
    std::string lockName() const override { return "event9"; }
    bool kernelGrabbed = false;
};

class NullSink : public KeySink {
public:
    bool writeKey(std::uint16_t, std::int32_t) override { return true; }
};

TapDecision passAll(void*, const KeyEvent&) {
    return TapDecision::pass;
}

TEST_F(KeyboardLockTest, AKeyboardHeldElsewhereIsNotGrabbedAndInterceptionEnds) {
    auto loop = std::make_shared<PollLoop>();
    NullSink sink;
    auto pipeline = std::make_shared<EventPipeline>(&sink);
    InputContext context(loop, pipeline);
    int noticeChanges = 0;
    int interceptionEnds = 0;
    context.setNoticesObserver([&] { ++noticeChanges; });
    context.setEmergencyExitHandler([&] { ++interceptionEnds; });
    LockedKeyboard keyboard;
    context.attach(keyboard);

    LockingChild child("event9");
    ASSERT_TRUE(child.locked());
    auto tap = std::make_unique<LinuxEventTap>(pipeline, &passAll, nullptr);
    tap->addToRunLoop();
    tap->enable(true);
    loop->runOnce(std::chrono::milliseconds(0));
    EXPECT_FALSE(keyboard.kernelGrabbed);
    EXPECT_FALSE(context.isGrabbed(keyboard));
    EXPECT_EQ(interceptionEnds, 1);
    ASSERT_EQ(context.notices().size(), 1u);
    EXPECT_NE(context.notices()[0].message.find("process " + std::to_string(child.pid())),
              std::string::npos)
        << context.notices()[0].message;
    EXPECT_EQ(noticeChanges, 1);

    // Once the other process lets go, the next interception grabs it and
    // the notice goes.
    child.finish();
    tap->enable(false);
    tap->enable(true);
    EXPECT_TRUE(keyboard.kernelGrabbed);
    EXPECT_TRUE(context.notices().empty());
    EXPECT_EQ(noticeChanges, 2);
    EXPECT_FALSE(LockingChild("event9").locked()); // held while grabbed
    tap->enable(false);
    EXPECT_TRUE(LockingChild("event9").locked()); // and released with the grab
    context.detach(keyboard);
}

} // namespace
} // namespace chordwell::platform::lnx
