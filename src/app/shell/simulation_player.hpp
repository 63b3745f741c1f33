// Plays a script of the simulated world in real time: every command runs on
// the event loop, "wait" really waits, and the events that reach the
// focused application are printed as `chordwellctl simulate` prints them.
#pragma once

#include <QObject>

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class QTimer;

namespace chordwell {
class RawKeyboardListener;
namespace platform::sim {
class SimWorld;
} // namespace platform::sim
namespace script {
class ScriptRunner;
struct ScriptCommand;
struct ScriptError;
} // namespace script
} // namespace chordwell

namespace chordwell::app {

class SimulationPlayer : public QObject {
    Q_OBJECT

public:
    using OutputLine = std::function<void(const std::string&)>;

    SimulationPlayer(platform::sim::SimWorld& world, RawKeyboardListener& engine,
                     std::vector<script::ScriptCommand> commands, OutputLine output,
                     QObject* parent = nullptr);
    ~SimulationPlayer() override;

    /// Starts with the first command at the next turn of the event loop.
    void start();
    bool isFinished() const { return finished_; }
    /// The error that stopped the script, if any.
    const std::optional<std::string>& error() const { return error_; }
    std::size_t nextCommand() const { return next_; }

Q_SIGNALS:
    /// The last command ran, or a command failed (`error()` says which).
    void finished();

private:
    void step();

    platform::sim::SimWorld& world_;
    RawKeyboardListener& engine_;
    std::vector<script::ScriptCommand> commands_;
    std::unique_ptr<script::ScriptRunner> runner_;
    QTimer* timer_ = nullptr;
    std::size_t next_ = 0;
    bool finished_ = false;
    std::optional<std::string> error_;
};

} // namespace chordwell::app
