// Mapping files come from disk and from imports chosen by the user, so the
// decoder must survive anything: it may fail, never crash or hang, and what it
// accepts must come back unchanged through the one JSON form.
#include "model/json_codec.hpp"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

namespace {

[[noreturn]] void fail(const char* what, const std::string& detail) {
    std::fprintf(stderr, "fuzz_decode_record: %s\n%s\n", what, detail.c_str());
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto first = chordwell::decodeDeviceMappingText(text);
    if (!first.ok()) {
        if (first.error().empty()) {
            fail("a failure without a message", std::string(text));
        }
        return 0;
    }
    // Nothing may follow the record, not even after a NUL byte.
    if (text.find('\0') != std::string_view::npos) {
        fail("a record followed by a NUL byte was accepted", std::string(text));
    }
    const std::string encoded = chordwell::encodeDeviceMapping(first.value());
    const auto second = chordwell::decodeDeviceMappingText(encoded);
    if (!second.ok()) {
        fail("the encoded form does not decode", second.error() + "\n" + encoded);
    }
    if (!(second.value() == first.value()) || second.value().mappings != first.value().mappings ||
        second.value().productName != first.value().productName ||
        second.value().productID != first.value().productID ||
        second.value().vendorID != first.value().vendorID) {
        fail("decode -> encode -> decode changed the record", encoded);
    }
    for (std::size_t i = 0; i < first.value().mappings.size(); ++i) {
        if (first.value().mappings[i].id != second.value().mappings[i].id) {
            fail("a mapping id changed", encoded);
        }
    }
    const std::string again = chordwell::encodeDeviceMapping(second.value());
    if (again != encoded) {
        fail("the encoded text is not stable", encoded + "\n" + again);
    }
    return 0;
}
