// What the engine knows of the processor and system, decided once at engine start.
#pragma once

// 1 when the processor offers the MMX instructions, else 0. Every x86-64 processor does, so it
// starts as 1; engine start sets it again from the processor's own report. Drawers with MMX
// loops read it once per call and take them only when it is exactly 1; tests may set it.
extern int MmxUsableFlag;

// MmxUsableFlag, for the callers that ask through a function.
int GetMmxFlag();

// Writes the processor and system description to the log and sets MmxUsableFlag from the
// processor. Called by engine start.
void WriteSystemInfoToLog();
