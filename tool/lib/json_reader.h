// Reads back the JSON the tools write themselves (the archive's visits): objects, arrays,
// strings, numbers, true, false and null. Strings come back in UTF-8.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qmx::tool {

struct JsonValue {
    enum class Kind { null, boolean, number, string, array, object } kind = Kind::null;
    bool boolean = false;
    double number = 0;
    std::string text;
    std::vector<JsonValue> items;
    std::map<std::string, JsonValue> members;

    // The member of that name, or nothing (also when this is not an object).
    const JsonValue* find(const std::string& name) const;
};

// Nothing for a text that is not one JSON value.
std::optional<JsonValue> parse_json(std::string_view text);

} // namespace qmx::tool
