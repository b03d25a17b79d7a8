#include "platform/ClassRecord.h"

#include "platform/Object.h"
#include "platform/Runtime.h"

#include <map>
#include <mutex>

namespace platform {
namespace {

struct Registry {
    std::mutex mutex;
    std::map<std::string, const ClassRecord*, std::less<>> classes;
};

Registry& TheRegistry() {
    static Registry registry;
    return registry;
}

} // namespace

int ClassRecord::EventCount() const {
    return (base ? base->EventCount() : 0) + static_cast<int>(events.size());
}

int ClassRecord::EventNumber(std::string_view event) const {
    const int inherited = base ? base->EventCount() : 0;
    for (std::size_t i = 0; i < events.size(); ++i) {
        if (events[i] == event) {
            return inherited + static_cast<int>(i);
        }
    }
    return base ? base->EventNumber(event) : -1;
}

const PropertyEntry* ClassRecord::FindProperty(std::string_view property) const {
    for (const ClassRecord* c = this; c != nullptr; c = c->base) {
        for (const auto& entry : c->properties) {
            if (entry.name == property) {
                return &entry;
            }
        }
    }
    return nullptr;
}

const EventHandlerEntry* ClassRecord::Handler(std::string_view event) const {
    for (const auto& entry : eventTable) {
        if (entry.event == event) {
            return &entry;
        }
    }
    return nullptr;
}

void RegisterClass(const ClassRecord& record) {
    auto& registry = TheRegistry();
    std::lock_guard lock(registry.mutex);
    registry.classes[record.name] = &record;
}

const ClassRecord* FindClass(std::string_view name) {
    auto& registry = TheRegistry();
    std::lock_guard lock(registry.mutex);
    auto it = registry.classes.find(name);
    return it == registry.classes.end() ? nullptr : it->second;
}

bool RuntimeIsEventHandled(const Object&, std::string_view className, std::string_view event,
                           bool userLookup) {
    if (!userLookup) {
        return false;
    }
    const ClassRecord* record = FindClass(className);
    return record != nullptr && record->Handler(event) != nullptr;
}

bool Object::IsEventImplemented(std::string_view event) {
    return RuntimeIsEventHandled(*this, Class().name, event, true);
}

void RaiseClassEvent(Object& object, std::string_view event) {
    const ClassRecord& record = object.Class();
    std::string where = record.name + " " + std::string(event);
    CallIntoSystem(where, [&] {
        if (!object.IsEventImplemented(event)) {
            return;
        }
        const ClassRecord* registered = FindClass(record.name);
        const EventHandlerEntry* entry = registered ? registered->Handler(event) : nullptr;
        if (entry != nullptr) {
            entry->handler(object);
        }
    });
}

int RuntimeStringCompare(std::string_view a, std::string_view b) {
    const int c = a.compare(b);
    return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

} // namespace platform
