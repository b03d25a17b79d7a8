#include "app/App.h"
#include "window/MainWindow.h"

using platform::Deref;

void MainWindow::StartStopButton_Action(const std::shared_ptr<platform::PushButton>&) {
    // The caption is the only record of whether Zelim listens.
    if (platform::RuntimeStringCompare(Deref(StartStopButton(), "StartStopButton").Caption(),
                                       "Start") == 0) {
        Deref(StartStopButton(), "StartStopButton").SetCaption("Stop");
        ConnectToSound();
        Deref(SampleTimer(), "SampleTimer").SetEnabled(true);
        Deref(checkPlayMusicThread(), "checkPlayMusicThread").Start();
        return;
    }
    Deref(StartStopButton(), "StartStopButton").SetCaption("Start");
    Deref(checkPlayMusicThread(), "checkPlayMusicThread").Stop();
    Deref(SampleTimer(), "SampleTimer").SetEnabled(false);
    if (sr) {
        sr->Stop();
    }
    // The thread and the timer are stopped: a refill it cut short is made good here.
    ResetSampleArray();
    Deref(App::Instance(), "App").PlayMusicFlag = false;
}

void MainWindow::Event_Open() {
    Deref(SampleTimer(), "SampleTimer").SetEnabled(false);
    const std::int64_t perSecond = Deref(App::Instance(), "App").SamplesPerSecond;
    // A rate of 0 or less has no period; converting its quotient would be undefined.
    if (perSecond <= 0) {
        throw platform::OutOfBoundsException("SamplesPerSecond must be positive");
    }
    Deref(SampleTimer(), "SampleTimer")
        .SetPeriod(static_cast<std::int64_t>(1000.0 / static_cast<double>(perSecond)));
}

void MainWindow::Event_Close() {
    if (Deref(checkPlayMusicThread(), "checkPlayMusicThread").State() !=
        platform::Thread::NotRunning) {
        Deref(checkPlayMusicThread(), "checkPlayMusicThread").Stop();
    }
    if (sr) {
        sr->Stop();
    }
}

void MainWindow::ConnectToSound() {
    // The previous stream, stopped by the last "Stop", is released here, never closed.
    sr = New<platform::PortAudioStream>();
    if (sr->OpenDefaultStream(1, 0, 1, 44100.0, 10240, 0) != 0) {
        return;
    }
    sr->Start();
}
