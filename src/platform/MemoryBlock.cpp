#include "platform/MemoryBlock.h"

#include "platform/Exceptions.h"
#include "platform/StackGuard.h"

#include <cstring>
#include <string>

namespace platform {

MemoryBlock::MemoryBlock(std::int64_t size) {
    CheckStack();
    if (size < 0) {
        throw OutOfBoundsException("memory block size " + std::to_string(size));
    }
    bytes_.resize(static_cast<std::size_t>(size));
}

double MemoryBlock::SingleValue(std::int64_t offset) const {
    CheckStack();
    if (offset < 0 || offset > Size() - static_cast<std::int64_t>(sizeof(float))) {
        throw OutOfBoundsException("memory block offset " + std::to_string(offset));
    }
    float value = 0;
    std::memcpy(&value, bytes_.data() + offset, sizeof value);
    return value;
}

} // namespace platform
