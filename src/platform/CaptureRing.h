#pragma once

#include <cstdint>
#include <vector>

namespace platform::detail {

// The newest frames a capture delivered, oldest overwritten first. Not locked: its owner
// guards it.
class CaptureRing {
public:
    CaptureRing(std::int64_t capacityFrames, std::int64_t bytesPerFrame);

    std::int64_t Capacity() const { return capacity_; }
    // Frames held, at most the capacity.
    std::int64_t Count() const { return count_; }

    void Push(const void* frames, std::int64_t frameCount);
    // The newest frameCount frames, oldest first; false when fewer are held.
    bool CopyNewest(void* out, std::int64_t frameCount) const;
    void Clear();

private:
    std::int64_t capacity_;
    std::int64_t bytesPerFrame_;
    std::vector<unsigned char> bytes_;
    std::int64_t end_ = 0; // frame index one past the newest
    std::int64_t count_ = 0;
};

} // namespace platform::detail
