#pragma once

#include "platform/Exceptions.h"

#include <memory>
#include <string>
#include <string_view>

namespace platform {

struct ClassRecord;

// Base of every framework object. Objects live in std::shared_ptr; nil is nullptr.
class Object : public std::enable_shared_from_this<Object> {
public:
    virtual ~Object() = default;
    Object() = default;
    Object(const Object&) = delete;
    Object& operator=(const Object&) = delete;

    // The record of the object's most derived registered class.
    virtual const ClassRecord& Class() const = 0;
    // Whether the object's class handles the named event; the framework asks before raising.
    virtual bool IsEventImplemented(std::string_view event);
};

// The object as an instance of T; nil stays nil; an object of another class raises
// IllegalCastException.
template <class T> std::shared_ptr<T> RuntimeCheckCast(const std::shared_ptr<Object>& object) {
    if (!object) {
        return nullptr;
    }
    auto cast = std::dynamic_pointer_cast<T>(object);
    if (!cast) {
        throw IllegalCastException("object cannot be used as the requested class");
    }
    return cast;
}

// 0 when equal, as the framework compares strings (byte-wise).
int RuntimeStringCompare(std::string_view a, std::string_view b);

} // namespace platform
