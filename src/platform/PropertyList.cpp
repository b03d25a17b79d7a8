#include "platform/PropertyList.h"

#include "platform/Exceptions.h"
#include "platform/Object.h"
#include "platform/StackGuard.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace platform {
namespace {

class Reader {
public:
    explicit Reader(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}

    bool AtEnd() const { return pos_ == bytes_.size(); }

    std::span<const std::uint8_t> Take(std::size_t count, std::string_view what) {
        if (count > bytes_.size() - pos_) {
            throw UnsupportedFormatException("property list cut short in " + std::string(what) +
                                             " at byte " + std::to_string(pos_));
        }
        auto taken = bytes_.subspan(pos_, count);
        pos_ += count;
        return taken;
    }

    std::uint64_t LittleEndian(std::size_t width, std::string_view what) {
        auto bytes = Take(width, what);
        std::uint64_t v = 0;
        for (std::size_t i = width; i-- > 0;) {
            v = (v << 8) | bytes[i];
        }
        return v;
    }

    std::string Name() {
        const auto rest = bytes_.subspan(pos_);
        const auto blank = std::find(rest.begin(), rest.end(), std::uint8_t{' '});
        if (blank == rest.end()) {
            throw UnsupportedFormatException("property list cut short in a name at byte " +
                                             std::to_string(pos_));
        }
        std::string name(rest.begin(), blank);
        pos_ += name.size() + 1;
        if (name.empty()) {
            throw UnsupportedFormatException("empty property name at byte " +
                                             std::to_string(pos_ - 1));
        }
        return name;
    }

private:
    std::span<const std::uint8_t> bytes_;
    std::size_t pos_ = 0;
};

PropertyValue ReadValue(Reader& in, PropertyType type, const std::string& name) {
    switch (type) {
    case PropertyType::Integer:
        return static_cast<std::int64_t>(in.LittleEndian(8, name));
    case PropertyType::Boolean: {
        const auto b = in.Take(1, name)[0];
        if (b > 1) {
            throw UnsupportedFormatException("Boolean value " + std::to_string(b) + " of " + name);
        }
        return b == 1;
    }
    case PropertyType::String: {
        const auto length = static_cast<std::size_t>(in.LittleEndian(4, name));
        const auto text = in.Take(length, name);
        return std::string(text.begin(), text.end());
    }
    case PropertyType::Color:
        return Color{static_cast<std::uint32_t>(in.LittleEndian(4, name))};
    case PropertyType::Single:
        return std::bit_cast<float>(static_cast<std::uint32_t>(in.LittleEndian(4, name)));
    case PropertyType::Enum8:
        return static_cast<std::uint8_t>(in.Take(1, name)[0]);
    }
    throw UnsupportedFormatException("unknown declared type of " + name);
}

} // namespace

std::vector<PropertyRecord> ReadPropertyList(std::span<const std::uint8_t> list,
                                             const PropertyTypeLookup& typeOf) {
    CheckStack();
    Reader in(list);
    std::vector<PropertyRecord> records;
    while (!in.AtEnd()) {
        std::string name = in.Name();
        const auto type = typeOf(name);
        if (!type) {
            throw UnsupportedFormatException("unknown property " + name);
        }
        PropertyValue value = ReadValue(in, *type, name);
        records.push_back({std::move(name), std::move(value)});
    }
    return records;
}

void SetProperties(Object& target, std::span<const std::uint8_t> list) {
    CheckStack();
    const ClassRecord& record = target.Class();
    const auto records = ReadPropertyList(list, [&](std::string_view name) {
        const PropertyEntry* entry = record.FindProperty(name);
        return entry ? std::optional(entry->type) : std::nullopt;
    });
    // The whole list is read before anything is set: a malformed list changes nothing.
    for (const auto& r : records) {
        record.FindProperty(r.name)->set(target, r.value);
    }
}

} // namespace platform
