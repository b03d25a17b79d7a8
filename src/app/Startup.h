#pragma once

#include "platform/Exceptions.h"
#include "platform/Runtime.h"

#include <functional>
#include <memory>
#include <span>

// The start-up chain, from the process entry to the event loop. Each step stops at the
// first exception and lets it go to its caller; Main reports it.
std::shared_ptr<platform::RuntimeException>
CallFunctionWithExceptionHandling(const std::function<void()>& call);
void Main();
void EarlyStartup();
void InitFileTypes();
void NewAppInstance();
void ApplicationAddMenuHandlers();
void LateStartup();
void MakeDefaultView();

// The executable's table of initialisers: class records, then the track modules.
std::span<const platform::Initializer> ProgramInitializers();

// main() without the process around it: the whole run, returning the exit status.
int RunProgram(std::span<const platform::Initializer> initializers = ProgramInitializers());
