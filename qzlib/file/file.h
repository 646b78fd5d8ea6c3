// The file layer: every file access of the engine goes through the current file-function table.
//
// Three sets exist: the default set (the archive step, then plain files), the plain-file set and
// a set the caller supplies. Paths are engine paths (Shift_JIS, "\" or "/"; see path.h); the
// plain-file set converts them for the operating system and, when a name does not exist as
// written, matches each component again with single-byte ASCII letters in either case. Files are
// opened for reading only (only regular files open; a FIFO, device or folder is refused without
// waiting). Handles are non-zero; 0 means failure. The plain-file set's handles are checked
// numbers, not addresses: a closed, stale or forged handle makes a call fail (-1, or 0 elements
// read) and touches nothing. Sizes are asked of the file system at each call, so a file that grows
// or shrinks while open is seen as it is.
#pragma once
#include <cstddef>
#include <cstdint>

using FileHandle = uintptr_t;

// One entry found by FileFindFirst / FileFindNext.
struct FileFindInfo {
  char Name[260];   // Shift_JIS name of the entry (no folder)
  int64_t Size;     // byte size (0 for a folder)
  int32_t DirFlag;  // 1 for a folder
};

// The twelve operations of a file-function set.
struct FileFunctionTable {
  FileHandle (*Open)(const char* path, int cacheFlag, int blockReadFlag, int asyncFlag);
  int (*Close)(FileHandle handle);
  int64_t (*Tell)(FileHandle handle);
  int (*Seek)(FileHandle handle, int64_t offset, int origin);
  size_t (*Read)(void* buffer, size_t elementSize, size_t count, FileHandle handle);
  int (*Eof)(FileHandle handle);
  int (*IdleCheck)(FileHandle handle);
  int (*SetCurrentDir)(const char* path);
  int (*GetCurrentDir)(char* buffer, size_t bufferSize);
  FileHandle (*FindFirst)(const char* pattern, FileFindInfo* info);
  int (*FindNext)(FileHandle find, FileFindInfo* info);
  int (*FindClose)(FileHandle find);
};

// The sets the engine has.
const FileFunctionTable* GetDefaultFileFunctionTable();
const FileFunctionTable* GetPlainFileFunctionTable();
// Installs a set (kept by pointer; it must outlive its use); null installs the default set.
// Handles opened through one set must be closed before another is installed. Returns 0.
int SetFileFunctionTable(const FileFunctionTable* table);

// A listing scope: while one is open, the plain-file set reads a folder's entries once, at the
// first name it must match there in either case, and answers every later name in that folder
// from that listing; it also asks the file system once whether any other path exists and what
// the current directory is, and keeps the answers. Ending the outermost scope, or changing the
// current directory, drops what was kept; files made or removed meanwhile are seen only after
// that. MV1LoadModel holds a scope for the length of a load (the model file, its textures and
// its motions), during which the files it reads do not change.
void FileListingScopeBegin();
void FileListingScopeEnd();

// Opens a file for reading: a handle, or 0 when it cannot be opened. cacheFlag and asyncFlag ask
// for read-ahead and background reading, which the plain-file set does without.
FileHandle FileOpen(const char* path, int cacheFlag = 0, int blockReadFlag = 1, int asyncFlag = 0);
// Closes a handle. 0, or -1 for handle 0.
int FileClose(FileHandle handle);
// The position in bytes (after a seek to the end, the file size); -1 for handle 0.
int64_t FileTell(FileHandle handle);
// Moves the position: origin 0 start, 1 current, 2 end. 0, or -1 when the result would lie
// before the start or the origin is unknown (the position is then kept).
int FileSeek(FileHandle handle, int64_t offset, int origin);
// Reads up to count elements of elementSize bytes; returns the number of whole elements read.
// A trailing part of an element read at the end of the file is consumed but not counted.
size_t FileRead(void* buffer, size_t elementSize, size_t count, FileHandle handle);
// 1 when the position is at or past the end, else 0; -1 for handle 0.
int FileEof(FileHandle handle);
// 1 when no background reading is pending (always, for plain files).
int FileIdleCheck(FileHandle handle);
// Changes the current directory of the file layer (that of the process). 0 or -1.
int FileSetCurrentDir(const char* path);
// The current directory as an engine path ("\" separators). 0, or -1 when it does not fit.
int FileGetCurrentDir(char* buffer, size_t bufferSize);
// Starts a search for the entries of a folder whose names match the pattern's last component
// ("*" any run, "?" one character, ASCII letters in either case); "." and ".." are left out.
// A search handle with the first entry in info, or 0 when nothing matches.
FileHandle FileFindFirst(const char* pattern, FileFindInfo* info);
// The next entry: 0, or -1 when there is none left.
int FileFindNext(FileHandle find, FileFindInfo* info);
// Ends a search. 0, or -1 for handle 0.
int FileFindClose(FileHandle find);

// Reads a whole file into a tracked block (MemFreeTracked frees it); *size gets its byte count.
// Null when the file cannot be opened or read or the block cannot be had.
void* FileReadAll(const char* path, size_t* size);
