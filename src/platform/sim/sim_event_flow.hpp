// The simulated world's event taps and poster, shared by the files that
// make up the world (private to this adapter).
#pragma once

#include "platform/sim/sim_world.hpp"

#include <algorithm>

namespace chordwell::platform::sim {

// --------------------------------------------------------------- event tap

class SimWorld::Tap : public EventTap {
public:
    Tap(SimWorld& world, Callback callback, void* userInfo)
        : world_(world), callback_(callback), userInfo_(userInfo) {
        // Head insertion: the newest tap sees events first (the list is kept
        // oldest first and walked from its end).
        world_.taps_.push_back(this);
    }
    ~Tap() override {
        auto it = std::find(world_.taps_.begin(), world_.taps_.end(), this);
        if (it != world_.taps_.end()) {
            *it = nullptr;
            world_.tapsNeedCompaction_ = true;
            world_.compactTaps();
        }
    }

    bool addToRunLoop() override {
        if (world_.runLoopSourceFails_) {
            return false;
        }
        inRunLoop_ = true;
        return true;
    }
    void removeFromRunLoop() override { inRunLoop_ = false; }
    void enable(bool enabled) override { enabled_ = enabled; }
    bool isEnabled() const override { return enabled_; }

    bool active() const { return inRunLoop_ && enabled_; }
    TapDecision call(const KeyEvent& event) const { return callback_(userInfo_, event); }
    bool inRunLoop() const { return inRunLoop_; }

private:
    SimWorld& world_;
    Callback callback_;
    void* userInfo_;
    bool inRunLoop_ = false;
    bool enabled_ = false;
};

// ------------------------------------------------------------------ poster

class SimWorld::Poster : public EventPoster {
public:
    explicit Poster(SimWorld& world) : world_(world) {}
    bool postKeyEvent(std::int64_t keyCode, EventFlags flags, bool keyDown) override {
        return world_.post(keyCode, flags, keyDown);
    }

private:
    SimWorld& world_;
};

} // namespace chordwell::platform::sim
