#pragma once

#include "platform/ClassRecord.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

class Object;

// A design-time property list: records of name, one blank, value; no header, count or
// terminator. A value's width follows from the declared type of the named property, so
// the reader must know every name it meets.
struct PropertyRecord {
    std::string name;
    PropertyValue value;
};

using PropertyTypeLookup = std::function<std::optional<PropertyType>(std::string_view name)>;

// Reads every record. An unknown name or a value cut short raises
// UnsupportedFormatException; nothing is read past the list's end.
std::vector<PropertyRecord> ReadPropertyList(std::span<const std::uint8_t> list,
                                             const PropertyTypeLookup& typeOf);

// Applies a list to an object, each name found on its class chain.
void SetProperties(Object& target, std::span<const std::uint8_t> list);

} // namespace platform
