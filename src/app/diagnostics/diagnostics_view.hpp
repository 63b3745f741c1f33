// The "Diagnostics" section of the settings window: a short explanation, the
// support address, the three report buttons and a status line.
#pragma once

#include "app/diagnostics/diagnostics_model.hpp"

#include <QWidget>

class QLabel;
class QPushButton;

namespace chordwell::app {

class DiagnosticsView : public QWidget {
    Q_OBJECT

public:
    DiagnosticsView(platform::Desktop& desktop, DiagnosticsSources sources,
                    QWidget* parent = nullptr);
    DiagnosticsView(platform::Desktop& desktop, DiagnosticsSources sources,
                    DiagnosticsIdentity identity, QWidget* parent = nullptr);

    /// Replaces the save dialog (tests choose the path themselves).
    void setSavePathChooser(DiagnosticsModel::SavePathChooser chooser);

    DiagnosticsModel& model() { return model_; }

    /// Forgets the status line, as when the section is built afresh.
    void reset();

    QPushButton* saveButton() const { return saveButton_; }
    QPushButton* revealButton() const { return revealButton_; }
    QPushButton* emailButton() const { return emailButton_; }
    QLabel* statusLabel() const { return statusLabel_; }

private:
    void build();
    void refreshStatus();
    std::optional<std::filesystem::path> askForPath(const std::string& proposedName);

    DiagnosticsModel model_;
    DiagnosticsModel::SavePathChooser chooser_;
    QPushButton* saveButton_ = nullptr;
    QPushButton* revealButton_ = nullptr;
    QPushButton* emailButton_ = nullptr;
    QLabel* statusLabel_ = nullptr;
};

} // namespace chordwell::app
