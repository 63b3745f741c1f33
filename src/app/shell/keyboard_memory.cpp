#include "app/shell/keyboard_memory.hpp"

#include "engine/raw_keyboard_listener.hpp"
#include "logging/log.hpp"
#include "model/json_reader.hpp"
#include "ports/ports.hpp"
#include "storage/settings.hpp"

#include <nlohmann/json.hpp>

#include <variant>

namespace chordwell::app {

std::string encodeRememberedKeyboard(const RememberedKeyboard& remembered) {
    nlohmann::json record = {
        {"productName", remembered.keyboard.productName},
        {"vendorID", remembered.keyboard.vendorID},
        {"productID", remembered.keyboard.productID},
    };
    if (remembered.keyboard.locationID) {
        record["locationID"] = *remembered.keyboard.locationID;
    }
    record["intercepting"] = remembered.intercepting;
    // A name that is not UTF-8 (it comes from the device) is stored with
    // replacement characters rather than not at all.
    return record.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

std::optional<RememberedKeyboard> decodeRememberedKeyboard(std::string_view text) {
    auto parsed = parseJson(text);
    if (!parsed) {
        return std::nullopt;
    }
    using namespace json_read;
    const Json& value = parsed.value().value;
    std::string error;
    RememberedKeyboard remembered;
    if (!requireObject(value, "", error)) {
        return std::nullopt;
    }
    const Json* name = requireMember(value, "productName", "", error);
    const Json* vendor = requireMember(value, "vendorID", "", error);
    const Json* product = requireMember(value, "productID", "", error);
    if (name == nullptr || vendor == nullptr || product == nullptr ||
        !readString(*name, "productName", remembered.keyboard.productName, error) ||
        !readInt64(*vendor, "vendorID", remembered.keyboard.vendorID, error) ||
        !readInt64(*product, "productID", remembered.keyboard.productID, error)) {
        return std::nullopt;
    }
    if (const Json* location = optionalMember(value, "locationID")) {
        std::int64_t id = 0;
        if (!readInt64(*location, "locationID", id, error)) {
            return std::nullopt;
        }
        remembered.keyboard.locationID = id;
    }
    if (const Json* intercepting = optionalMember(value, "intercepting")) {
        if (!intercepting->is_boolean()) {
            return std::nullopt;
        }
        remembered.intercepting = intercepting->get<bool>();
    }
    return remembered;
}

KeyboardMemory::KeyboardMemory(RawKeyboardListener& engine, platform::Preferences& preferences)
    : engine_(engine), preferences_(preferences) {
    // Announced before the change takes effect: written once it has, and
    // once for all the changes of a turn.
    subscription_ = engine_.subscribeChanges(
        [this](const EngineChanges&) {
            if (rememberQueued_) {
                return;
            }
            rememberQueued_ = true;
            std::weak_ptr<bool> alive = alive_;
            engine_.platform().scheduler().postToMain([this, alive] {
                if (!alive.expired()) {
                    rememberQueued_ = false;
                    remember();
                }
            });
        },
        EngineChange::selection | EngineChange::interception);
}

std::optional<RememberedKeyboard> KeyboardMemory::remembered() const {
    const auto value = preferences_.value(settings::kLastKeyboard);
    const std::string* text = value ? std::get_if<std::string>(&*value) : nullptr;
    if (text == nullptr) {
        return std::nullopt;
    }
    return decodeRememberedKeyboard(*text);
}

void KeyboardMemory::remember() {
    const std::optional<RememberedKeyboard> stored = remembered();
    RememberedKeyboard now;
    if (auto identity = engine_.selectedKeyboardIdentity()) {
        now.keyboard = std::move(*identity);
        now.intercepting = engine_.isIntercepting();
        // A keyboard that is away has lost its place on the way; the one
        // remembered for it still knows it.
        if (!now.keyboard.locationID && stored &&
            stored->keyboard.vendorID == now.keyboard.vendorID &&
            stored->keyboard.productID == now.keyboard.productID &&
            stored->keyboard.productName == now.keyboard.productName) {
            now.keyboard.locationID = stored->keyboard.locationID;
        }
    } else if (stored) {
        // Nothing selected (the keyboard went while its mappings were off):
        // the keyboard the user chose is still the one to come back to.
        now = *stored;
        now.intercepting = false;
    } else {
        return;
    }
    if (stored != now) {
        preferences_.setValue(settings::kLastKeyboard, encodeRememberedKeyboard(now));
    }
}

bool KeyboardMemory::restoreAtLaunch() {
    if (!settings::resumeMappingsAtLaunch(preferences_)) {
        return false;
    }
    const std::optional<RememberedKeyboard> last = remembered();
    if (!last) {
        return false;
    }
    log(LogLevel::info,
        "Resuming at launch: " + last->keyboard.productName +
            (last->intercepting ? ", with its mappings on." : ", mappings off."),
        "ui");
    engine_.followKeyboard(last->keyboard, last->intercepting);
    return true;
}

} // namespace chordwell::app
