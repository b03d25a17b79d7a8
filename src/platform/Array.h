#pragma once

#include "platform/Exceptions.h"
#include "platform/StackGuard.h"

#include <cstdint>
#include <limits>
#include <memory>
#include <string>
#include <vector>

namespace platform {

// The framework's one-dimensional array: signed 32-bit indexes, upper bound -1 when empty.
template <class T> class Array {
public:
    Array() = default;
    explicit Array(std::int32_t upperBound) { ResizeTo(upperBound); }

    std::int32_t Ubound() const {
        CheckStack();
        return static_cast<std::int32_t>(items_.size()) - 1;
    }
    std::int32_t Count() const { return static_cast<std::int32_t>(items_.size()); }

    // New elements are default values; a bound below -1 is out of range.
    void ResizeTo(std::int32_t upperBound) {
        CheckStack();
        if (upperBound < -1 || upperBound == std::numeric_limits<std::int32_t>::max()) {
            throw OutOfBoundsException("array bound " + std::to_string(upperBound));
        }
        items_.resize(static_cast<std::size_t>(std::int64_t{upperBound} + 1));
    }
    const T& Get(std::int32_t index) const {
        CheckStack();
        return items_[static_cast<std::size_t>(Checked(index, Count()))];
    }
    void Set(std::int32_t index, const T& value) {
        CheckStack();
        items_[static_cast<std::size_t>(Checked(index, Count()))] = value;
    }
    // index may be the count itself: an append.
    void Insert(std::int32_t index, const T& value) {
        CheckStack();
        if (Count() == std::numeric_limits<std::int32_t>::max()) {
            throw OutOfBoundsException("array is full");
        }
        items_.insert(items_.begin() + Checked(index, Count() + 1), value);
    }
    void Remove(std::int32_t index) {
        CheckStack();
        items_.erase(items_.begin() + Checked(index, Count()));
    }

private:
    static std::ptrdiff_t Checked(std::int32_t index, std::int32_t limit) {
        if (index < 0 || index >= limit) {
            throw OutOfBoundsException("array index " + std::to_string(index) + " out of range");
        }
        return index;
    }
    std::vector<T> items_;
};

template <class T> std::shared_ptr<Array<T>> CreateArray() {
    CheckStack();
    return std::make_shared<Array<T>>();
}

} // namespace platform
