// Engine start and end, and the fatal-error exit.
#pragma once

// Before engine start: 1 draws through Direct3D (over the recording stand-in device of
// platform/), 0 through the software renderer, the default. -1 (and no change) once the engine
// runs.
int SetUse3DFlag(int flag);

// Starts the engine: installs the default file-function table, re-creates the log, writes the
// system information (which sets MmxUsableFlag), fixes UseDirect3DFlag from SetUse3DFlag and
// starts graphics at the size and colour depth that SetGraphMode gave (640 x 480, 32-bit by
// default), then chooses the back and then the front screen as draw screen. 0; -1 when the engine already runs or graphics cannot start (then nothing is left
// running and the log says why).
int InitLibrary();
// Ends the engine: graphics end, the start directory becomes current again, every tracked
// block still held is written to the log, and the log is closed. 0; -1 when the engine does not
// run.
int EndLibrary();
// 1 between InitLibrary and EndLibrary.
int IsLibraryRunning();

// Writes message and a line feed to the log, ends the engine and exits the process with -1
// (status 255). Does not return.
[[noreturn]] void FatalErrorExit(const char* message);
// Test hook: when set, FatalErrorExit writes the log line and then calls the hook in place of
// ending the engine and the process. The hook must not return (tests throw from it); if it
// does, the process ends as usual. Null removes it.
using FatalErrorHook = void (*)(const char* message);
void SetFatalErrorHook(FatalErrorHook hook);
