#include "model/json_codec.hpp"

#include "model/json_reader.hpp"
#include "model/record_stream_reader.hpp"

#include <algorithm>
#include <charconv>
#include <exception>
#include <limits>
#include <new>

namespace chordwell {

namespace {

using nlohmann::json;

using namespace json_read;

// The decoders below report the first fault into `error` and return false;
// they never leave a half-built value to the caller.

bool readUuid(const json& value, const std::string& path, Uuid& out, std::string& error) {
    if (!value.is_string()) {
        error = fault(path, "expected a string");
        return false;
    }
    auto uuid = Uuid::parse(value.get_ref<const std::string&>());
    if (!uuid) {
        error = fault(path, "not a UUID");
        return false;
    }
    out = *uuid;
    return true;
}

bool readUsage(const json& value, const std::string& path, HidUsage& out, std::string& error) {
    constexpr std::uint64_t kMax = std::numeric_limits<HidUsage>::max();
    if (value.is_number_unsigned()) {
        const auto u = value.get<std::uint64_t>();
        if (u > kMax) {
            error = fault(path, std::to_string(u) + " is outside 0-65535");
            return false;
        }
        out = static_cast<HidUsage>(u);
        return true;
    }
    if (value.is_number_integer()) {
        const auto i = value.get<std::int64_t>();
        if (i < 0 || static_cast<std::uint64_t>(i) > kMax) {
            error = fault(path, std::to_string(i) + " is outside 0-65535");
            return false;
        }
        out = static_cast<HidUsage>(i);
        return true;
    }
    error = fault(path, "expected an integer");
    return false;
}

bool readSignature(const json& value, const std::string& path, MacKeySignature& out,
                   std::string& error) {
    if (!requireObject(value, path, error)) {
        return false;
    }
    const json* keyCode = requireMember(value, "keyCode", path, error);
    if (!keyCode || !readInt64(*keyCode, childPath(path, "keyCode"), out.keyCode, error)) {
        return false;
    }
    const json* modifiers = requireMember(value, "modifiers", path, error);
    return modifiers && readUInt64(*modifiers, childPath(path, "modifiers"), out.modifiers, error);
}

bool readSignatures(const json& value, const std::string& path, std::vector<MacKeySignature>& out,
                    std::string& error) {
    return readArray(value, path, out, error, readSignature);
}

bool readBehavior(const json& value, const std::string& path, OutputBehavior& out,
                  std::string& error) {
    if (!requireObject(value, path, error)) {
        return false;
    }
    const json* kindValue = requireMember(value, "kind", path, error);
    if (!kindValue) {
        return false;
    }
    const std::string kindPath = childPath(path, "kind");
    if (!kindValue->is_string()) {
        error = fault(kindPath, "expected a string");
        return false;
    }
    const auto kind = OutputBehavior::kindFromRawValue(kindValue->get_ref<const std::string&>());
    if (!kind) {
        // Quoted as JSON so that an empty or odd value stays visible; only
        // its start, since a file may hold megabytes there.
        error = fault(kindPath,
                      "unknown kind " +
                          json_read::quotedPrefix(kindValue->get_ref<const std::string&>(), 80));
        return false;
    }
    switch (*kind) {
    case OutputBehavior::Kind::none:
        out = OutputBehavior::none();
        return true;
    case OutputBehavior::Kind::openSearchBar:
        out = OutputBehavior::openSearchBar();
        return true;
    case OutputBehavior::Kind::copyOperation:
        out = OutputBehavior::copyOperation();
        return true;
    case OutputBehavior::Kind::pasteOperation:
        out = OutputBehavior::pasteOperation();
        return true;
    case OutputBehavior::Kind::customKeySequence:
        break;
    }
    std::vector<MacKeySignature> signatures;
    if (!readRequiredArray(value, "codes", path, signatures, error, readSignature)) {
        return false;
    }
    std::string name = "Custom";
    if (const json* nameValue = optionalMember(value, "name")) {
        if (!readString(*nameValue, childPath(path, "name"), name, error)) {
            return false;
        }
    }
    out = OutputBehavior::customKeySequence(std::move(name), std::move(signatures));
    return true;
}

bool readMapping(const json& value, const std::string& path, KeyMapping& out, std::string& error) {
    if (!requireObject(value, path, error)) {
        return false;
    }
    const json* id = requireMember(value, "id", path, error);
    if (!id || !readUuid(*id, childPath(path, "id"), out.id, error)) {
        return false;
    }
    const json* name = requireMember(value, "name", path, error);
    if (!name || !readString(*name, childPath(path, "name"), out.name, error)) {
        return false;
    }
    if (!readRequiredArray(value, "inputKeyCodes", path, out.inputKeyCodes, error, readUsage)) {
        return false;
    }
    out.inputTapCodes.reset();
    if (const json* tapCodes = optionalMember(value, "inputTapCodes")) {
        std::vector<MacKeySignature> signatures;
        if (!readSignatures(*tapCodes, childPath(path, "inputTapCodes"), signatures, error)) {
            return false;
        }
        out.inputTapCodes = std::move(signatures);
    }
    const json* behavior = requireMember(value, "outputBehavior", path, error);
    return behavior &&
           readBehavior(*behavior, childPath(path, "outputBehavior"), out.outputBehavior, error);
}

bool readRecord(const json& value, const std::string& path, DeviceMapping& out,
                std::string& error) {
    if (!requireObject(value, path, error)) {
        return false;
    }
    const json* id = requireMember(value, "id", path, error);
    if (!id || !readUuid(*id, childPath(path, "id"), out.id, error)) {
        return false;
    }
    const json* productName = requireMember(value, "productName", path, error);
    if (!productName ||
        !readString(*productName, childPath(path, "productName"), out.productName, error)) {
        return false;
    }
    const json* productID = requireMember(value, "productID", path, error);
    if (!productID || !readInt64(*productID, childPath(path, "productID"), out.productID, error)) {
        return false;
    }
    const json* vendorID = requireMember(value, "vendorID", path, error);
    if (!vendorID || !readInt64(*vendorID, childPath(path, "vendorID"), out.vendorID, error)) {
        return false;
    }
    return readRequiredArray(value, "mappings", path, out.mappings, error, readMapping);
}

/// Runs one decoder, turning every fault (and anything thrown on the way,
/// such as an allocation failure) into a failure value.
template <typename T, typename Reader>
DecodeResult<T> decodeWith(Reader reader, const json& value, const std::string& path) {
    try {
        T decoded;
        std::string error;
        if (!reader(value, path, decoded, error)) {
            return DecodeResult<T>::failure(std::move(error));
        }
        return DecodeResult<T>::success(std::move(decoded));
    } catch (const std::bad_alloc&) {
        return DecodeResult<T>::failure(fault(path, "out of memory"));
    } catch (const std::exception& e) {
        return DecodeResult<T>::failure(fault(path, std::string("cannot decode: ") + e.what()));
    } catch (...) {
        return DecodeResult<T>::failure(fault(path, "cannot decode"));
    }
}

} // namespace

nlohmann::ordered_json toJson(const MacKeySignature& signature) {
    nlohmann::ordered_json object = nlohmann::ordered_json::object();
    object["keyCode"] = signature.keyCode;
    object["modifiers"] = signature.modifiers;
    return object;
}

nlohmann::ordered_json toJson(const OutputBehavior& behavior) {
    nlohmann::ordered_json object = nlohmann::ordered_json::object();
    object["kind"] = std::string(OutputBehavior::rawValue(behavior.kind()));
    if (behavior.isCustomKeySequence()) {
        object["name"] = behavior.name();
        nlohmann::ordered_json codes = nlohmann::ordered_json::array();
        for (const MacKeySignature& s : behavior.signatures()) {
            codes.push_back(toJson(s));
        }
        object["codes"] = std::move(codes);
    }
    return object;
}

nlohmann::ordered_json toJson(const KeyMapping& mapping) {
    nlohmann::ordered_json object = nlohmann::ordered_json::object();
    object["id"] = mapping.id.toString();
    object["name"] = mapping.name;
    nlohmann::ordered_json codes = nlohmann::ordered_json::array();
    for (HidUsage usage : mapping.inputKeyCodes) {
        codes.push_back(usage);
    }
    object["inputKeyCodes"] = std::move(codes);
    if (mapping.inputTapCodes) {
        nlohmann::ordered_json tapCodes = nlohmann::ordered_json::array();
        for (const MacKeySignature& s : *mapping.inputTapCodes) {
            tapCodes.push_back(toJson(s));
        }
        object["inputTapCodes"] = std::move(tapCodes);
    }
    object["outputBehavior"] = toJson(mapping.outputBehavior);
    return object;
}

nlohmann::ordered_json toJson(const DeviceMapping& record) {
    nlohmann::ordered_json object = nlohmann::ordered_json::object();
    object["id"] = record.id.toString();
    object["productName"] = record.productName;
    object["productID"] = record.productID;
    object["vendorID"] = record.vendorID;
    nlohmann::ordered_json mappings = nlohmann::ordered_json::array();
    for (const KeyMapping& mapping : record.mappings) {
        mappings.push_back(toJson(mapping));
    }
    object["mappings"] = std::move(mappings);
    return object;
}

namespace {

// Writes what toJson(record).dump() would, straight into one string: a
// record of ten thousand mappings is saved after every edit, and building
// the whole tree first cost several times the writing.
class RecordWriter {
public:
    explicit RecordWriter(std::string& out) : out_(out) {}

    void text(std::string_view value) {
        // Plain printable ASCII is written as it is; anything else (escapes,
        // UTF-8, bytes that are not UTF-8 and must be replaced) the way the
        // JSON library writes it, so that both stay one format.
        const bool plain = std::all_of(value.begin(), value.end(), [](char c) {
            return c >= 0x20 && c < 0x7F && c != '"' && c != '\\';
        });
        if (plain) {
            out_ += '"';
            out_ += value;
            out_ += '"';
        } else {
            out_ += nlohmann::ordered_json(value).dump(
                -1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
        }
    }
    template <typename Number> void number(Number value) {
        char buffer[24];
        const auto end = std::to_chars(buffer, buffer + sizeof buffer, value).ptr;
        out_.append(buffer, end);
    }
    void key(std::string_view name) {
        out_ += '"';
        out_ += name;
        out_ += "\":";
    }
    void uuid(const Uuid& id) {
        out_ += '"';
        out_ += id.toString();
        out_ += '"';
    }
    void signatures(const std::vector<MacKeySignature>& list) {
        out_ += '[';
        for (std::size_t i = 0; i < list.size(); ++i) {
            out_ += i == 0 ? "{" : ",{";
            key("keyCode");
            number(list[i].keyCode);
            out_ += ',';
            key("modifiers");
            number(list[i].modifiers);
            out_ += '}';
        }
        out_ += ']';
    }
    void mapping(const KeyMapping& mapping) {
        out_ += '{';
        key("id");
        uuid(mapping.id);
        out_ += ',';
        key("name");
        text(mapping.name);
        out_ += ',';
        key("inputKeyCodes");
        out_ += '[';
        for (std::size_t i = 0; i < mapping.inputKeyCodes.size(); ++i) {
            if (i != 0) {
                out_ += ',';
            }
            number(mapping.inputKeyCodes[i]);
        }
        out_ += ']';
        if (mapping.inputTapCodes) {
            out_ += ',';
            key("inputTapCodes");
            signatures(*mapping.inputTapCodes);
        }
        out_ += ',';
        key("outputBehavior");
        const OutputBehavior& behavior = mapping.outputBehavior;
        out_ += '{';
        key("kind");
        text(OutputBehavior::rawValue(behavior.kind()));
        if (behavior.isCustomKeySequence()) {
            out_ += ',';
            key("name");
            text(behavior.name());
            out_ += ',';
            key("codes");
            signatures(behavior.signatures());
        }
        out_ += "}}";
    }

private:
    std::string& out_;
};

} // namespace

std::string encodeDeviceMapping(const DeviceMapping& record) {
    // Names may come from device properties that are not valid UTF-8; such
    // bytes are replaced rather than failing, since encoding must always
    // succeed.
    std::string out;
    // About a hundred bytes per mapping: one allocation in the common case.
    out.reserve(128 + record.mappings.size() * 128);
    RecordWriter writer(out);
    out += '{';
    writer.key("id");
    writer.uuid(record.id);
    out += ',';
    writer.key("productName");
    writer.text(record.productName);
    out += ',';
    writer.key("productID");
    writer.number(record.productID);
    out += ',';
    writer.key("vendorID");
    writer.number(record.vendorID);
    out += ',';
    writer.key("mappings");
    out += '[';
    for (std::size_t i = 0; i < record.mappings.size(); ++i) {
        if (i != 0) {
            out += ',';
        }
        writer.mapping(record.mappings[i]);
    }
    out += "]}";
    return out;
}

DecodeResult<MacKeySignature> decodeMacKeySignature(const nlohmann::json& json,
                                                    const std::string& path) {
    return decodeWith<MacKeySignature>(readSignature, json, path);
}

DecodeResult<OutputBehavior> decodeOutputBehavior(const nlohmann::json& json,
                                                  const std::string& path) {
    return decodeWith<OutputBehavior>(readBehavior, json, path);
}

DecodeResult<KeyMapping> decodeKeyMapping(const nlohmann::json& json, const std::string& path) {
    return decodeWith<KeyMapping>(readMapping, json, path);
}

DecodeResult<DeviceMapping> decodeDeviceMapping(const nlohmann::json& json,
                                                const std::string& path) {
    return decodeWith<DeviceMapping>(readRecord, json, path);
}

DecodeResult<DeviceMapping> decodeDeviceMappingText(std::string_view text,
                                                    std::vector<std::string>* duplicateKeys) {
    // A well-formed record needs no tree: one pass over the text is several
    // times faster. Anything else is decoded below, which says what is wrong.
    if (auto record = streamDecodeDeviceMapping(text)) {
        if (duplicateKeys != nullptr) {
            duplicateKeys->clear();
        }
        return DecodeResult<DeviceMapping>::success(std::move(*record));
    }
    auto parsed = parseJson(text);
    if (!parsed.ok()) {
        return DecodeResult<DeviceMapping>::failure(parsed.error());
    }
    if (duplicateKeys != nullptr) {
        *duplicateKeys = parsed.value().duplicateKeys;
    }
    return decodeDeviceMapping(parsed.value().value);
}

} // namespace chordwell
