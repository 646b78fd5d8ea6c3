// The fatal-error exit every subsystem may take.
#pragma once

// Writes message and a line feed to the log, ends the engine through the end function engine
// start registered (when one is) and exits the process with -1 (status 255). Does not return.
[[noreturn]] void FatalErrorExit(const char* message);

// Test hook: when set, FatalErrorExit writes the log line and then calls the hook in place of
// ending the engine and the process. The hook must not return (tests throw from it); if it
// does, the process ends as usual. Null removes it.
using FatalErrorHook = void (*)(const char* message);
void SetFatalErrorHook(FatalErrorHook hook);

// Engine start registers the function that ends the engine, and engine end removes it (null),
// so that base services can end the engine without depending on the subsystems above them.
using FatalErrorEndFunction = void (*)();
void SetFatalErrorEndFunction(FatalErrorEndFunction end);
