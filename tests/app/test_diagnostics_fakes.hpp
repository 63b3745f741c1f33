// Fakes shared by the settings and diagnostics tests: a desktop that records
// what it was asked, a login item that can refuse, and a captured log.
#pragma once

#include "logging/log.hpp"
#include "platform/memory/memory_ports.hpp"
#include "ports/desktop.hpp"

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace chordwell::app::testing {

class RecordingDesktop : public platform::Desktop {
public:
    bool mailClientPresent = true;
    bool mailHandlerRegistered = true;
    std::vector<std::string> openedURLs;
    std::vector<std::filesystem::path> revealed;
    std::optional<std::string> clipboard;
    std::string localizedName = "Studio Mac";
    std::string host = "studio.local";
    std::string osVersion = "Version 14.4 (Build 23E214)";

    bool openURL(const std::string& url) override {
        openedURLs.push_back(url);
        return mailClientPresent || url.rfind("mailto:", 0) != 0;
    }
    bool revealFile(const std::filesystem::path& file) override {
        revealed.push_back(file);
        return true;
    }
    void setClipboardText(const std::string& text) override { clipboard = text; }
    bool hasHandlerForScheme(const std::string& scheme) const override {
        return scheme != "mailto" || mailHandlerRegistered;
    }
    std::string localizedHostName() const override { return localizedName; }
    std::string hostName() const override { return host; }
    std::string operatingSystemVersionString() const override { return osVersion; }
};

class FakeLoginItem : public platform::LoginItemService {
public:
    platform::LoginItemStatus current = platform::LoginItemStatus::notRegistered;
    bool refuse = false;
    std::string refusal = "Operation not permitted";
    int registerCalls = 0;
    int unregisterCalls = 0;

    platform::LoginItemStatus status() const override { return current; }
    bool registerApp(std::string& error) override {
        ++registerCalls;
        if (refuse) {
            error = refusal;
            return false;
        }
        current = platform::LoginItemStatus::enabled;
        return true;
    }
    bool unregisterApp(std::string& error) override {
        ++unregisterCalls;
        if (refuse) {
            error = refusal;
            return false;
        }
        current = platform::LoginItemStatus::notRegistered;
        return true;
    }
};

/// Sends the process's log lines to memory for the lifetime of the object.
class CapturedLog {
public:
    CapturedLog() : log_(std::make_shared<platform::CapturingSystemLog>()) {
        logging::configure(log_, std::nullopt);
    }
    ~CapturedLog() { logging::configure(nullptr, std::nullopt); }
    CapturedLog(const CapturedLog&) = delete;
    CapturedLog& operator=(const CapturedLog&) = delete;

    /// Lines of one category.
    std::vector<platform::CapturedLogEntry> inCategory(const std::string& category) const {
        std::vector<platform::CapturedLogEntry> lines;
        for (const auto& entry : log_->entries()) {
            if (entry.category == category) {
                lines.push_back(entry);
            }
        }
        return lines;
    }

private:
    std::shared_ptr<platform::CapturingSystemLog> log_;
};

} // namespace chordwell::app::testing
