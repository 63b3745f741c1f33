#include "app/settings/observable_preferences.hpp"

namespace chordwell::app {

ObservablePreferences::ObservablePreferences(std::shared_ptr<platform::Preferences> store,
                                             QObject* parent)
    : QObject(parent), store_(std::move(store)) {}

std::optional<platform::PreferenceValue> ObservablePreferences::value(std::string_view key) const {
    return store_->value(key);
}

void ObservablePreferences::setValue(std::string_view key, const platform::PreferenceValue& value) {
    store_->setValue(key, value);
    Q_EMIT changed(QString::fromUtf8(key.data(), static_cast<qsizetype>(key.size())));
}

} // namespace chordwell::app
