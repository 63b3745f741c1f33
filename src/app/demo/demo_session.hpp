// The scratch world of `chordwell --demo`: a throw-away folder that stands in
// for the user's data and preferences, seeded with the demo's sample
// mappings, so that trying the demo never touches real mappings, settings or
// logs.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace chordwell::app {

/// Where the demo's script and sample mapping files are installed (the
/// "demo" folder beside the other resources), if it can be found.
std::optional<std::filesystem::path> demoResourcesFolder();

class DemoSession {
public:
    /// Makes the scratch folder and copies the sample mappings into its
    /// Mappings folder. Nothing (with `error`) when it cannot.
    static std::optional<DemoSession> create(const std::filesystem::path& resources,
                                             std::string& error);

    DemoSession(DemoSession&& other) noexcept;
    DemoSession& operator=(DemoSession&&) = delete;
    DemoSession(const DemoSession&) = delete;
    DemoSession& operator=(const DemoSession&) = delete;
    /// Removes the scratch folder unless it is kept.
    ~DemoSession();

    /// Stands in for the application-support folder (Mappings/, Logs/).
    const std::filesystem::path& folder() const { return folder_; }
    std::filesystem::path preferencesFile() const { return folder_ / "preferences.ini"; }
    std::filesystem::path script() const { return resources_ / "demo.script"; }
    void keep(bool on) { keep_ = on; }

private:
    DemoSession(std::filesystem::path folder, std::filesystem::path resources)
        : folder_(std::move(folder)), resources_(std::move(resources)) {}

    std::filesystem::path folder_;
    std::filesystem::path resources_;
    bool keep_ = false;
};

} // namespace chordwell::app
