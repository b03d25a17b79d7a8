#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace platform {

// A fixed number of bytes (zeroed) with bounds-checked typed access.
class MemoryBlock {
public:
    explicit MemoryBlock(std::int64_t size);

    std::int64_t Size() const { return static_cast<std::int64_t>(bytes_.size()); }
    // Operator_Convert: the address of the bytes.
    void* Data() { return bytes_.data(); }
    const void* Data() const { return bytes_.data(); }
    // The native 32-bit float at that byte offset, widened exactly.
    double SingleValue(std::int64_t offset) const;

private:
    std::vector<std::byte> bytes_;
};

} // namespace platform
