#include <qzlib/file/path.h>

#include <iconv.h>

#include <cerrno>
#include <cstring>
#include <mutex>
#include <vector>

#include <qzlib/base/strutil.h>
#include <qzlib/file/file.h>

namespace {

// A path taken apart: its root ("C:\", "\" or "" for a relative path) and its components.
struct PathParts {
  std::string Root;
  std::vector<std::string> Parts;
};

bool IsAsciiLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

bool HasDrive(const char* p) { return IsAsciiLetter(p[0]) && p[1] == ':'; }

// Appends the components of p to parts, resolving "." and "..". A separator counts only at a
// character start (a double-byte character's trail byte may be "\\").
void AddComponents(const char* p, std::vector<std::string>* parts) {
  for (;;) {
    const char* start = p;
    while (*p && *p != '\\' && *p != '/') p += IsLeadByte(p) && p[1] ? 2 : 1;
    const size_t n = static_cast<size_t>(p - start);
    if (n == 0 || (n == 1 && start[0] == '.')) {
    } else if (n == 2 && start[0] == '.' && start[1] == '.') {
      if (!parts->empty()) parts->pop_back();
    } else {
      parts->emplace_back(start, n);
    }
    if (!*p) return;
    ++p;
  }
}

bool IsRooted(const char* p) { return HasDrive(p) || IsPathSeparator(p); }

// A rooted path taken apart. A drive without a separator ("C:name") counts as the drive's root.
void ParseRooted(const char* p, PathParts* out) {
  out->Parts.clear();
  out->Parts.reserve(16);
  if (HasDrive(p)) {
    out->Root.assign(p, 2);
    out->Root += '\\';
    p += 2;
  } else {
    out->Root = "\\";
  }
  AddComponents(p, &out->Parts);
}

// The full form of path against base (the current directory when null; a relative base is taken
// against the current directory first).
bool MakeFull(const char* path, const char* base, PathParts* out) {
  if (HasDrive(path)) {
    ParseRooted(path, out);
    return true;
  }
  if (base && IsRooted(base)) {
    ParseRooted(base, out);
  } else {
    char cwd[4096];
    if (FileGetCurrentDir(cwd, sizeof(cwd)) != 0 || !IsRooted(cwd)) return false;
    ParseRooted(cwd, out);
    if (base) AddComponents(base, &out->Parts);
  }
  if (IsPathSeparator(path)) out->Parts.clear();
  AddComponents(path, &out->Parts);
  return true;
}

std::string Join(const PathParts& p) {
  size_t length = p.Root.size() + p.Parts.size();
  for (const std::string& part : p.Parts) length += part.size();
  std::string s;
  s.reserve(length);
  s = p.Root;
  for (size_t i = 0; i < p.Parts.size(); ++i) {
    if (i) s += '\\';
    s += p.Parts[i];
  }
  return s;
}

int Put(const std::string& s, char* out, size_t outSize) {
  if (!out) return 0;
  return StrCopy(out, outSize, s.c_str());
}

// Converts between character sets with iconv; the converters are opened once and shared.
bool Convert(const char* to, const char* from, iconv_t* cache, const char* in, std::string* out) {
  static std::mutex lock;
  std::lock_guard<std::mutex> guard(lock);
  if (*cache == reinterpret_cast<iconv_t>(-1)) {
    *cache = iconv_open(to, from);
    if (*cache == reinterpret_cast<iconv_t>(-1)) return false;
  }
  iconv(*cache, nullptr, nullptr, nullptr, nullptr);
  size_t inLeft = std::strlen(in);
  std::string result(inLeft * 3 + 4, '\0');
  char* src = const_cast<char*>(in);
  char* dst = result.data();
  size_t outLeft = result.size();
  if (iconv(*cache, &src, &inLeft, &dst, &outLeft) == static_cast<size_t>(-1)) return false;
  if (iconv(*cache, nullptr, nullptr, &dst, &outLeft) == static_cast<size_t>(-1)) return false;
  result.resize(result.size() - outLeft);
  *out = std::move(result);
  return true;
}

bool IsAscii(const char* s) {
  for (; *s; ++s)
    if (static_cast<uint8_t>(*s) >= 0x80) return false;
  return true;
}

}  // namespace

int IsPathSeparator(const char* p) { return (*p == '\\' || *p == '/') ? 1 : 0; }

int SplitPathDirFile(const char* path, char* fileOut, size_t fileSize, char* dirOut,
                     size_t dirSize) {
  const char* last = nullptr;
  for (const char* p = path; *p; p += SjisCharLength(p)) {
    if (IsPathSeparator(p) || *p == ':') last = p;
  }
  int result = 0;
  if (last) {
    if (fileOut && StrCopy(fileOut, fileSize, last + 1) != 0) result = -1;
    if (dirOut && Put(std::string(path, static_cast<size_t>(last - path)), dirOut, dirSize) != 0)
      result = -1;
  } else {
    if (fileOut && StrCopy(fileOut, fileSize, path) != 0) result = -1;
    if (dirOut && StrCopy(dirOut, dirSize, "") != 0) result = -1;
  }
  return result;
}

int ConvertFullPath(const char* path, char* out, size_t outSize, const char* base) {
  PathParts full;
  if (!MakeFull(path, base, &full)) {
    if (out && outSize) out[0] = 0;
    return -1;
  }
  return Put(Join(full), out, outSize);
}

int CreateRelativePath(const char* filePath, const char* base, char* out, size_t outSize) {
  PathParts file, folder;
  if (!MakeFull(filePath, nullptr, &file) || !MakeFull(base, nullptr, &folder)) {
    if (out && outSize) out[0] = 0;
    return -1;
  }
  if (StrICompare(file.Root.c_str(), folder.Root.c_str()) != 0) return Put(Join(file), out, outSize);
  size_t common = 0;
  while (common < file.Parts.size() && common < folder.Parts.size() &&
         StrICompare(file.Parts[common].c_str(), folder.Parts[common].c_str()) == 0)
    ++common;
  PathParts rel;
  for (size_t i = common; i < folder.Parts.size(); ++i) rel.Parts.push_back("..");
  for (size_t i = common; i < file.Parts.size(); ++i) rel.Parts.push_back(file.Parts[i]);
  return Put(Join(rel), out, outSize);
}

bool EnginePathToOs(const char* path, std::string* osPath) {
  // Separators first, while the bytes are still Shift_JIS and a trail 0x5C can be told apart.
  std::string slashed(path);
  bool ascii = true;
  for (char* p = slashed.data(); *p;) {
    if (static_cast<uint8_t>(*p) >= 0x80) ascii = false;
    if (IsLeadByte(p) && p[1]) {
      p += 2;
      continue;
    }
    if (*p == '\\') *p = '/';
    ++p;
  }
  if (ascii) {
    *osPath = std::move(slashed);
    return true;
  }
  static iconv_t toUtf8 = reinterpret_cast<iconv_t>(-1);
  return Convert("UTF-8", "CP932", &toUtf8, slashed.c_str(), osPath);
}

bool OsPathToEngine(const char* osPath, std::string* path) {
  // "/" never occurs inside a UTF-8 character, nor is it a Shift_JIS trail byte.
  std::string swapped(osPath);
  for (char& c : swapped)
    if (c == '/') c = '\\';
  if (IsAscii(swapped.c_str())) {
    *path = std::move(swapped);
    return true;
  }
  static iconv_t toSjis = reinterpret_cast<iconv_t>(-1);
  return Convert("CP932", "UTF-8", &toSjis, swapped.c_str(), path);
}

// A run between stars matched from a later start ends no earlier, so when it fails from the last
// star's position plus one, no earlier star need be tried again.
bool MatchNamePattern(const char* pat, const char* name) {
  auto fold = [](unsigned char c) { return (c >= 'a' && c <= 'z') ? c - 32 : c; };
  const char* starPat = nullptr;
  const char* starName = nullptr;
  while (*name) {
    if (*pat == '*') {
      while (*pat == '*') ++pat;
      if (!*pat) return true;
      starPat = pat;
      starName = name;
    } else if (*pat == '?') {
      ++pat;
      ++name;
      while ((static_cast<unsigned char>(*name) & 0xC0) == 0x80) ++name;
    } else if (*pat &&
               fold(static_cast<unsigned char>(*pat)) == fold(static_cast<unsigned char>(*name))) {
      ++pat;
      ++name;
    } else if (starPat) {
      pat = starPat;
      name = ++starName;
    } else {
      return false;
    }
  }
  while (*pat == '*') ++pat;
  return *pat == 0;
}
