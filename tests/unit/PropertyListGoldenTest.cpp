// The four design-time lists against a golden table of their 54 records, written from the
// window's design rather than from the reader: the bytes are decoded here by hand from the
// record format, and the project's reader must yield the same names and values.
#include "platform/PropertyList.h"
#include "platform/PushButton.h"
#include "platform/Thread.h"
#include "platform/Timer.h"
#include "window/MainWindow.h"
#include "window/PropertyLists.h"

#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <cstring>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace {

using platform::PropertyValue;

struct Golden {
    const char* name;
    PropertyValue value; // its alternative is the record's declared type
};

PropertyValue I(std::int64_t v) {
    return v;
}
PropertyValue B(bool v) {
    return v;
}
PropertyValue S(const char* v) {
    return std::string(v);
}

const std::vector<Golden> kWindow = {
    {"Width", I(308)},
    {"Height", I(196)},
    {"MinimumWidth", I(64)},
    {"MinimumHeight", I(64)},
    {"MaximumWidth", I(32000)},
    {"MaximumHeight", I(32000)},
    {"Type", I(0)},
    {"Title", S("Zelim")},
    {"HasCloseButton", B(true)},
    {"HasMaximizeButton", B(true)},
    {"HasMinimizeButton", B(true)},
    {"HasFullScreenButton", B(true)},
    {"Resizeable", B(false)},
    {"Composite", B(false)},
    {"MacProcID", I(0)},
    {"FullScreen", B(false)},
    {"DefaultLocation", I(0)},
    {"Visible", B(true)},
    {"HasBackgroundColor", B(true)},
    {"BackgroundColor", platform::Color{0x00FD84A6}}, // bytes A6 84 FD 00
    {"MenuBarVisible", B(true)},
};

const std::vector<Golden> kButton = {
    {"Name", S("StartStopButton")},
    {"Index", I(-2147483648LL)},
    {"Left", I(94)},
    {"Top", I(72)},
    {"Width", I(121)},
    {"Height", I(53)},
    {"LockLeft", B(true)},
    {"LockTop", B(true)},
    {"LockRight", B(false)},
    {"LockBottom", B(false)},
    {"TabIndex", I(0)},
    {"TabPanelIndex", I(0)},
    {"TabStop", B(true)},
    {"AllowAutoDeactivate", B(true)},
    {"MacButtonStyle", I(0)},
    {"Cancel", B(false)},
    {"Caption", S("Start")},
    {"Default", B(true)},
    {"Enabled", B(true)},
    {"Tooltip", S("")},
    {"Transparent", B(false)},
    {"Visible", B(true)},
    {"FontName", S("System")},
    {"FontSize", 0.0f},
    {"FontUnit", std::uint8_t{0}},
    {"Bold", B(false)},
    {"Italic", B(false)},
    {"Underline", B(false)},
    {"InitialParent", S("")},
};

const std::vector<Golden> kThread = {{"Priority", I(5)}, {"StackSize", I(0)}};
const std::vector<Golden> kTimer = {{"RunMode", I(2)}, {"Period", I(42)}};

struct List {
    const char* what;
    std::span<const std::uint8_t> bytes;
    const std::vector<Golden>& golden;
    const platform::ClassRecord& (*record)();
};

const List kLists[] = {
    {"window", kMainWindowList, kWindow, &MainWindow::ClassInfo},
    {"button", kStartStopButtonList, kButton, &platform::PushButton::ClassInfo},
    {"thread", kCheckPlayMusicThreadList, kThread, &platform::Thread::ClassInfo},
    {"timer", kSampleTimerList, kTimer, &platform::Timer::ClassInfo},
};

// Little-endian, as the format stores every number.
std::uint64_t LittleEndian(std::span<const std::uint8_t> bytes) {
    std::uint64_t v = 0;
    for (std::size_t i = bytes.size(); i-- > 0;) {
        v = (v << 8) | bytes[i];
    }
    return v;
}

// Decodes one value of the golden record's type at `at`; nil when the list is too short.
std::optional<PropertyValue> DecodeAs(const PropertyValue& type, std::span<const std::uint8_t> list,
                                      std::size_t& at) {
    const auto take = [&](std::size_t n) -> std::optional<std::span<const std::uint8_t>> {
        if (list.size() - at < n) {
            return std::nullopt;
        }
        auto bytes = list.subspan(at, n);
        at += n;
        return bytes;
    };
    switch (type.index()) {
    case 0:
        if (auto b = take(8)) {
            return PropertyValue(static_cast<std::int64_t>(LittleEndian(*b)));
        }
        break;
    case 1:
        if (auto b = take(1)) {
            if ((*b)[0] > 1) {
                return std::nullopt;
            }
            return PropertyValue((*b)[0] == 1);
        }
        break;
    case 2:
        if (auto n = take(4)) {
            if (auto text = take(static_cast<std::size_t>(LittleEndian(*n)))) {
                return PropertyValue(std::string(text->begin(), text->end()));
            }
        }
        break;
    case 3:
        if (auto b = take(4)) {
            return PropertyValue(platform::Color{static_cast<std::uint32_t>(LittleEndian(*b))});
        }
        break;
    case 4:
        if (auto b = take(4)) {
            return PropertyValue(
                std::bit_cast<float>(static_cast<std::uint32_t>(LittleEndian(*b))));
        }
        break;
    case 5:
        if (auto b = take(1)) {
            return PropertyValue((*b)[0]);
        }
        break;
    }
    return std::nullopt;
}

TEST(PropertyListGolden, TheTableHoldsAll54Records) {
    std::size_t records = 0;
    for (const auto& list : kLists) {
        records += list.golden.size();
    }
    EXPECT_EQ(records, 54u);
}

TEST(PropertyListGolden, TheBytesHoldExactlyTheGoldenRecords) {
    for (const auto& list : kLists) {
        SCOPED_TRACE(list.what);
        std::size_t at = 0;
        for (const auto& golden : list.golden) {
            SCOPED_TRACE(golden.name);
            const std::string name = golden.name;
            ASSERT_LE(name.size() + 1, list.bytes.size() - at);
            EXPECT_EQ(
                std::string(list.bytes.begin() + static_cast<std::ptrdiff_t>(at),
                            list.bytes.begin() + static_cast<std::ptrdiff_t>(at + name.size())),
                name);
            at += name.size();
            ASSERT_EQ(list.bytes[at], 0x20) << "a blank after the name";
            ++at;
            const auto value = DecodeAs(golden.value, list.bytes, at);
            ASSERT_TRUE(value.has_value()) << "the value is cut short";
            EXPECT_EQ(*value, golden.value);
        }
        EXPECT_EQ(at, list.bytes.size()) << "bytes left over after the last record";
    }
}

TEST(PropertyListGolden, TheReaderYieldsTheGoldenRecords) {
    for (const auto& list : kLists) {
        SCOPED_TRACE(list.what);
        const platform::ClassRecord& record = list.record();
        const auto read = platform::ReadPropertyList(
            list.bytes, [&record](std::string_view name) -> std::optional<platform::PropertyType> {
                const auto* entry = record.FindProperty(name);
                return entry ? std::optional(entry->type) : std::nullopt;
            });
        ASSERT_EQ(read.size(), list.golden.size());
        for (std::size_t i = 0; i < read.size(); ++i) {
            EXPECT_EQ(read[i].name, list.golden[i].name) << "record " << i + 1;
            EXPECT_EQ(read[i].value, list.golden[i].value) << list.golden[i].name;
        }
    }
}

} // namespace
