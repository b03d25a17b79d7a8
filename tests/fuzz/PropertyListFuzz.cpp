// Feeds arbitrary bytes to the design-time property-list reader, with the property types
// of the window and its controls: it must raise UnsupportedFormatException or succeed,
// and never read outside the list.
#include "platform/ClassRecord.h"
#include "platform/PropertyList.h"
#include "platform/PushButton.h"
#include "platform/Thread.h"
#include "platform/Timer.h"
#include "platform/Window.h"

#include <cstddef>
#include <cstdint>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::vector<const platform::ClassRecord*> classes{
        &platform::Window::ClassInfo(), &platform::PushButton::ClassInfo(),
        &platform::Thread::ClassInfo(), &platform::Timer::ClassInfo()};
    // A copy of exactly `size` bytes, so that AddressSanitizer sees any read past its end.
    const std::vector<std::uint8_t> list(data, data + size);
    for (const auto* record : classes) {
        try {
            platform::ReadPropertyList(list, [record](std::string_view name) {
                const auto* entry = record->FindProperty(name);
                return entry ? std::optional(entry->type) : std::nullopt;
            });
        } catch (const platform::UnsupportedFormatException&) {
        }
    }
    return 0;
}
