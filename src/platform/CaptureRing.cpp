#include "platform/CaptureRing.h"

#include <algorithm>
#include <cstring>

namespace platform::detail {

CaptureRing::CaptureRing(std::int64_t capacityFrames, std::int64_t bytesPerFrame)
    : capacity_(std::max<std::int64_t>(capacityFrames, 1)), bytesPerFrame_(bytesPerFrame),
      bytes_(static_cast<std::size_t>(capacity_ * bytesPerFrame_)) {}

void CaptureRing::Push(const void* frames, std::int64_t frameCount) {
    const auto* in = static_cast<const unsigned char*>(frames);
    if (frameCount > capacity_) { // only the newest fit
        in += (frameCount - capacity_) * bytesPerFrame_;
        frameCount = capacity_;
    }
    while (frameCount > 0) {
        const std::int64_t part = std::min(frameCount, capacity_ - end_);
        std::memcpy(bytes_.data() + end_ * bytesPerFrame_, in,
                    static_cast<std::size_t>(part * bytesPerFrame_));
        in += part * bytesPerFrame_;
        frameCount -= part;
        end_ = (end_ + part) % capacity_;
        count_ = std::min(count_ + part, capacity_);
    }
}

bool CaptureRing::CopyNewest(void* out, std::int64_t frameCount) const {
    if (frameCount > count_ || frameCount < 0) {
        return false;
    }
    auto* to = static_cast<unsigned char*>(out);
    std::int64_t from = (end_ - frameCount + capacity_) % capacity_;
    while (frameCount > 0) {
        const std::int64_t part = std::min(frameCount, capacity_ - from);
        std::memcpy(to, bytes_.data() + from * bytesPerFrame_,
                    static_cast<std::size_t>(part * bytesPerFrame_));
        to += part * bytesPerFrame_;
        frameCount -= part;
        from = (from + part) % capacity_;
    }
    return true;
}

void CaptureRing::Clear() {
    end_ = 0;
    count_ = 0;
}

} // namespace platform::detail
