#include <qzlib/file/file.h>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <mutex>
#include <new>
#include <string>
#include <map>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include <qzlib/base/memory.h>
#include <qzlib/base/strutil.h>
#include <qzlib/file/path.h>

namespace {

struct PlainFile {
  int Fd;
};

struct PlainFind {
  DIR* Dir;
  char Pattern[1024];  // UTF-8 name pattern
  char Folder[4096];   // UTF-8 folder, "/"-terminated or empty
};

// Open plain files and searches are named by handles, never by address: bit 31 clear, the kind in
// bits 28-30, a 12-bit check number in bits 16-27 (a counter that wraps, kept with the slot) and
// the slot index in bits 0-15. A closed, stale or forged handle finds no live slot of its kind
// with its check number, and the call fails without touching anything.
constexpr uintptr_t kFileKind = 1, kFindKind = 2;
constexpr int kHandleSlots = 4096;
constexpr uint32_t kCheckMask = 0xFFF;

struct HandleSlot {
  void* Body;
  uint32_t Check;
};

struct HandleTable {
  uintptr_t Kind;
  HandleSlot Slots[kHandleSlots];
  uint32_t NextCheck;
};

HandleTable g_files = {kFileKind, {}, 0};
HandleTable g_finds = {kFindKind, {}, 0};
std::mutex g_handleLock;

// Enters body in a free slot: its handle, or 0 when the table is full.
FileHandle AddHandle(HandleTable* t, void* body) {
  std::lock_guard<std::mutex> lock(g_handleLock);
  for (int i = 0; i < kHandleSlots; ++i) {
    if (t->Slots[i].Body) continue;
    uint32_t check = t->NextCheck;
    t->NextCheck = (t->NextCheck + 1) & kCheckMask;
    t->Slots[i] = {body, check};
    return (t->Kind << 28) | (uintptr_t(check) << 16) | uintptr_t(i);
  }
  return 0;
}

// The body a handle names, or null; with remove, its slot is freed.
void* FindHandle(HandleTable* t, FileHandle h, bool remove) {
  if (h >> 31 || (h >> 28) != t->Kind) return nullptr;
  size_t i = h & 0xFFFF;
  if (i >= kHandleSlots) return nullptr;
  std::lock_guard<std::mutex> lock(g_handleLock);
  HandleSlot& slot = t->Slots[i];
  if (!slot.Body || slot.Check != ((h >> 16) & kCheckMask)) return nullptr;
  void* body = slot.Body;
  if (remove) slot.Body = nullptr;
  return body;
}

PlainFile* AsFile(FileHandle h) { return static_cast<PlainFile*>(FindHandle(&g_files, h, false)); }

PlainFind* AsFind(FileHandle h) { return static_cast<PlainFind*>(FindHandle(&g_finds, h, false)); }

// The current size of an open file, or -1.
int64_t CurrentSize(const PlainFile* f) {
  struct stat st;
  return fstat(f->Fd, &st) == 0 ? static_cast<int64_t>(st.st_size) : -1;
}

std::string Folded(std::string_view s) {
  std::string f(s);
  for (char& c : f)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
  return f;
}

// A folder's entries as (folded name, name) pairs sorted, so that the first of equal folded names
// is the least name; a folder that cannot be read has none.
struct Listing {
  bool readable;
  std::vector<std::pair<std::string, std::string>> entries;
};

// What a listing scope keeps: per folder (the folder path as the name matching walks it), its
// listing; per path asked about, whether it exists; the current directory.
struct ListingCache {
  std::mutex lock;
  int scopes = 0;
  std::map<std::string, Listing, std::less<>> folders;  // looked up by views, without copies
  std::unordered_map<std::string, bool> exists;
  std::string currentDir;  // empty until asked
  void Clear() {
    folders.clear();
    exists.clear();
    currentDir.clear();
  }
};
ListingCache g_listings;

// Whether a path exists as far as the open listing scope knows without asking the file system:
// 1 or 0, or -1 when it does not know (or no scope is open). The caller holds the lock.
int KnownExists(const std::string& p) {
  if (g_listings.scopes == 0) return -1;
  auto it = g_listings.exists.find(p);
  if (it != g_listings.exists.end()) return it->second ? 1 : 0;
  // an entry of a folder listed already is in its listing, exactly as written
  const size_t slash = p.rfind('/');
  const size_t cut = slash == std::string::npos ? 0 : slash + 1;
  auto listed = g_listings.folders.find(std::string_view(p).substr(0, cut));
  if (cut == p.size() || listed == g_listings.folders.end()) return -1;
  const std::string_view name = std::string_view(p).substr(cut);
  const std::string folded = Folded(name);
  const auto& entries = listed->second.entries;
  auto hit = std::lower_bound(entries.begin(), entries.end(), std::make_pair(folded, name),
                              [](const std::pair<std::string, std::string>& e,
                                 const std::pair<std::string_view, std::string_view>& k) {
                                return e.first != k.first ? e.first < k.first : e.second < k.second;
                              });
  return hit != entries.end() && hit->first == folded && hit->second == name ? 1 : 0;
}

bool Exists(const std::string& p) {
  std::lock_guard<std::mutex> guard(g_listings.lock);
  const int known = KnownExists(p);
  if (known >= 0) return known == 1;
  struct stat st;
  const bool found = lstat(p.c_str(), &st) == 0;
  if (g_listings.scopes > 0) g_listings.exists.emplace(p, found);
  return found;
}

// True when a listing scope knows that the path does not exist.
bool KnownMissing(const std::string& p) {
  std::lock_guard<std::mutex> guard(g_listings.lock);
  return KnownExists(p) == 0;
}

bool FoldEqual(const char* a, const char* b) {
  for (;; ++a, ++b) {
    unsigned char x = static_cast<unsigned char>(*a), y = static_cast<unsigned char>(*b);
    if (x >= 'a' && x <= 'z') x = static_cast<unsigned char>(x - 32);
    if (y >= 'a' && y <= 'z') y = static_cast<unsigned char>(y - 32);
    if (x != y) return false;
    if (x == 0) return true;
  }
}


// Calls each(name) for every entry of an operating-system folder ("" is the current one), "." and
// ".." included, read straight into a buffer on the stack; false when the folder cannot be read.
template <class Each>
bool ForEachEntry(const std::string& folder, Each each) {
  const int fd = open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  alignas(8) char buffer[8192];
  for (;;) {
    const long n = syscall(SYS_getdents64, fd, buffer, sizeof(buffer));
    if (n <= 0) break;  // the end, or an error: the entries read so far stand, as with readdir
    for (long at = 0; at < n;) {
      struct Entry {
        uint64_t ino;
        int64_t off;
        unsigned short reclen;
        unsigned char type;
        char name[1];
      };
      const auto* e = reinterpret_cast<const Entry*>(buffer + at);
      each(static_cast<const char*>(e->name));
      at += e->reclen;
    }
  }
  close(fd);
  return true;
}

// The entry of an operating-system folder ("" is the current one) that matches comp with ASCII
// letters in either case, the least such name when several match; empty when none does.
std::string ScanFolderFor(const std::string& folder, const std::string& comp) {
  std::string best;
  ForEachEntry(folder, [&](const char* name) {
    if (FoldEqual(name, comp.c_str()) && (best.empty() || best > name)) best = name;
  });
  return best;
}

// The least entry of a listing equal to comp with ASCII letters in either case; empty when none.
std::string FoldedMatch(const Listing& listing, std::string_view comp) {
  const std::string key = Folded(comp);
  auto hit = std::lower_bound(listing.entries.begin(), listing.entries.end(), std::make_pair(key, std::string()));
  return hit != listing.entries.end() && hit->first == key ? hit->second : std::string();
}

// The kept listing of a folder, read now when it is not kept yet; a folder that cannot be read is
// kept as such only with keepUnreadable (null is returned otherwise). The caller holds the lock
// of an open listing scope.
const Listing* KeptListing(std::string_view folder, bool keepUnreadable) {
  auto it = g_listings.folders.find(folder);
  if (it == g_listings.folders.end()) {
    Listing listing{false, {}};
    listing.readable = ForEachEntry(std::string(folder), [&](const char* name) {
      listing.entries.emplace_back(Folded(name), name);
    });
    if (!listing.readable && !keepUnreadable) return nullptr;
    std::sort(listing.entries.begin(), listing.entries.end());
    it = g_listings.folders.emplace(std::string(folder), std::move(listing)).first;
  }
  return &it->second;
}

// As ScanFolderFor, from the folder's kept listing while a listing scope is open.
std::string MatchInFolder(const std::string& folder, const std::string& comp) {
  std::lock_guard<std::mutex> guard(g_listings.lock);
  if (g_listings.scopes == 0) return ScanFolderFor(folder, comp);
  return FoldedMatch(*KeptListing(folder, true), comp);
}

// Within a listing scope, the resolution of a missing os path whose folder (everything up to its
// last "/") can be listed as written: every component of that folder then exists as written, so
// the walk over the components would keep them all, and only the last component is matched (in
// the folder's listing, which the walk would read too). False when the walk has to decide.
bool ResolveInListedFolder(const std::string& os, std::string* out) {
  std::lock_guard<std::mutex> guard(g_listings.lock);
  if (g_listings.scopes == 0) return false;
  const size_t slash = os.rfind('/');
  const size_t cut = slash == std::string::npos ? 0 : slash + 1;
  const std::string_view name = std::string_view(os).substr(cut);
  if (name.empty() || name == "." || name == "..") return false;
  const Listing* listing = KeptListing(std::string_view(os).substr(0, cut), false);
  if (!listing || !listing->readable) return false;
  const std::string best = FoldedMatch(*listing, name);
  out->assign(os, 0, cut);
  if (best.empty()) out->append(name);
  else out->append(best);
  return true;
}

// The operating-system path for an engine path: as written when it exists, else with each
// missing component replaced by the entry of its folder that matches it with ASCII letters in
// either case (the least such name when several match). UTF-8 names hold bytes 0x80 and above
// only inside multi-byte characters, so folding ASCII letters there touches no other character.
bool ResolveOsPath(const char* path, std::string* out) {
  std::string os;
  if (!EnginePathToOs(path, &os)) return false;
  if (os.empty() || Exists(os)) {
    *out = os;
    return true;
  }
  if (ResolveInListedFolder(os, out)) return true;
  std::string resolved = os[0] == '/' ? "/" : "";
  size_t pos = 0;
  while (pos <= os.size()) {
    size_t slash = os.find('/', pos);
    if (slash == std::string::npos) slash = os.size();
    std::string comp = os.substr(pos, slash - pos);
    pos = slash + 1;
    if (comp.empty()) continue;
    std::string candidate = resolved + comp;
    if (comp != "." && comp != ".." && !Exists(candidate)) {
      std::string best = MatchInFolder(resolved, comp);
      if (!best.empty()) candidate = resolved + best;
    }
    resolved = candidate;
    if (pos <= os.size()) resolved += '/';
  }
  *out = resolved;
  return true;
}

// ---- the plain-file set ----

FileHandle PlainOpen(const char* path, int, int, int) {
  if (!path) return 0;
  std::string os;
  if (!ResolveOsPath(path, &os) || KnownMissing(os)) return 0;
  // Opened without blocking and checked before use: a FIFO or device never stalls the open.
  int fd = open(os.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return 0;
  // the status flags it was opened with are known: only the non-blocking one is dropped
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || fcntl(fd, F_SETFL, 0) != 0) {
    close(fd);
    return 0;
  }
  auto* f = static_cast<PlainFile*>(MEM_ALLOC(sizeof(PlainFile)));
  if (f) f->Fd = fd;
  FileHandle h = f ? AddHandle(&g_files, f) : 0;
  if (!h) {
    MemFreeTracked(f);
    close(fd);
  }
  return h;
}

int PlainClose(FileHandle h) {
  auto* f = static_cast<PlainFile*>(FindHandle(&g_files, h, true));
  if (!f) return -1;
  close(f->Fd);
  MemFreeTracked(f);
  return 0;
}

int64_t PlainTell(FileHandle h) {
  PlainFile* f = AsFile(h);
  if (!f) return -1;
  return lseek(f->Fd, 0, SEEK_CUR);
}

int PlainSeek(FileHandle h, int64_t offset, int origin) {
  PlainFile* f = AsFile(h);
  if (!f) return -1;
  // from the end, backwards or not at all: the file system checks the start itself
  if (origin == 2 && offset <= 0) return lseek(f->Fd, offset, SEEK_END) < 0 ? -1 : 0;
  int64_t base;
  switch (origin) {
    case 0: base = 0; break;
    case 1: base = lseek(f->Fd, 0, SEEK_CUR); break;
    case 2: base = CurrentSize(f); break;
    default: return -1;
  }
  if (base < 0) return -1;
  if (offset < 0 ? offset < -base : offset > INT64_MAX - base) return -1;
  return lseek(f->Fd, base + offset, SEEK_SET) < 0 ? -1 : 0;
}

size_t PlainRead(void* buffer, size_t elementSize, size_t count, FileHandle h) {
  PlainFile* f = AsFile(h);
  if (!f || !buffer || elementSize == 0 || count == 0) return 0;
  if (count > SIZE_MAX / elementSize) return 0;
  size_t total = elementSize * count, done = 0;
  auto* out = static_cast<uint8_t*>(buffer);
  while (done < total) {
    ssize_t n = read(f->Fd, out + done, std::min<size_t>(total - done, size_t(1) << 30));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  return done / elementSize;
}

int PlainEof(FileHandle h) {
  PlainFile* f = AsFile(h);
  if (!f) return -1;
  int64_t size = CurrentSize(f), pos = lseek(f->Fd, 0, SEEK_CUR);
  if (size < 0 || pos < 0) return -1;
  return pos >= size ? 1 : 0;
}

int PlainIdleCheck(FileHandle) { return 1; }

int PlainSetCurrentDir(const char* path) {
  if (!path) return -1;
  std::string os;
  if (!ResolveOsPath(path, &os)) return -1;
  if (chdir(os.c_str()) != 0) return -1;
  // what a scope kept was found from the old current directory
  std::lock_guard<std::mutex> guard(g_listings.lock);
  g_listings.Clear();
  return 0;
}

int PlainGetCurrentDir(char* buffer, size_t bufferSize) {
  if (!buffer || bufferSize == 0) return -1;
  std::lock_guard<std::mutex> guard(g_listings.lock);
  std::string engine = g_listings.currentDir;
  char cwd[PATH_MAX];
  if (engine.empty() && (!getcwd(cwd, sizeof(cwd)) || !OsPathToEngine(cwd, &engine))) {
    buffer[0] = 0;
    return -1;
  }
  if (g_listings.scopes > 0) g_listings.currentDir = engine;
  return StrCopy(buffer, bufferSize, engine.c_str());
}

// Fills info from the next matching entry; false when there is none.
bool NextMatch(PlainFind* f, FileFindInfo* info) {
  while (dirent* e = readdir(f->Dir)) {
    if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
    if (!MatchNamePattern(f->Pattern, e->d_name)) continue;
    std::string name;
    // names that Shift_JIS cannot write cannot be opened by the engine either
    if (!OsPathToEngine(e->d_name, &name) || name.size() >= sizeof(info->Name)) continue;
    struct stat st;
    std::string full = std::string(f->Folder) + e->d_name;
    if (stat(full.c_str(), &st) != 0) continue;
    if (info) {
      StrCopy(info->Name, sizeof(info->Name), name.c_str());
      info->DirFlag = S_ISDIR(st.st_mode) ? 1 : 0;
      info->Size = info->DirFlag ? 0 : st.st_size;
    }
    return true;
  }
  return false;
}

FileHandle PlainFindFirst(const char* pattern, FileFindInfo* info) {
  if (!pattern) return 0;
  char file[1024], dir[4096];
  if (SplitPathDirFile(pattern, file, sizeof(file), dir, sizeof(dir)) != 0) return 0;
  // "C:" alone splits as folder "C"; a lone root keeps its separator
  if (dir[0] == 0 && IsPathSeparator(pattern)) StrCopy(dir, sizeof(dir), "/");
  std::string osDir, osPattern;
  if (!ResolveOsPath(dir[0] ? dir : ".", &osDir) || !EnginePathToOs(file, &osPattern)) return 0;
  if (osPattern.size() >= sizeof(PlainFind::Pattern) || osDir.size() + 1 >= sizeof(PlainFind::Folder))
    return 0;
  auto* f = static_cast<PlainFind*>(MEM_ALLOC(sizeof(PlainFind)));
  if (!f) return 0;
  std::memcpy(f->Pattern, osPattern.c_str(), osPattern.size() + 1);
  std::string folder = osDir == "." ? "" : osDir;
  if (!folder.empty() && folder.back() != '/') folder += '/';
  std::memcpy(f->Folder, folder.c_str(), folder.size() + 1);
  f->Dir = opendir(osDir.c_str());
  FileHandle h = f->Dir && NextMatch(f, info) ? AddHandle(&g_finds, f) : 0;
  if (!h) {
    if (f->Dir) closedir(f->Dir);
    MemFreeTracked(f);
  }
  return h;
}

int PlainFindNext(FileHandle h, FileFindInfo* info) {
  PlainFind* f = AsFind(h);
  if (!f) return -1;
  return NextMatch(f, info) ? 0 : -1;
}

int PlainFindClose(FileHandle h) {
  auto* f = static_cast<PlainFind*>(FindHandle(&g_finds, h, true));
  if (!f) return -1;
  closedir(f->Dir);
  MemFreeTracked(f);
  return 0;
}

// ---- the default set ----

// The archive step: this engine reads no archives, so it never opens anything and every path
// goes on to the plain files.
FileHandle ArchiveOpen(const char*, int, int, int) { return 0; }

FileHandle DefaultOpen(const char* path, int cacheFlag, int blockReadFlag, int asyncFlag) {
  if (FileHandle h = ArchiveOpen(path, cacheFlag, blockReadFlag, asyncFlag)) return h;
  return PlainOpen(path, cacheFlag, blockReadFlag, asyncFlag);
}

const FileFunctionTable kPlainTable = {
    PlainOpen,          PlainClose,         PlainTell,      PlainSeek,
    PlainRead,          PlainEof,           PlainIdleCheck, PlainSetCurrentDir,
    PlainGetCurrentDir, PlainFindFirst,     PlainFindNext,  PlainFindClose,
};

const FileFunctionTable kDefaultTable = {
    DefaultOpen,        PlainClose,         PlainTell,      PlainSeek,
    PlainRead,          PlainEof,           PlainIdleCheck, PlainSetCurrentDir,
    PlainGetCurrentDir, PlainFindFirst,     PlainFindNext,  PlainFindClose,
};

const FileFunctionTable* g_table = &kDefaultTable;

}  // namespace

const FileFunctionTable* GetDefaultFileFunctionTable() { return &kDefaultTable; }
const FileFunctionTable* GetPlainFileFunctionTable() { return &kPlainTable; }

int SetFileFunctionTable(const FileFunctionTable* table) {
  g_table = table ? table : &kDefaultTable;
  return 0;
}

void FileListingScopeBegin() {
  std::lock_guard<std::mutex> guard(g_listings.lock);
  ++g_listings.scopes;
}

void FileListingScopeEnd() {
  std::lock_guard<std::mutex> guard(g_listings.lock);
  if (g_listings.scopes > 0 && --g_listings.scopes == 0) g_listings.Clear();
}

FileHandle FileOpen(const char* path, int cacheFlag, int blockReadFlag, int asyncFlag) {
  return g_table->Open(path, cacheFlag, blockReadFlag, asyncFlag);
}

int FileClose(FileHandle handle) { return handle ? g_table->Close(handle) : -1; }

int64_t FileTell(FileHandle handle) { return handle ? g_table->Tell(handle) : -1; }

int FileSeek(FileHandle handle, int64_t offset, int origin) {
  return handle ? g_table->Seek(handle, offset, origin) : -1;
}

size_t FileRead(void* buffer, size_t elementSize, size_t count, FileHandle handle) {
  return handle ? g_table->Read(buffer, elementSize, count, handle) : 0;
}

int FileEof(FileHandle handle) { return handle ? g_table->Eof(handle) : -1; }

int FileIdleCheck(FileHandle handle) { return handle ? g_table->IdleCheck(handle) : 1; }

int FileSetCurrentDir(const char* path) { return g_table->SetCurrentDir(path); }

int FileGetCurrentDir(char* buffer, size_t bufferSize) {
  return g_table->GetCurrentDir(buffer, bufferSize);
}

FileHandle FileFindFirst(const char* pattern, FileFindInfo* info) {
  return g_table->FindFirst(pattern, info);
}

int FileFindNext(FileHandle find, FileFindInfo* info) {
  return find ? g_table->FindNext(find, info) : -1;
}

int FileFindClose(FileHandle find) { return find ? g_table->FindClose(find) : -1; }

void* FileReadAll(const char* path, size_t* size) {
  FileHandle h = FileOpen(path, 0, 1, 0);
  if (!h) return nullptr;
  void* block = nullptr;
  int64_t length = -1;
  if (FileSeek(h, 0, 2) == 0) length = FileTell(h);
  if (length >= 0 && static_cast<uint64_t>(length) < SIZE_MAX / 2 && FileSeek(h, 0, 0) == 0) {
    size_t n = static_cast<size_t>(length);
    block = MEM_ALLOC(n ? n : 1);
    if (block && n && FileRead(block, n, 1, h) != 1) {
      MemFreeTracked(block);
      block = nullptr;
    }
    if (block && size) *size = n;
  }
  FileClose(h);
  return block;
}
