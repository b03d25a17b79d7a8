#include "platform/PropertyList.h"
#include "platform/ClassRecord.h"
#include "platform/Exceptions.h"
#include "platform/PushButton.h"
#include "platform/Runtime.h"
#include "platform/StackGuard.h"
#include "platform/Thread.h"
#include "platform/Timer.h"
#include "platform/Window.h"
#include "window/MainWindow.h"
#include "window/PropertyLists.h"

#include <QPushButton>
#include <QWidget>

#include "platform/internal/NativeAccess.h"
#include "support/RuntimeTest.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <variant>
#include <vector>

namespace {

using platform::Color;
using platform::PropertyRecord;
using platform::PropertyType;
using platform::UnsupportedFormatException;
using Bytes = std::span<const std::uint8_t>;

using PropertyListTest = testsupport::RuntimeTest;

platform::PropertyTypeLookup TypesOf(const platform::ClassRecord& record) {
    return [&record](std::string_view name) -> std::optional<PropertyType> {
        const auto* entry = record.FindProperty(name);
        return entry ? std::optional(entry->type) : std::nullopt;
    };
}

// Width of a record as the format defines it: name, blank, value in its type's width.
std::size_t EncodedSize(const PropertyRecord& r) {
    const std::size_t value = std::visit(
        [](const auto& v) -> std::size_t {
            using V = std::decay_t<decltype(v)>;
            if constexpr (std::is_same_v<V, std::int64_t>) {
                return 8;
            } else if constexpr (std::is_same_v<V, bool> || std::is_same_v<V, std::uint8_t>) {
                return 1;
            } else if constexpr (std::is_same_v<V, std::string>) {
                return 4 + v.size();
            } else {
                return 4; // Color, Single
            }
        },
        r.value);
    return r.name.size() + 1 + value;
}

struct ListCase {
    const char* what;
    Bytes bytes;
    const platform::ClassRecord& (*record)();
    std::vector<std::string> names;
};

std::vector<ListCase> Lists() {
    return {
        {"MainWindow",
         kMainWindowList,
         &MainWindow::ClassInfo,
         {"Width",
          "Height",
          "MinimumWidth",
          "MinimumHeight",
          "MaximumWidth",
          "MaximumHeight",
          "Type",
          "Title",
          "HasCloseButton",
          "HasMaximizeButton",
          "HasMinimizeButton",
          "HasFullScreenButton",
          "Resizeable",
          "Composite",
          "MacProcID",
          "FullScreen",
          "DefaultLocation",
          "Visible",
          "HasBackgroundColor",
          "BackgroundColor",
          "MenuBarVisible"}},
        {"StartStopButton",
         kStartStopButtonList,
         &platform::PushButton::ClassInfo,
         {"Name",           "Index",
          "Left",           "Top",
          "Width",          "Height",
          "LockLeft",       "LockTop",
          "LockRight",      "LockBottom",
          "TabIndex",       "TabPanelIndex",
          "TabStop",        "AllowAutoDeactivate",
          "MacButtonStyle", "Cancel",
          "Caption",        "Default",
          "Enabled",        "Tooltip",
          "Transparent",    "Visible",
          "FontName",       "FontSize",
          "FontUnit",       "Bold",
          "Italic",         "Underline",
          "InitialParent"}},
        {"checkPlayMusicThread",
         kCheckPlayMusicThreadList,
         &platform::Thread::ClassInfo,
         {"Priority", "StackSize"}},
        {"SampleTimer", kSampleTimerList, &platform::Timer::ClassInfo, {"RunMode", "Period"}},
    };
}

std::vector<std::string> Names(const std::vector<PropertyRecord>& records) {
    std::vector<std::string> names;
    for (const auto& r : records) {
        names.push_back(r.name);
    }
    return names;
}

const PropertyRecord& Find(const std::vector<PropertyRecord>& records, std::string_view name) {
    for (const auto& r : records) {
        if (r.name == name) {
            return r;
        }
    }
    throw std::runtime_error("no record " + std::string(name));
}

TEST_F(PropertyListTest, EachListIsUsedUpExactlyByItsRecordsInOrder) {
    for (const auto& list : Lists()) {
        const auto records = platform::ReadPropertyList(list.bytes, TypesOf(list.record()));
        EXPECT_EQ(Names(records), list.names) << list.what;
        std::size_t total = 0;
        for (const auto& r : records) {
            total += EncodedSize(r);
        }
        EXPECT_EQ(total, list.bytes.size()) << list.what;
    }
}

TEST_F(PropertyListTest, ValuesOfTheButtonListHaveTheirDeclaredWidths) {
    const auto records = platform::ReadPropertyList(kStartStopButtonList,
                                                    TypesOf(platform::PushButton::ClassInfo()));
    EXPECT_EQ(Find(records, "Index").value, platform::PropertyValue(std::int64_t{-2147483648}));
    EXPECT_EQ(EncodedSize(Find(records, "Index")), 6u + 8u);
    EXPECT_EQ(Find(records, "FontSize").value, platform::PropertyValue(0.0f));
    EXPECT_EQ(EncodedSize(Find(records, "FontSize")), 9u + 4u);
    EXPECT_EQ(Find(records, "FontUnit").value, platform::PropertyValue(std::uint8_t{0}));
    EXPECT_EQ(EncodedSize(Find(records, "FontUnit")), 9u + 1u);
    for (const char* empty : {"Tooltip", "InitialParent"}) {
        EXPECT_EQ(Find(records, empty).value, platform::PropertyValue(std::string()));
        EXPECT_EQ(EncodedSize(Find(records, empty)), std::string(empty).size() + 1 + 4) << empty;
    }
    EXPECT_EQ(Find(records, "Name").value, platform::PropertyValue(std::string("StartStopButton")));
}

// Every prefix of every list: on a record boundary it reads that many records; anywhere
// else it raises. Each prefix is a heap block of exactly its length, so an over-read shows
// under AddressSanitizer.
TEST_F(PropertyListTest, AListCutShortAnywhereButARecordBoundaryRaises) {
    for (const auto& list : Lists()) {
        const auto lookup = TypesOf(list.record());
        const auto full = platform::ReadPropertyList(list.bytes, lookup);
        std::set<std::size_t> boundaries{0};
        std::size_t at = 0;
        for (const auto& r : full) {
            at += EncodedSize(r);
            boundaries.insert(at);
        }
        ASSERT_EQ(at, list.bytes.size()) << list.what;
        std::size_t records = 0;
        for (std::size_t n = 0; n < list.bytes.size(); ++n) {
            const std::vector<std::uint8_t> prefix(list.bytes.begin(), list.bytes.begin() + n);
            if (boundaries.contains(n)) {
                const auto read = platform::ReadPropertyList(prefix, lookup);
                ASSERT_EQ(read.size(), records) << list.what << " cut at " << n;
                ++records;
            } else {
                EXPECT_THROW((void)platform::ReadPropertyList(prefix, lookup),
                             UnsupportedFormatException)
                    << list.what << " cut at " << n;
            }
        }
        EXPECT_EQ(records, full.size()) << list.what;
    }
}

std::vector<std::uint8_t> Record(const std::string& name, std::vector<std::uint8_t> value) {
    std::vector<std::uint8_t> bytes(name.begin(), name.end());
    bytes.push_back(' ');
    bytes.insert(bytes.end(), value.begin(), value.end());
    return bytes;
}

std::vector<std::uint8_t> Int64(std::int64_t v) {
    std::vector<std::uint8_t> bytes;
    for (int i = 0; i < 8; ++i) {
        bytes.push_back(static_cast<std::uint8_t>(static_cast<std::uint64_t>(v) >> (8 * i)));
    }
    return bytes;
}

std::vector<std::uint8_t> Concat(std::initializer_list<std::vector<std::uint8_t>> parts) {
    std::vector<std::uint8_t> out;
    for (const auto& p : parts) {
        out.insert(out.end(), p.begin(), p.end());
    }
    return out;
}

TEST_F(PropertyListTest, AnUnknownNameRaisesWithTheNameInTheMessage) {
    const struct {
        const char* what;
        std::vector<std::uint8_t> list;
        const platform::ClassRecord& record;
        std::string name;
    } cases[] = {
        {"a name of no class", Record("Bogus", Int64(1)), platform::Timer::ClassInfo(), "Bogus"},
        {"the timer's list read as a thread's",
         std::vector<std::uint8_t>(kSampleTimerList.begin(), kSampleTimerList.end()),
         platform::Thread::ClassInfo(), "RunMode"},
        {"after a good record", Concat({Record("Period", Int64(5)), Record("Colour", {0})}),
         platform::Timer::ClassInfo(), "Colour"},
        // Names are compared exactly: the design-time spelling, not the accessor's.
        {"the accessor's spelling", Record("MacProcId", Int64(0)), platform::Window::ClassInfo(),
         "MacProcId"},
    };
    for (const auto& c : cases) {
        try {
            (void)platform::ReadPropertyList(c.list, TypesOf(c.record));
            ADD_FAILURE() << c.what << ": no exception";
        } catch (const UnsupportedFormatException& e) {
            EXPECT_NE(std::string(e.what()).find(c.name), std::string::npos)
                << c.what << ": " << e.what();
        }
    }
}

TEST_F(PropertyListTest, AMalformedListChangesNothingOnTheTarget) {
    const std::vector<std::uint8_t> button(kStartStopButtonList.begin(),
                                           kStartStopButtonList.end());
    const struct {
        const char* what;
        std::vector<std::uint8_t> list;
    } cases[] = {
        {"cut in its last byte", {button.begin(), button.end() - 1}},
        {"cut in a string's length", {button.begin(), button.begin() + 7}},
        {"an unknown name last", Concat({button, Record("Bogus", {1})})},
        {"an unknown name in the middle",
         Concat({Record("Left", Int64(7)), Record("Bogus", {1}), Record("Top", Int64(9))})},
        {"a string longer than the list", Concat({Record("Caption", {0xFF, 0xFF, 0xFF, 0xFF})})},
        {"an empty name", Concat({Record("Left", Int64(7)), Record("", Int64(7))})},
    };
    for (const auto& c : cases) {
        auto target = std::make_shared<platform::PushButton>();
        target->Constructor();
        EXPECT_THROW(platform::SetProperties(*target, c.list), UnsupportedFormatException)
            << c.what;
        EXPECT_EQ(target->Name(), "") << c.what;
        EXPECT_EQ(target->Left(), 0) << c.what;
        EXPECT_EQ(target->Top(), 0) << c.what;
        EXPECT_EQ(target->Caption(), "") << c.what;
        EXPECT_FALSE(target->Default()) << c.what;
        EXPECT_EQ(platform::NativeAccess::Widget(*target)->geometry(), QRect(0, 0, 80, 20))
            << c.what;
    }
}

TEST_F(PropertyListTest, ButtonListLandsInTheButtonAndItsWidget) {
    auto button = std::make_shared<platform::PushButton>();
    button->Constructor();
    button->SetIndex(7);
    button->SetMacButtonStyle(3);
    button->SetFontName("Other");
    button->SetTooltip("tip");
    platform::SetProperties(*button, kStartStopButtonList);

    EXPECT_EQ(button->Name(), "StartStopButton");
    EXPECT_EQ(button->Index(), -2147483648);
    EXPECT_EQ(button->Caption(), "Start");
    EXPECT_EQ(button->Left(), 94);
    EXPECT_EQ(button->Top(), 72);
    EXPECT_EQ(button->Width(), 121);
    EXPECT_EQ(button->Height(), 53);
    EXPECT_TRUE(button->Default());
    EXPECT_FALSE(button->Cancel());
    EXPECT_EQ(button->MacButtonStyle(), 0);
    EXPECT_EQ(button->FontName(), "System");
    EXPECT_EQ(button->FontSize(), 0.0f);
    EXPECT_EQ(button->FontUnit(), 0);
    EXPECT_EQ(button->Tooltip(), "");
    EXPECT_EQ(button->InitialParent(), "");
    EXPECT_TRUE(button->Enabled());
    EXPECT_TRUE(button->Visible());

    auto* widget = qobject_cast<QPushButton*>(platform::NativeAccess::Widget(*button));
    ASSERT_NE(widget, nullptr);
    EXPECT_EQ(widget->text(), QStringLiteral("Start"));
    EXPECT_EQ(widget->geometry(), QRect(94, 72, 121, 53));
    EXPECT_TRUE(widget->isDefault());
    EXPECT_TRUE(widget->isEnabled());
    EXPECT_TRUE(widget->toolTip().isEmpty());
}

TEST_F(PropertyListTest, WindowListLandsInTheWindow) {
    platform::Window window;
    window.SetWidth(1);
    window.SetHeight(1);
    window.SetTitle("before");
    window.SetResizeable(true);
    window.SetMacProcId(99);
    window.SetHasBackgroundColor(false);
    window.SetBackgroundColor(Color{0x12345678});
    platform::SetProperties(window, kMainWindowList);

    EXPECT_EQ(window.Title(), "Zelim");
    EXPECT_EQ(window.Width(), 308);
    EXPECT_EQ(window.Height(), 196);
    EXPECT_EQ(window.MinimumWidth(), 64);
    EXPECT_EQ(window.MinimumHeight(), 64);
    EXPECT_EQ(window.MaximumWidth(), 32000);
    EXPECT_EQ(window.MaximumHeight(), 32000);
    EXPECT_FALSE(window.Resizeable());
    EXPECT_EQ(window.MacProcId(), 0) << "\"MacProcID\" sets MacProcId";
    EXPECT_TRUE(window.HasBackgroundColor());
    EXPECT_EQ(window.BackgroundColor(), Color{0x00FD84A6});
    EXPECT_TRUE(window.HasCloseButton());
    EXPECT_TRUE(window.HasFullScreenButton());
    EXPECT_TRUE(window.Visible());
    EXPECT_TRUE(window.MenuBarVisible());
    EXPECT_FALSE(window.Composite());
    EXPECT_FALSE(window.FullScreen());
    EXPECT_EQ(window.DefaultLocation(), 0);
}

// Some defaults equal the lists' values: a property preset away from its value shows the
// list set it.
struct IntegerLanding {
    const char* name;
    std::function<void(platform::Object&)> preset;
    std::function<std::int64_t(const platform::Object&)> read;
    std::int64_t expected;
};

template <class T>
IntegerLanding Lands(const char* name, void (T::*set)(std::int64_t), std::int64_t (T::*get)() const,
                     std::int64_t before, std::int64_t expected) {
    return {name, [set, before](platform::Object& o) { (dynamic_cast<T&>(o).*set)(before); },
            [get](const platform::Object& o) { return (dynamic_cast<const T&>(o).*get)(); },
            expected};
}

struct LandingCase {
    const char* what;
    platform::Object& target;
    Bytes list;
    std::vector<IntegerLanding> properties;
};

TEST_F(PropertyListTest, ThreadAndTimerListsLandInTheirObjects) {
    using platform::Thread;
    using platform::Timer;
    Thread thread;
    Timer timer;
    const LandingCase cases[] = {
        {"checkPlayMusicThread",
         thread,
         kCheckPlayMusicThreadList,
         {Lands("Priority", &Thread::SetPriority, &Thread::Priority, 1, 5),
          Lands("StackSize", &Thread::SetStackSize, &Thread::StackSize, 4096, 0)}},
        {"SampleTimer",
         timer,
         kSampleTimerList,
         {Lands("RunMode", &Timer::SetRunMode, &Timer::RunMode, 0, 2),
          Lands("Period", &Timer::SetPeriod, &Timer::Period, 1000, 42)}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        for (const auto& p : c.properties) {
            p.preset(c.target);
        }
        platform::SetProperties(c.target, c.list);
        for (const auto& p : c.properties) {
            EXPECT_EQ(p.read(c.target), p.expected) << p.name;
        }
    }
}

// The four lists through the one path, on the window's own control classes.
TEST_F(PropertyListTest, ListsApplyToTheWindowsOwnClasses) {
    wrapper_checkPlayMusicThread thread;
    thread.SetPriority(1);
    platform::SetProperties(thread, kCheckPlayMusicThreadList);
    EXPECT_EQ(thread.Priority(), 5);

    wrapper_SampleTimer timer;
    platform::SetProperties(timer, kSampleTimerList);
    EXPECT_EQ(timer.Period(), 42);

    auto window = std::make_shared<MainWindow>();
    platform::SetProperties(*window, kMainWindowList);
    EXPECT_EQ(window->Title(), "Zelim");
    EXPECT_EQ(window->BackgroundColor(), Color{0x00FD84A6});
}

} // namespace
