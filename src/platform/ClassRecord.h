#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace platform {

class Object;

// Declared types of design-time properties; each decides how its value is encoded.
enum class PropertyType { Integer, Boolean, String, Color, Single, Enum8 };

struct Color {
    std::uint32_t value = 0; // 0x00RRGGBB; the top byte is transparency, 0 opaque
    bool operator==(const Color&) const = default;
};

using PropertyValue = std::variant<std::int64_t, bool, std::string, Color, float, std::uint8_t>;

struct PropertyEntry {
    std::string name;
    PropertyType type;
    std::function<void(Object&, const PropertyValue&)> set;
};

struct EventHandlerEntry {
    std::string event;
    std::function<void(Object&)> handler;
};

// What the framework knows of a class: its name, base, declared events (numbered after
// the base's), design-time properties, method table and, for the system's own classes,
// the table of events it handles.
struct ClassRecord {
    std::string name{};
    const ClassRecord* base = nullptr;
    std::vector<std::string> events{};
    std::vector<PropertyEntry> properties{};
    std::vector<EventHandlerEntry> eventTable{};

    // Position in the class's whole event table, inherited events first; -1 if unknown.
    int EventNumber(std::string_view event) const;
    int EventCount() const;
    // Searched along the class chain, most derived first.
    const PropertyEntry* FindProperty(std::string_view property) const;
    // From this class's own event table only.
    const EventHandlerEntry* Handler(std::string_view event) const;
};

// Classes are registered once per run under their name.
void RegisterClass(const ClassRecord& record);
const ClassRecord* FindClass(std::string_view name);

// Whether class `className` handles `event`, asked of its registered event table.
// userLookup: the system's own handlers (the only kind this framework keeps).
bool RuntimeIsEventHandled(const Object& object, std::string_view className, std::string_view event,
                           bool userLookup);

// Raises a class event (Open, Close, Layout, ...) on the object if its class handles it.
// What leaves the handler is reported and the program goes on.
void RaiseClassEvent(Object& object, std::string_view event);

// Typed property setters for class records.
template <class T, class V>
PropertyEntry MakeProperty(std::string name, PropertyType type, void (T::*setter)(V)) {
    using Value = std::remove_cvref_t<V>;
    return PropertyEntry{std::move(name), type, [setter](Object& object, const PropertyValue& v) {
                             (dynamic_cast<T&>(object).*setter)(std::get<Value>(v));
                         }};
}

} // namespace platform
