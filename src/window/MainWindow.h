#pragma once

#include "platform/PortAudioStream.h"
#include "platform/PushButton.h"
#include "platform/Thread.h"
#include "platform/Timer.h"
#include "platform/Window.h"

#include <memory>
#include <string_view>

// The only window. Its methods live in the folder of their concern: layout and controls
// and Start/Stop here, the level reading in detector/, the monitor thread in playback/.
class MainWindow : public platform::Window {
public:
    static const platform::ClassRecord& ClassInfo();
    const platform::ClassRecord& Class() const override { return ClassInfo(); }

    // The window's implicit instance: the open one, or else a new one, constructed.
    static std::shared_ptr<MainWindow> Instance();

    bool IsEventImplemented(std::string_view event) override;

    void Layout();
    void CreateControls();

    // Control accessors: looked up by name on every call.
    std::shared_ptr<platform::PushButton> StartStopButton();
    std::shared_ptr<platform::Thread> checkPlayMusicThread();
    std::shared_ptr<platform::Timer> SampleTimer();

    void StartStopButton_Action(const std::shared_ptr<platform::PushButton>& sender);
    void checkPlayMusicThread_Run(const std::shared_ptr<platform::Thread>& thread);
    void SampleTimer_Action(const std::shared_ptr<platform::Timer>& sender);
    void Event_Open();
    void Event_Close();
    void ConnectToSound();
    void ResetSampleArray();
    void Sample();

    // The current audio input stream; nil until the first "Start".
    std::shared_ptr<platform::PortAudioStream> sr;

private:
    void CreateControls0();
};

// The two non-visual controls' classes: a Thread and a Timer tied to the window.
class wrapper_checkPlayMusicThread : public platform::Thread {
public:
    static const platform::ClassRecord& ClassInfo();
    const platform::ClassRecord& Class() const override { return ClassInfo(); }
};

class wrapper_SampleTimer : public platform::Timer {
public:
    static const platform::ClassRecord& ClassInfo();
    const platform::ClassRecord& Class() const override { return ClassInfo(); }
};

void RegisterMainWindowClasses();

inline constexpr std::string_view kMainWindowClassName = "MainWindow.MainWindow";
