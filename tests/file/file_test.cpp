#include <qzlib/file/file.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <random>
#include <set>
#include <string>
#include <vector>

#include <qzlib/file/path.h>
#include <qzlib/file/stream.h>
#include "tests/support/test_support.h"

namespace {

// A fresh folder below the test's working directory, with a few files; removed afterwards.
class FileTest : public LeakCheckedTest {
 protected:
  void SetUp() override {
    LeakCheckedTest::SetUp();
    char tmpl[] = "filetest_XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    Write("Data/Model.MV1", "0123456789");
    Write("Data/Sub/x.rb", "puts 1");
    Write("Data/y.RB", "");
    // "表示.txt" stored under its UTF-8 name; the engine names it in Shift_JIS
    Write("\xE8\xA1\xA8\xE7\xA4\xBA.txt", "hyouji");
  }
  void TearDown() override {
    std::string cmd = "rm -rf '" + dir_ + "'";
    EXPECT_EQ(std::system(cmd.c_str()), 0);
    SetFileFunctionTable(nullptr);
    LeakCheckedTest::TearDown();
  }
  void Write(const std::string& rel, const std::string& body) {
    std::string path = dir_ + "/" + rel;
    for (size_t p = path.find('/'); p != std::string::npos; p = path.find('/', p + 1))
      mkdir(path.substr(0, p).c_str(), 0755);
    FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fwrite(body.data(), 1, body.size(), f);
    std::fclose(f);
  }
  std::string P(const std::string& rel) { return dir_ + "\\" + rel; }
  std::string dir_;
};

}  // namespace

TEST_F(FileTest, ReadSeekTellAndWholeElements) {
  FileHandle h = FileOpen(P("Data\\Model.MV1").c_str(), 0, 1, 0);
  ASSERT_NE(h, 0u);
  EXPECT_EQ(FileSeek(h, 0, 2), 0);
  EXPECT_EQ(FileTell(h), 10);
  EXPECT_EQ(FileEof(h), 1);
  EXPECT_EQ(FileSeek(h, 0, 0), 0);
  char buf[16] = {};
  EXPECT_EQ(FileRead(buf, 10, 1, h), 1u);  // the whole file as one element
  EXPECT_EQ(std::string(buf, 10), "0123456789");
  EXPECT_EQ(FileSeek(h, -4, 2), 0);
  EXPECT_EQ(FileRead(buf, 3, 2, h), 1u);  // 4 bytes left: one whole element of 3
  EXPECT_EQ(FileTell(h), 10);
  EXPECT_EQ(FileSeek(h, -11, 1), -1);  // before the start: refused, position kept
  EXPECT_EQ(FileTell(h), 10);
  EXPECT_EQ(FileSeek(h, 2, 7), -1);
  EXPECT_EQ(FileSeek(h, 3, 0), 0);
  EXPECT_EQ(FileSeek(h, 2, 1), 0);
  EXPECT_EQ(FileTell(h), 5);
  EXPECT_EQ(FileEof(h), 0);
  EXPECT_EQ(FileClose(h), 0);
  EXPECT_EQ(FileClose(0), -1);
  EXPECT_EQ(FileRead(buf, 1, 1, 0), 0u);
}

TEST_F(FileTest, NamesMatchAsciiLettersInEitherCaseAndShiftJis) {
  for (const char* name : {"data\\model.mv1", "DATA/MODEL.mv1", "Data\\Sub\\..\\Model.MV1"}) {
    FileHandle h = FileOpen(P(name).c_str());
    EXPECT_NE(h, 0u) << name;
    FileClose(h);
  }
  FileHandle h = FileOpen(P("\x95\x5C\x8E\xA6.txt").c_str());  // "表示.txt" in Shift_JIS
  ASSERT_NE(h, 0u);
  char buf[8] = {};
  EXPECT_EQ(FileRead(buf, 1, 8, h), 6u);
  EXPECT_STREQ(buf, "hyouji");
  FileClose(h);
  EXPECT_EQ(FileOpen(P("Data\\Model.MV2").c_str()), 0u);
  EXPECT_EQ(FileOpen(P("Data").c_str()), 0u);             // a folder is not a file
  EXPECT_EQ(FileOpen(P("\x95").c_str()), 0u);             // a lone lead byte
  EXPECT_EQ(FileOpen(nullptr), 0u);
}

TEST_F(FileTest, FindListsMatchingEntries) {
  FileFindInfo info;
  FileHandle f = FileFindFirst(P("data\\*.rb").c_str(), &info);
  ASSERT_NE(f, 0u);
  std::set<std::string> names{info.Name};
  while (FileFindNext(f, &info) == 0) names.insert(info.Name);
  EXPECT_EQ(FileFindClose(f), 0);
  EXPECT_EQ(names, (std::set<std::string>{"y.RB"}));

  f = FileFindFirst(P("Data\\*").c_str(), &info);
  ASSERT_NE(f, 0u);
  names.clear();
  do {
    names.insert(info.Name + std::string(info.DirFlag ? "/" : "") + std::to_string(info.Size));
  } while (FileFindNext(f, &info) == 0);
  FileFindClose(f);
  EXPECT_EQ(names, (std::set<std::string>{"Model.MV110", "Sub/0", "y.RB0"}));

  f = FileFindFirst(P("?\x8E\xA6.TXT").c_str(), &info);  // "?" takes one double-byte character
  ASSERT_NE(f, 0u);
  EXPECT_STREQ(info.Name, "\x95\x5C\x8E\xA6.txt");
  FileFindClose(f);
  EXPECT_EQ(FileFindFirst(P("*.none").c_str(), &info), 0u);
}

TEST_F(FileTest, CurrentDirectoryRoundTrips) {
  char before[1024], inside[1024];
  ASSERT_EQ(FileGetCurrentDir(before, sizeof(before)), 0);
  EXPECT_EQ(before[0], '\\');
  ASSERT_EQ(FileSetCurrentDir(P("data").c_str()), 0);
  ASSERT_EQ(FileGetCurrentDir(inside, sizeof(inside)), 0);
  EXPECT_EQ(std::string(inside), std::string(before) + "\\" + dir_ + "\\Data");
  FileHandle h = FileOpen("model.mv1");
  EXPECT_NE(h, 0u);
  FileClose(h);
  ASSERT_EQ(FileSetCurrentDir(before), 0);
  char tiny[4];
  EXPECT_EQ(FileGetCurrentDir(tiny, sizeof(tiny)), -1);
  EXPECT_EQ(FileSetCurrentDir(P("nowhere").c_str()), -1);
}

TEST_F(FileTest, AllocationFailuresLeaveNothing) {
  FileFindInfo info;
  ForEachAllocationFailure([&] {
    FileHandle f = FileFindFirst(P("Data\\*").c_str(), &info);
    if (!f) return false;
    FileFindClose(f);
    return true;
  });
  ForEachAllocationFailure([&] {
    size_t size = 0;
    void* all = FileReadAll(P("Data\\Model.MV1").c_str(), &size);
    if (!all) return false;
    EXPECT_EQ(size, 10u);
    EXPECT_EQ(std::memcmp(all, "0123456789", 10), 0);
    MemFreeTracked(all);
    return true;
  });
}

TEST_F(FileTest, CallerTablesAndStreams) {
  static int opens = 0;
  FileFunctionTable mine = *GetPlainFileFunctionTable();
  mine.Open = [](const char* path, int c, int b, int a) {
    ++opens;
    return GetPlainFileFunctionTable()->Open(path, c, b, a);
  };
  SetFileFunctionTable(&mine);
  FileClose(FileOpen(P("Data\\Model.MV1").c_str()));
  SetFileFunctionTable(nullptr);
  FileClose(FileOpen(P("Data\\Model.MV1").c_str()));
  EXPECT_EQ(opens, 1);

  MemStream m;
  const char data[] = "abcdefg";
  OpenMemStream(&m, data, 7);
  const StreamFunctionTable& t = MemStreamFunctions;
  char buf[8] = {};
  EXPECT_EQ(t.Read(buf, 3, 1, &m), 1u);
  EXPECT_EQ(t.Seek(&m, 8, 0), -1);
  EXPECT_EQ(t.Seek(&m, -4, 1), -1);
  EXPECT_EQ(t.Tell(&m), 3);
  EXPECT_EQ(t.Read(buf, 3, 5, &m), 1u);  // 4 left: one whole element, the rest consumed
  EXPECT_EQ(std::string(buf, 4), "defg");
  EXPECT_EQ(t.Eof(&m), 1);
  EXPECT_EQ(m.EndFlag, 1);
  EXPECT_EQ(t.Seek(&m, -7, 2), 0);
  EXPECT_EQ(m.EndFlag, 0);

  FileHandle h = FileOpen(P("Data\\Model.MV1").c_str());
  ASSERT_NE(h, 0u);
  void* sh = reinterpret_cast<void*>(h);
  EXPECT_EQ(FileStreamFunctions.Seek(sh, 4, 0), 0);
  EXPECT_EQ(FileStreamFunctions.Read(buf, 2, 1, sh), 1u);
  EXPECT_EQ(std::string(buf, 2), "45");
  EXPECT_EQ(FileStreamFunctions.Close(sh), 0);
}

namespace {

// The recursive matcher the file layer used before: the reference for the greedy one.
bool RecursiveMatch(const char* pat, const char* name) {
  auto fold = [](unsigned char c) { return (c >= 'a' && c <= 'z') ? c - 32 : c; };
  while (*pat) {
    if (*pat == '*') {
      while (*pat == '*') ++pat;
      if (!*pat) return true;
      for (const char* n = name; *n; ++n)
        if (RecursiveMatch(pat, n)) return true;
      return false;
    }
    if (!*name) return false;
    if (*pat == '?') {
      ++pat;
      ++name;
      while ((static_cast<unsigned char>(*name) & 0xC0) == 0x80) ++name;
      continue;
    }
    if (fold(static_cast<unsigned char>(*pat)) != fold(static_cast<unsigned char>(*name)))
      return false;
    ++pat;
    ++name;
  }
  return *name == 0;
}

}  // namespace

TEST(FilePattern, GreedyMatcherAgreesWithRecursiveOne) {
  // Pieces: letters in both cases, a two-byte and a three-byte UTF-8 character, a dot.
  const char* pieces[] = {"a", "A", "b", "B", ".", "\xC3\xA9", "\xE8\xA1\xA8", "ab"};
  int matches = 0;
  for (uint32_t seed = 1; seed <= 40000; ++seed) {
    std::mt19937 rng(seed);
    std::string name, pat;
    for (int n = rng() % 9; n > 0; --n) name += pieces[rng() % 8];
    for (int n = rng() % 8; n > 0; --n) {
      uint32_t k = rng() % 12;
      pat += k < 8 ? pieces[k] : k < 10 ? "*" : "?";
    }
    if (seed % 4 == 0 && !name.empty()) name.pop_back();  // a cut character
    bool want = RecursiveMatch(pat.c_str(), name.c_str());
    matches += want;
    ASSERT_EQ(MatchNamePattern(pat.c_str(), name.c_str()), want)
        << "seed " << seed << " pattern '" << pat << "' name '" << name << "'";
  }
  EXPECT_GT(matches, 2000);
}

TEST_F(FileTest, StarRichPatternsMatchWithoutBacktrackingBlowUp) {
  // Each added star multiplied the recursive matcher's work: these took minutes to hours.
  std::string as(200, 'a');
  EXPECT_FALSE(MatchNamePattern("*a*a*a*a*a*a*a*a*a*a*a*a*b", as.c_str()));
  EXPECT_TRUE(MatchNamePattern("*a*a*a*a*a*a*a*a*a*a*a*a*?", as.c_str()));
  Write(as, "x");
  FileFindInfo info;
  EXPECT_EQ(FileFindFirst(P("*a*a*a*a*a*a*a*a*a*a*a*a*b").c_str(), &info), 0u);
  FileHandle f = FileFindFirst(P("*A*A*A*A*A*A*A*A*A*A*A*A*A").c_str(), &info);
  ASSERT_NE(f, 0u);
  EXPECT_EQ(info.Name, as);
  FileFindClose(f);
}

TEST_F(FileTest, OpenRefusesFifoWithoutWaiting) {
  std::string fifo = dir_ + "/pipe";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
  // Opening a FIFO for reading blocks until a writer comes; the check must come first.
  EXPECT_EQ(FileOpen(P("pipe").c_str()), 0u);
  EXPECT_EQ(FileOpen("/dev/null"), 0u);  // a device is not a regular file either
  FileHandle h = FileOpen(P("Data\\Model.MV1").c_str());
  ASSERT_NE(h, 0u);
  char c;
  EXPECT_EQ(FileRead(&c, 1, 1, h), 1u);  // the regular file reads as before
  FileClose(h);
}

TEST_F(FileTest, ClosedStaleAndForgedHandlesTouchNothing) {
  FileHandle h = FileOpen(P("Data\\Model.MV1").c_str());
  ASSERT_NE(h, 0u);
  EXPECT_EQ(FileClose(h), 0);
  char buf[4];
  // Closed: every call fails, a second close included.
  EXPECT_EQ(FileClose(h), -1);
  EXPECT_EQ(FileTell(h), -1);
  EXPECT_EQ(FileSeek(h, 0, 0), -1);
  EXPECT_EQ(FileEof(h), -1);
  EXPECT_EQ(FileRead(buf, 1, 1, h), 0u);
  // Stale: the slot reused by a later open keeps its new owner's handle only.
  FileHandle again = FileOpen(P("Data\\Sub\\x.rb").c_str());
  ASSERT_NE(again, 0u);
  EXPECT_NE(again, h);
  EXPECT_EQ(FileClose(h), -1);
  EXPECT_EQ(FileRead(buf, 4, 1, again), 1u);
  EXPECT_EQ(std::string(buf, 4), "puts");
  // Forged: wild values, an address, and a find handle given to the file calls and back.
  int local = 0;
  FileFindInfo info;
  FileHandle find = FileFindFirst(P("Data\\*").c_str(), &info);
  ASSERT_NE(find, 0u);
  for (FileHandle forged : {FileHandle(1), FileHandle(0xFFFFFFFF), ~FileHandle(0),
                            reinterpret_cast<FileHandle>(&local), again ^ 0x10000u, find}) {
    EXPECT_EQ(FileClose(forged), -1);
    EXPECT_EQ(FileTell(forged), -1);
    EXPECT_EQ(FileRead(buf, 1, 1, forged), 0u);
  }
  EXPECT_EQ(FileFindNext(again, &info), -1);
  EXPECT_EQ(FileFindClose(again), -1);
  EXPECT_EQ(FileFindClose(find), 0);
  EXPECT_EQ(FileFindClose(find), -1);
  EXPECT_EQ(FileFindNext(find, &info), -1);
  EXPECT_EQ(FileTell(again), 4);  // the live handle was never disturbed
  EXPECT_EQ(FileClose(again), 0);
}

TEST_F(FileTest, EndAndEofFollowAFileThatGrowsOrShrinks) {
  FileHandle h = FileOpen(P("Data\\Model.MV1").c_str());
  ASSERT_NE(h, 0u);
  ASSERT_EQ(FileSeek(h, 0, 2), 0);
  EXPECT_EQ(FileTell(h), 10);
  EXPECT_EQ(FileEof(h), 1);
  Write("Data/Model.MV1", "0123456789ABCDEF");  // grows to 16 bytes while open
  EXPECT_EQ(FileEof(h), 0);
  ASSERT_EQ(FileSeek(h, -2, 2), 0);
  EXPECT_EQ(FileTell(h), 14);
  char buf[4] = {};
  EXPECT_EQ(FileRead(buf, 2, 1, h), 1u);
  EXPECT_EQ(std::string(buf, 2), "EF");
  Write("Data/Model.MV1", "0123");  // shrinks to 4
  EXPECT_EQ(FileEof(h), 1);
  ASSERT_EQ(FileSeek(h, -1, 2), 0);
  EXPECT_EQ(FileTell(h), 3);
  EXPECT_EQ(FileSeek(h, -5, 2), -1);
  FileClose(h);
}

TEST_F(FileTest, FullHandleTableRefusesOpenAndRecovers) {
  std::vector<FileHandle> open;
  for (;;) {
    FileHandle h = FileOpen(P("Data\\y.RB").c_str());
    if (!h) break;
    open.push_back(h);
    ASSERT_LT(open.size(), 100000u);
  }
  EXPECT_GT(open.size(), 200u);
  for (FileHandle h : open) EXPECT_EQ(FileClose(h), 0);
  FileHandle h = FileOpen(P("Data\\y.RB").c_str());
  EXPECT_NE(h, 0u);
  FileClose(h);
}

namespace {

// The rule, slowly: an entry named as written, else the least entry whose name equals it with
// ASCII letters in either case; empty when none.
std::string OracleEntry(const std::vector<std::string>& entries, const std::string& name) {
  for (const std::string& e : entries)
    if (e == name) return e;
  std::string best;
  for (const std::string& e : entries) {
    if (e.size() != name.size()) continue;
    bool same = true;
    for (size_t i = 0; i < e.size() && same; ++i)
      same = std::toupper(static_cast<unsigned char>(e[i])) == std::toupper(static_cast<unsigned char>(name[i]));
    if (same && (best.empty() || e < best)) best = e;
  }
  return best;
}

// What a file opened as path holds, or "-" when it does not open.
std::string Content(const std::string& path) {
  FileHandle h = FileOpen(path.c_str());
  if (!h) return "-";
  char buf[64] = {};
  size_t n = FileRead(buf, 1, sizeof(buf) - 1, h);
  FileClose(h);
  return std::string(buf, n);
}

}  // namespace

// Random folders of names differing in case, probed in either case inside and outside a listing
// scope: every probe finds what the rule finds, and the scope changes no answer.
TEST_F(FileTest, ListingScopesGiveTheAnswersOfTheRule) {
  for (int seed = 1; seed <= 12; ++seed) {
    std::mt19937 rng(seed);
    auto word = [&](int maxLength) {
      static const char kLetters[] = "aAbBc_";
      std::string s;
      const int n = 1 + static_cast<int>(rng() % maxLength);
      for (int i = 0; i < n; ++i) s += kLetters[rng() % 6];
      return s;
    };
    const std::string folder = "case" + std::to_string(seed);
    std::vector<std::string> top, inner;  // entries of folder and of its sub-folder "Sub"
    top.push_back("Sub");
    for (int i = 0; i < 10; ++i) {
      std::string n = word(3) + ".t";
      if (OracleEntry(top, n) == n) continue;
      top.push_back(n);
      Write(folder + "/" + n, folder + "/" + n);
    }
    for (int i = 0; i < 6; ++i) {
      std::string n = word(2);
      if (OracleEntry(inner, n) == n) continue;
      inner.push_back(n);
      Write(folder + "/Sub/" + n, "Sub/" + n);
    }
    // probes: entries in random case, and names of no entry
    auto vary = [&](std::string s) {
      for (char& c : s)
        if (std::isalpha(static_cast<unsigned char>(c)) && rng() % 2) c = static_cast<char>(c ^ 0x20);
      return s;
    };
    for (int probe = 0; probe < 40; ++probe) {
      const bool deep = rng() % 3 == 0;
      const std::vector<std::string>& entries = deep ? inner : top;
      std::string name = rng() % 4 ? vary(entries[rng() % entries.size()]) : word(3) + ".t";
      if (!deep && name == vary("Sub")) continue;
      const std::string sub = deep ? vary("Sub") : "";
      const std::string path = P(folder + (deep ? "\\" + sub : "") + "\\" + name);
      const std::string hit = OracleEntry(entries, name);
      const std::string expected = hit.empty() || (!deep && hit == "Sub")
                                       ? "-"
                                       : (deep ? "Sub/" : folder + "/") + hit;
      EXPECT_EQ(Content(path), expected) << path;
      FileListingScopeBegin();
      EXPECT_EQ(Content(path), expected) << path << " in a scope";
      EXPECT_EQ(Content(path), expected) << path << " in a scope, again";
      FileListingScopeEnd();
    }
  }
}

// Inside a scope a folder is listed once: an entry made after its listing is found, in either
// case, only once the outermost scope has ended (or the current directory changed).
TEST_F(FileTest, AScopeListsAFolderOnce) {
  FileListingScopeBegin();
  FileListingScopeBegin();
  EXPECT_EQ(Content(P("data\\MODEL.mv1")), "0123456789");  // lists the folder
  Write("Data/New.txt", "new");
  EXPECT_EQ(Content(P("data\\NEW.TXT")), "-");
  EXPECT_EQ(Content(P("Data\\New.txt")), "-");
  FileListingScopeEnd();
  EXPECT_EQ(Content(P("data\\NEW.TXT")), "-");  // the outer scope still holds the listing
  FileListingScopeEnd();
  EXPECT_EQ(Content(P("data\\NEW.TXT")), "new");
  FileListingScopeEnd();  // an end without a scope is ignored

  char cwd[4096];
  ASSERT_EQ(FileGetCurrentDir(cwd, sizeof(cwd)), 0);
  FileListingScopeBegin();
  EXPECT_EQ(Content(P("data\\NEW.TXT")), "new");
  Write("Data/Later.txt", "later");
  EXPECT_EQ(Content(P("data\\LATER.TXT")), "-");
  ASSERT_EQ(FileSetCurrentDir(cwd), 0);  // a change of directory drops what was kept
  EXPECT_EQ(Content(P("data\\LATER.TXT")), "later");
  FileListingScopeEnd();
}

// Folders written with doubled separators, "." and "..", in any case: a scope (which lists the
// folder as written when it can) finds what the walk over the components finds without one.
TEST_F(FileTest, OddlyWrittenFoldersGiveTheSameAnswersInAScope) {
  const struct {
    const char* path;
    const char* content;
  } cases[] = {{"Data\\\\model.mv1", "0123456789"}, {"Data\\.\\MODEL.mv1", "0123456789"},
               {"data\\Sub\\..\\Model.mv1", "0123456789"}, {"DATA\\\\sub\\X.RB", "puts 1"},
               {"Data\\Sub\\\\..\\..\\Data\\y.rb", ""}, {"Data\\nothere\\..\\y.rb", "-"},
               {"Data\\Sub\\", "-"}, {"Data\\Sub\\.", "-"}, {"Data\\missing.mv1", "-"}};
  for (const auto& c : cases) {
    EXPECT_EQ(Content(P(c.path)), c.content) << c.path;
    FileListingScopeBegin();
    EXPECT_EQ(Content(P(c.path)), c.content) << c.path << " in a scope";
    EXPECT_EQ(Content(P(c.path)), c.content) << c.path << " in a scope, again";
    FileListingScopeEnd();
  }
  // every probe of one scope, in turn
  FileListingScopeBegin();
  for (const auto& c : cases) EXPECT_EQ(Content(P(c.path)), c.content) << c.path << " in one scope";
  FileListingScopeEnd();
}
