// Path helpers of the file layer.
//
// Engine paths are Shift_JIS byte strings; "\" and "/" both separate components (a "\" that is
// the trail byte of a double-byte character does not), and a path may begin with a drive
// ("C:"). Paths the helpers build use "\". Outputs take their size, are always terminated and
// never written past; a helper whose result did not fit returns -1 with the output cut.
#pragma once
#include <cstddef>
#include <string>

// Splits path at its last "\", "/" or ":". The file part is everything after it (the whole path
// when there is none), the directory part everything before it (empty when there is none).
// Either output may be null. 0, or -1 when an output was cut.
int SplitPathDirFile(const char* path, char* fileOut, size_t fileSize, char* dirOut,
                     size_t dirSize);

// The full path of path against base (a folder; the file layer's current directory when null),
// with "." and ".." resolved, empty components dropped and "\" as the separator. A path with a
// drive or a leading separator is already rooted (a drive without a separator, "C:name", counts
// as the drive's root: this system keeps no current directory per drive); ".." never climbs
// above the root.
// 0, or -1 when the output was cut or no current directory could be had.
int ConvertFullPath(const char* path, char* out, size_t outSize, const char* base = nullptr);

// The path of filePath relative to the folder base, both made full first: the components they
// share (matched with ASCII letters in either case) are left out and each remaining component of
// base becomes a ".." step. When the two lie on different drives, the full file path.
// 0, or -1 when the output was cut.
int CreateRelativePath(const char* filePath, const char* base, char* out, size_t outSize);

// 1 when the byte at p is a separator ("\" or "/") that is not part of a double-byte character;
// p must point at a character start.
int IsPathSeparator(const char* p);

// An engine path (Shift_JIS, either separator) as a path for the operating system (UTF-8, "/").
// False when the path holds bytes that are not Shift_JIS.
bool EnginePathToOs(const char* path, std::string* osPath);
// An operating-system path or name (UTF-8) as an engine path (Shift_JIS, "\"). False when it
// holds characters that Shift_JIS cannot write.
bool OsPathToEngine(const char* osPath, std::string* path);

// 1 when the UTF-8 name matches the UTF-8 pattern: "*" any run of bytes, "?" one character (a
// byte and the continuation bytes after it), other bytes themselves with ASCII letters in either
// case. Greedy, returning only to the last star: never worse than the product of the lengths.
bool MatchNamePattern(const char* pattern, const char* name);
