#include "app/shell/simulation_player.hpp"

#include "script/script.hpp"

#include <QTimer>

#include <algorithm>
#include <limits>

namespace chordwell::app {

SimulationPlayer::SimulationPlayer(platform::sim::SimWorld& world, RawKeyboardListener& engine,
                                   std::vector<script::ScriptCommand> commands, OutputLine output,
                                   QObject* parent)
    : QObject(parent), world_(world), engine_(engine), commands_(std::move(commands)),
      runner_(std::make_unique<script::ScriptRunner>(
          world_, engine_, std::move(output),
          // Waiting is done here, on the event loop, never inside the runner.
          [](std::chrono::milliseconds) {})),
      timer_(new QTimer(this)) {
    timer_->setSingleShot(true);
    timer_->setTimerType(Qt::PreciseTimer);
    connect(timer_, &QTimer::timeout, this, [this] { step(); });
}

SimulationPlayer::~SimulationPlayer() = default;

void SimulationPlayer::start() {
    timer_->start(0);
}

void SimulationPlayer::step() {
    using Kind = script::ScriptCommand::Kind;
    if (finished_) {
        return;
    }
    if (next_ >= commands_.size()) {
        finished_ = true;
        Q_EMIT finished();
        return;
    }
    const script::ScriptCommand& command = commands_[next_++];
    if (command.kind == Kind::wait) {
        const auto ms =
            std::clamp<std::int64_t>(command.milliseconds, 0, std::numeric_limits<int>::max());
        timer_->start(static_cast<int>(ms));
        return;
    }
    if (const auto failure = runner_->execute(command)) {
        error_ = failure->text();
        finished_ = true;
        Q_EMIT finished();
        return;
    }
    // One command per turn of the event loop: what the command queued on the
    // main thread (a keyboard reaching the list, say) runs before the next.
    QMetaObject::invokeMethod(this, &SimulationPlayer::step, Qt::QueuedConnection);
}

} // namespace chordwell::app
