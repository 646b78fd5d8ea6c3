// Engine start and end: they compose every subsystem, so they sit above all of them.
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
