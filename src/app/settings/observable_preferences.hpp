// The preference store of the application with a signal for every write,
// so that a window showing preferences follows changes made elsewhere (the
// delete dialog's "Do not ask again" while the settings window is open).
#pragma once

#include "ports/ports.hpp"

#include <QObject>
#include <QString>

#include <memory>

namespace chordwell::app {

class ObservablePreferences : public QObject, public platform::Preferences {
    Q_OBJECT

public:
    explicit ObservablePreferences(std::shared_ptr<platform::Preferences> store,
                                   QObject* parent = nullptr);

    std::optional<platform::PreferenceValue> value(std::string_view key) const override;
    /// Writes through, then announces the key.
    void setValue(std::string_view key, const platform::PreferenceValue& value) override;

    platform::Preferences& store() const { return *store_; }

Q_SIGNALS:
    void changed(const QString& key);

private:
    std::shared_ptr<platform::Preferences> store_;
};

} // namespace chordwell::app
