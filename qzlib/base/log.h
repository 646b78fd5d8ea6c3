// The engine log, "Log.txt" in the start directory, re-created at every engine start.
//
// Each new line begins with the milliseconds since the log was opened, a colon and one tab per
// indentation level; line feeds are written as CR LF. Each write opens, appends and closes the
// file. Before LogInitialize (or after LogTerminate) writes go only to an active test capture.
#pragma once
#include <string>

// Re-creates "Log.txt" in the current directory (the engine's start directory; the file stays
// there when the current directory changes later) and resets the clock and the indentation.
void LogInitialize();
// Stops writing to the file.
void LogTerminate();

// Appends text to the log; always returns -1 (callers return it as their failure result).
int WriteLog(const char* text);
// printf rules into a 1024-byte buffer (truncated there), then a line feed; returns -1.
int WriteLogFmt(const char* format, ...) __attribute__((format(printf, 1, 2)));
// One more / one less tab at the start of each new line (never below 0).
void AddLogIndent();
void SubLogIndent();

// Test capture: while active, every byte written to the log (after stamping and CR LF) is also
// appended to the capture.
void LogCaptureBegin();
std::string LogCaptureEnd();
// The capture so far, with the "<ms>:" stamps removed (tabs kept), CR LF kept.
std::string LogCaptureTextWithoutStamps();
