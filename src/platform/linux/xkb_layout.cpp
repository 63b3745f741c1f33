#include "platform/linux/xkb_layout.hpp"

#include "fileio/file_io.hpp"
#include "logging/log.hpp"
#include "platform/linux/key_tables.hpp"

#include <systemd/sd-bus.h>
#include <xcb/xcb.h>
// xcb's XKB header names a field `explicit`, a C++ keyword: renamed while it
// is read (no code here touches that field).
#if defined(__clang__)
#pragma clang diagnostic push
#pragma clang diagnostic ignored "-Wkeyword-macro"
#endif
#define explicit explicit_
#include <xcb/xkb.h>
#undef explicit
#if defined(__clang__)
#pragma clang diagnostic pop
#endif
#include <xkbcommon/xkbcommon-x11.h>
#include <xkbcommon/xkbcommon.h>

#include <cstdlib>
#include <vector>

namespace chordwell::platform::lnx {

namespace {

constexpr const char* kCategory = "keyboard";

struct ContextFree {
    void operator()(xkb_context* context) const { xkb_context_unref(context); }
};
struct KeymapFree {
    void operator()(xkb_keymap* keymap) const { xkb_keymap_unref(keymap); }
};
struct StateFree {
    void operator()(xkb_state* state) const { xkb_state_unref(state); }
};
using Context = std::unique_ptr<xkb_context, ContextFree>;
using Keymap = std::unique_ptr<xkb_keymap, KeymapFree>;
using State = std::unique_ptr<xkb_state, StateFree>;

// A context that reads no XKB_DEFAULT_* itself (the callers decide which
// names count) and keeps its complaints about unknown layouts to itself:
// the caller logs what went wrong once, in its own words.
Context makeContext() {
    Context context(xkb_context_new(XKB_CONTEXT_NO_ENVIRONMENT_NAMES));
    if (context) {
        xkb_context_set_log_level(context.get(), XKB_LOG_LEVEL_CRITICAL);
    }
    return context;
}

// What a keysym types: its character; a dead key's accent, marked dead;
// 0 for keysyms that type nothing printable (modifiers, controls).
char32_t characterOfKeysym(xkb_keysym_t keysym) {
    char32_t dead = 0;
    switch (keysym) {
    case XKB_KEY_dead_grave:
        dead = U'`';
        break;
    case XKB_KEY_dead_acute:
        dead = 0xB4;
        break;
    case XKB_KEY_dead_circumflex:
        dead = U'^';
        break;
    case XKB_KEY_dead_tilde:
        dead = U'~';
        break;
    case XKB_KEY_dead_diaeresis:
        dead = 0xA8;
        break;
    case XKB_KEY_dead_abovering:
        dead = 0x2DA;
        break;
    case XKB_KEY_dead_cedilla:
        dead = 0xB8;
        break;
    case XKB_KEY_dead_macron:
        dead = 0xAF;
        break;
    case XKB_KEY_dead_caron:
        dead = 0x2C7;
        break;
    case XKB_KEY_dead_breve:
        dead = 0x2D8;
        break;
    case XKB_KEY_dead_ogonek:
        dead = 0x2DB;
        break;
    case XKB_KEY_dead_doubleacute:
        dead = 0x2DD;
        break;
    case XKB_KEY_dead_abovedot:
        dead = 0x2D9;
        break;
    default:
        break;
    }
    if (dead != 0) {
        return KeyLayout::kDeadKey | dead;
    }
    const std::uint32_t c = xkb_keysym_to_utf32(keysym);
    if (c < 0x20 || c == 0x7F) {
        return 0;
    }
    return c;
}

// The table of a keymap: every group, the active one first, read plain and
// with Shift. XKB numbers the keys as evdev does, plus 8. Control and Super
// choose no other level on XKB layouts, so the Command columns are the plain
// ones.
KeyLayout tableOf(xkb_keymap* keymap, std::string name, xkb_layout_index_t active) {
    KeyLayout layout(std::move(name));
    const xkb_layout_index_t count = xkb_keymap_num_layouts(keymap);
    State state(xkb_state_new(keymap));
    if (count == 0 || !state) {
        return layout;
    }
    if (active >= count) {
        active = 0;
    }
    std::vector<xkb_layout_index_t> order{active};
    for (xkb_layout_index_t g = 0; g < count; ++g) {
        if (g != active) {
            order.push_back(g);
        }
    }
    const xkb_mod_index_t shiftIndex = xkb_keymap_mod_get_index(keymap, XKB_MOD_NAME_SHIFT);
    const xkb_mod_mask_t shift = shiftIndex == XKB_MOD_INVALID ? 0 : (1u << shiftIndex);
    for (const xkb_layout_index_t g : order) {
        const auto group = layout.addGroup();
        if (!group) {
            break;
        }
        for (std::int64_t code = 0; code < static_cast<std::int64_t>(KeyLayout::kKeyCodeCount);
             ++code) {
            if (!isCharacterKeyCode(code)) {
                continue;
            }
            const auto evdev = evdevCodeForTapKeyCode(code);
            if (!evdev) {
                continue;
            }
            const xkb_keycode_t key = static_cast<xkb_keycode_t>(*evdev) + 8u;
            xkb_state_update_mask(state.get(), 0, 0, 0, 0, 0, g);
            const char32_t plain = characterOfKeysym(xkb_state_key_get_one_sym(state.get(), key));
            xkb_state_update_mask(state.get(), shift, 0, 0, 0, 0, g);
            const char32_t shifted = characterOfKeysym(xkb_state_key_get_one_sym(state.get(), key));
            layout.setKey(*group, code, plain, shifted);
        }
    }
    return layout;
}

std::string trimmed(std::string_view text) {
    const auto begin = text.find_first_not_of(" \t\r");
    if (begin == std::string_view::npos) {
        return {};
    }
    const auto end = text.find_last_not_of(" \t\r");
    return std::string(text.substr(begin, end - begin + 1));
}

std::string environment(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? std::string(value) : std::string();
}

// systemd-localed's X11 settings, as `localectl status` shows them. The
// service may have to be started first: the wait is bounded.
std::optional<XkbNames> localedNames() {
    sd_bus* bus = nullptr;
    if (sd_bus_open_system(&bus) < 0) {
        return std::nullopt;
    }
    std::unique_ptr<sd_bus, sd_bus* (*)(sd_bus*)> owner(bus, sd_bus_flush_close_unref);
    constexpr std::uint64_t kTimeoutMicroseconds = 1'000'000;
    sd_bus_set_method_call_timeout(bus, kTimeoutMicroseconds);
    auto property = [bus](const char* name, bool& ok) {
        sd_bus_error error{}; // SD_BUS_ERROR_NULL, without its C compound literal
        char* value = nullptr;
        const int rc =
            sd_bus_get_property_string(bus, "org.freedesktop.locale1", "/org/freedesktop/locale1",
                                       "org.freedesktop.locale1", name, &error, &value);
        sd_bus_error_free(&error);
        ok = rc >= 0;
        std::string text = value != nullptr ? std::string(value) : std::string();
        std::free(value);
        return text;
    };
    bool ok = false;
    XkbNames names;
    names.layout = property("X11Layout", ok);
    if (!ok || names.layout.empty()) {
        return std::nullopt;
    }
    names.model = property("X11Model", ok);
    names.variant = property("X11Variant", ok);
    names.options = property("X11Options", ok);
    return names;
}

std::string displayName(const XkbNames& names) {
    return names.variant.empty() ? names.layout : names.layout + "(" + names.variant + ")";
}

} // namespace

XkbNames parseDefaultKeyboardFile(std::string_view text) {
    XkbNames names;
    while (!text.empty()) {
        const auto end = text.find('\n');
        std::string line = trimmed(text.substr(0, end));
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        if (line.rfind("export ", 0) == 0) {
            line = trimmed(std::string_view(line).substr(7));
        }
        const auto eq = line.find('=');
        if (line.empty() || line[0] == '#' || eq == std::string::npos) {
            continue;
        }
        const std::string key = line.substr(0, eq);
        std::string_view rest = std::string_view(line).substr(eq + 1);
        std::string value;
        if (!rest.empty() && (rest[0] == '"' || rest[0] == '\'')) {
            const char quote = rest[0];
            const auto close = rest.find(quote, 1);
            value = std::string(rest.substr(
                1, close == std::string_view::npos ? std::string_view::npos : close - 1));
        } else {
            value = std::string(rest.substr(0, rest.find_first_of(" \t#")));
        }
        if (key == "XKBMODEL") {
            names.model = value;
        } else if (key == "XKBLAYOUT") {
            names.layout = value;
        } else if (key == "XKBVARIANT") {
            names.variant = value;
        } else if (key == "XKBOPTIONS") {
            names.options = value;
        } else if (key == "XKBRULES") {
            names.rules = value;
        }
    }
    return names;
}

std::optional<ConfiguredLayout> configuredLayout(const std::filesystem::path& keyboardFile,
                                                 bool askLocaled) {
    if (!environment("XKB_DEFAULT_LAYOUT").empty()) {
        XkbNames names;
        names.rules = environment("XKB_DEFAULT_RULES");
        names.model = environment("XKB_DEFAULT_MODEL");
        names.layout = environment("XKB_DEFAULT_LAYOUT");
        names.variant = environment("XKB_DEFAULT_VARIANT");
        names.options = environment("XKB_DEFAULT_OPTIONS");
        return ConfiguredLayout{std::move(names), "XKB_DEFAULT_LAYOUT"};
    }
    constexpr std::uintmax_t kMaxFileBytes = 64 * 1024;
    std::error_code error;
    if (auto text = fileio::readRegularFile(keyboardFile, kMaxFileBytes, error)) {
        XkbNames names = parseDefaultKeyboardFile(*text);
        if (!names.layout.empty()) {
            return ConfiguredLayout{std::move(names), keyboardFile.string()};
        }
    }
    if (askLocaled) {
        if (auto names = localedNames()) {
            return ConfiguredLayout{std::move(*names), "systemd-localed"};
        }
    }
    return std::nullopt;
}

std::shared_ptr<const KeyLayout> keyLayoutFromNames(const XkbNames& names, std::string& error) {
    Context context = makeContext();
    if (!context) {
        error = "cannot create an XKB context";
        return nullptr;
    }
    auto field = [](const std::string& text) {
        return text.empty() ? nullptr : text.c_str();
    };
    const xkb_rule_names rule{field(names.rules), field(names.model), field(names.layout),
                              field(names.variant), field(names.options)};
    Keymap keymap(xkb_keymap_new_from_names(context.get(), &rule, XKB_KEYMAP_COMPILE_NO_FLAGS));
    if (!keymap) {
        error = "XKB cannot compile the layout \"" + displayName(names) + "\"";
        return nullptr;
    }
    return std::make_shared<const KeyLayout>(
        tableOf(keymap.get(), names.layout.empty() ? std::string("us") : displayName(names), 0));
}

// ------------------------------------------------------------ X server

// The X server's keymap of its core keyboard, and the events that say it
// changed. Reads happen on the main thread, when the connection's
// descriptor is readable.
class XServerKeymap {
public:
    static std::unique_ptr<XServerKeymap> connect(std::string& error) {
        if (environment("DISPLAY").empty()) {
            error = "DISPLAY is not set";
            return nullptr;
        }
        std::unique_ptr<XServerKeymap> server(new XServerKeymap);
        server->connection_ = xcb_connect(nullptr, nullptr);
        if (xcb_connection_has_error(server->connection_) != 0) {
            error = "cannot connect to the X server";
            return nullptr;
        }
        if (xkb_x11_setup_xkb_extension(server->connection_, XKB_X11_MIN_MAJOR_XKB_VERSION,
                                        XKB_X11_MIN_MINOR_XKB_VERSION,
                                        XKB_X11_SETUP_XKB_EXTENSION_NO_FLAGS, nullptr, nullptr,
                                        &server->eventBase_, nullptr) == 0) {
            error = "the X server has no XKB extension";
            return nullptr;
        }
        server->device_ = xkb_x11_get_core_keyboard_device_id(server->connection_);
        server->context_ = makeContext();
        if (server->device_ < 0 || !server->context_) {
            error = "the X server names no core keyboard";
            return nullptr;
        }
        if (!server->selectEvents() || !server->readKeymap()) {
            error = "cannot read the X server's keymap";
            return nullptr;
        }
        return server;
    }

    ~XServerKeymap() {
        if (watcher_ && watch_ != 0) {
            watcher_->unwatch(watch_);
        }
        if (connection_ != nullptr) {
            xcb_disconnect(connection_);
        }
    }

    void watch(std::shared_ptr<FdWatcher> watcher, std::function<void()> onEvents) {
        watcher_ = std::move(watcher);
        if (watcher_) {
            watch_ =
                watcher_->watchReadable(xcb_get_file_descriptor(connection_), std::move(onEvents));
        }
    }

    std::shared_ptr<const KeyLayout> table() const {
        const char* name = xkb_keymap_layout_get_name(keymap_.get(), group_);
        return std::make_shared<const KeyLayout>(
            tableOf(keymap_.get(), name != nullptr ? name : "X server keymap", group_));
    }

    /// Handles what the server sent; true when the keymap or the active
    /// group changed.
    bool handleEvents() {
        bool reread = false;
        std::optional<xkb_layout_index_t> group;
        while (xcb_generic_event_t* event = xcb_poll_for_event(connection_)) {
            if ((event->response_type & 0x7F) == eventBase_) {
                // Every XKB event starts like this one: type, XKB type,
                // sequence, time, device.
                const auto* any = reinterpret_cast<const xcb_xkb_map_notify_event_t*>(event);
                if (any->deviceID == device_) {
                    switch (any->xkbType) {
                    case XCB_XKB_NEW_KEYBOARD_NOTIFY:
                    case XCB_XKB_MAP_NOTIFY:
                        reread = true;
                        break;
                    case XCB_XKB_STATE_NOTIFY:
                        group = reinterpret_cast<const xcb_xkb_state_notify_event_t*>(event)->group;
                        break;
                    default:
                        break;
                    }
                }
            }
            std::free(event);
        }
        if (xcb_connection_has_error(connection_) != 0) {
            if (watcher_ && watch_ != 0) {
                watcher_->unwatch(watch_);
                watch_ = 0;
                log(LogLevel::warning,
                    "Lost the X server; the keyboard layout is no longer followed.", kCategory);
            }
            return false;
        }
        const xkb_layout_index_t before = group_;
        if (reread && !readKeymap()) {
            return false;
        }
        if (group) {
            group_ = *group;
        }
        return reread || group_ != before;
    }

private:
    XServerKeymap() = default;

    bool selectEvents() {
        // Group changes only: the modifiers change with every Shift pressed.
        constexpr std::uint16_t kEvents = XCB_XKB_EVENT_TYPE_NEW_KEYBOARD_NOTIFY |
                                          XCB_XKB_EVENT_TYPE_MAP_NOTIFY |
                                          XCB_XKB_EVENT_TYPE_STATE_NOTIFY;
        constexpr std::uint16_t kMapParts =
            XCB_XKB_MAP_PART_KEY_TYPES | XCB_XKB_MAP_PART_KEY_SYMS | XCB_XKB_MAP_PART_MODIFIER_MAP |
            XCB_XKB_MAP_PART_EXPLICIT_COMPONENTS | XCB_XKB_MAP_PART_KEY_ACTIONS |
            XCB_XKB_MAP_PART_VIRTUAL_MODS | XCB_XKB_MAP_PART_VIRTUAL_MOD_MAP;
        constexpr std::uint16_t kGroupParts =
            XCB_XKB_STATE_PART_GROUP_STATE | XCB_XKB_STATE_PART_GROUP_BASE |
            XCB_XKB_STATE_PART_GROUP_LATCH | XCB_XKB_STATE_PART_GROUP_LOCK;
        xcb_xkb_select_events_details_t details{};
        details.affectNewKeyboard = XCB_XKB_NKN_DETAIL_KEYCODES;
        details.newKeyboardDetails = XCB_XKB_NKN_DETAIL_KEYCODES;
        details.affectState = kGroupParts;
        details.stateDetails = kGroupParts;
        const xcb_void_cookie_t cookie = xcb_xkb_select_events_aux_checked(
            connection_, static_cast<xcb_xkb_device_spec_t>(device_), kEvents, 0, 0, kMapParts,
            kMapParts, &details);
        xcb_generic_error_t* failure = xcb_request_check(connection_, cookie);
        const bool ok = failure == nullptr;
        std::free(failure);
        return ok;
    }

    bool readKeymap() {
        Keymap keymap(xkb_x11_keymap_new_from_device(context_.get(), connection_, device_,
                                                     XKB_KEYMAP_COMPILE_NO_FLAGS));
        if (!keymap) {
            return false;
        }
        State state(xkb_x11_state_new_from_device(keymap.get(), connection_, device_));
        group_ = state ? xkb_state_serialize_layout(state.get(), XKB_STATE_LAYOUT_EFFECTIVE) : 0;
        keymap_ = std::move(keymap);
        return true;
    }

    xcb_connection_t* connection_ = nullptr;
    std::int32_t device_ = -1;
    std::uint8_t eventBase_ = 0;
    Context context_;
    Keymap keymap_;
    xkb_layout_index_t group_ = 0;
    std::shared_ptr<FdWatcher> watcher_;
    FdWatcher::WatchId watch_ = 0;
};

// ------------------------------------------------------------- the port

XkbKeyboardLayout::~XkbKeyboardLayout() = default;

std::unique_ptr<XkbKeyboardLayout> XkbKeyboardLayout::create(std::shared_ptr<FdWatcher> watcher) {
    std::string error;
    if (auto server = XServerKeymap::connect(error)) {
        std::unique_ptr<XkbKeyboardLayout> layout(new XkbKeyboardLayout);
        layout->active_ = server->table();
        layout->source_ = "the X server";
        XkbKeyboardLayout* self = layout.get();
        XServerKeymap* keymap = server.get();
        server->watch(std::move(watcher), [self, keymap] {
            if (keymap->handleEvents()) {
                self->replace(keymap->table());
            }
        });
        layout->server_ = std::move(server);
        log(LogLevel::info,
            "Keyboard layout " + layout->active_->name() +
                ", read from the X server and followed as it changes.",
            kCategory);
        return layout;
    }
    log(LogLevel::debug, "Keyboard layout not read from an X server: " + error + ".", kCategory);
    return fromConfiguration();
}

std::unique_ptr<XkbKeyboardLayout>
XkbKeyboardLayout::fromConfiguration(const std::filesystem::path& keyboardFile, bool askLocaled) {
    std::unique_ptr<XkbKeyboardLayout> layout(new XkbKeyboardLayout);
    if (auto configured = configuredLayout(keyboardFile, askLocaled)) {
        std::string error;
        layout->active_ = keyLayoutFromNames(configured->names, error);
        if (layout->active_) {
            layout->source_ = configured->source;
            log(LogLevel::info,
                "Keyboard layout " + layout->active_->name() + ", as " + configured->source +
                    " sets it.",
                kCategory);
        } else {
            log(LogLevel::warning,
                error + " (set by " + configured->source + "); US keys are assumed.", kCategory);
        }
    } else {
        log(LogLevel::info,
            "No keyboard layout is configured (XKB_DEFAULT_LAYOUT, /etc/default/keyboard, "
            "localectl); US keys are assumed.",
            kCategory);
    }
    if (!layout->active_) {
        layout->active_ = std::make_shared<const KeyLayout>(usLayout());
    }
    return layout;
}

void XkbKeyboardLayout::replace(std::shared_ptr<const KeyLayout> next) {
    if (!next || *next == *active_) {
        return;
    }
    active_ = std::move(next);
    if (observer_) {
        observer_();
    }
}

} // namespace chordwell::platform::lnx
