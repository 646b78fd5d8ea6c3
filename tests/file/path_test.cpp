#include <qzlib/file/path.h>

#include <gtest/gtest.h>

#include <cctype>
#include <string>
#include <vector>

#include <qzlib/base/strutil.h>
#include <qzlib/file/file.h>

namespace {

// "表" is 0x95 0x5C in Shift_JIS: its trail byte is a "\".
const std::string kHyo = "\x95\x5C";
// "ア" is 0x83 0x41 and "ヂ" 0x83 0x61: their trail bytes are the letters "A" and "a".
const std::string kA = "\x83\x41";
const std::string kDi = "\x83\x61";

std::string Split(const std::string& path, std::string* dir) {
  char file[64], d[64];
  EXPECT_EQ(SplitPathDirFile(path.c_str(), file, sizeof(file), d, sizeof(d)), 0);
  *dir = d;
  return file;
}

std::string Full(const std::string& path, const char* base) {
  char out[256];
  EXPECT_EQ(ConvertFullPath(path.c_str(), out, sizeof(out), base), 0) << path;
  return out;
}

std::string Relative(const std::string& file, const std::string& base) {
  char out[256];
  EXPECT_EQ(CreateRelativePath(file.c_str(), base.c_str(), out, sizeof(out)), 0);
  return out;
}

}  // namespace

TEST(Path, SplitAtTheLastSeparatorOnly) {
  std::string dir;
  EXPECT_EQ(Split("a\\b/c.x", &dir), "c.x");
  EXPECT_EQ(dir, "a\\b");
  EXPECT_EQ(Split("name.mv1", &dir), "name.mv1");
  EXPECT_EQ(dir, "");
  EXPECT_EQ(Split("C:tex.png", &dir), "tex.png");
  EXPECT_EQ(dir, "C");
  EXPECT_EQ(Split("dir\\", &dir), "");
  EXPECT_EQ(dir, "dir");
  // a trail byte 0x5C is not a separator
  EXPECT_EQ(Split("m\\" + kHyo + ".bmp", &dir), kHyo + ".bmp");
  EXPECT_EQ(dir, "m");
  EXPECT_EQ(Split(kHyo + "\\x", &dir), "x");
  EXPECT_EQ(dir, kHyo);
  // null outputs are skipped
  EXPECT_EQ(SplitPathDirFile("a/b", nullptr, 0, nullptr, 0), 0);
  // an output that does not fit is cut, whole characters only, and reported
  char small[4];
  EXPECT_EQ(SplitPathDirFile(("d/x" + kHyo + "y").c_str(), small, sizeof(small), nullptr, 0), -1);
  EXPECT_EQ(std::string(small), "x" + kHyo);
  EXPECT_EQ(SplitPathDirFile(("d/xy" + kHyo).c_str(), small, sizeof(small), nullptr, 0), -1);
  EXPECT_EQ(std::string(small), "xy");
}

TEST(Path, FullPathResolvesDotsAgainstTheBase) {
  EXPECT_EQ(Full("tex\\a.png", "C:\\models\\m"), "C:\\models\\m\\tex\\a.png");
  EXPECT_EQ(Full("..\\..\\a.png", "C:\\models\\m"), "C:\\a.png");
  EXPECT_EQ(Full("../../../../a.png", "C:\\models\\m"), "C:\\a.png");
  EXPECT_EQ(Full(".\\x\\.\\y\\\\z", "C:/b"), "C:\\b\\x\\y\\z");
  EXPECT_EQ(Full("D:\\q\\..\\r", "C:\\b"), "D:\\r");
  EXPECT_EQ(Full("\\top", "E:\\b\\c"), "E:\\top");
  EXPECT_EQ(Full("C:\\", nullptr), "C:\\");
  EXPECT_EQ(Full("a", "/srv/data/"), "\\srv\\data\\a");
  // trail bytes 0x5C stay inside their characters
  EXPECT_EQ(Full(kHyo + "\\..\\" + kHyo + "x", ("C:\\" + kHyo).c_str()),
            "C:\\" + kHyo + "\\" + kHyo + "x");
  // no base: the current directory of the file layer
  char cwd[1024];
  ASSERT_EQ(FileGetCurrentDir(cwd, sizeof(cwd)), 0);
  EXPECT_EQ(Full("sub\\f", nullptr), std::string(cwd == std::string("\\") ? "" : cwd) + "\\sub\\f");
  // a relative base is taken against the current directory
  EXPECT_EQ(Full("f", "sub"), Full("sub\\f", nullptr));
  char tiny[8];
  EXPECT_EQ(ConvertFullPath("abcdefgh", tiny, sizeof(tiny), "C:\\"), -1);
  EXPECT_EQ(std::string(tiny), "C:\\abcd");
}

TEST(Path, RelativePathStepsUpWithDotDot) {
  EXPECT_EQ(Relative("C:\\m\\tex\\a.png", "C:\\m"), "tex\\a.png");
  EXPECT_EQ(Relative("C:\\m\\tex\\a.png", "C:\\m\\sub\\deep"), "..\\..\\tex\\a.png");
  EXPECT_EQ(Relative("c:/M/Tex/a.png", "C:\\m\\tex"), "a.png");
  EXPECT_EQ(Relative("C:\\a\\b.png", "D:\\a"), "C:\\a\\b.png");
  EXPECT_EQ(Relative("C:\\a", "C:\\a\\b"), "..");
  // ASCII letters match in either case, trail bytes only exactly: "ア" and "ヂ" differ
  EXPECT_EQ(Relative("C:\\" + kA + "\\f", "C:\\" + kA), "f");
  EXPECT_EQ(Relative("C:\\" + kA + "\\f", "C:\\" + kDi), "..\\" + kA + "\\f");
}

namespace {

// Reference of the path rules, character by character: a rooted path's root ("X:\" for a drive,
// else "\"), then its components, "." dropped, ".." taking one off (never the root).
struct RefPath {
  std::string root;
  std::vector<std::string> parts;
};

void RefAdd(const std::string& p, RefPath* out) {
  std::string cur;
  auto flush = [&] {
    if (cur == "..") {
      if (!out->parts.empty()) out->parts.pop_back();
    } else if (!cur.empty() && cur != ".") {
      out->parts.push_back(cur);
    }
    cur.clear();
  };
  for (size_t i = 0; i < p.size();) {
    const unsigned char c = static_cast<unsigned char>(p[i]);
    const bool lead = ((c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC)) && i + 1 < p.size();
    if (!lead && (c == '\\' || c == '/')) {
      flush();
      ++i;
    } else {
      cur.append(p, i, lead ? 2 : 1);
      i += lead ? 2 : 1;
    }
  }
  flush();
}

bool RefHasDrive(const std::string& p) { return p.size() >= 2 && std::isalpha(static_cast<unsigned char>(p[0])) && p[1] == ':'; }

RefPath RefFull(const std::string& path, const std::string& base) {
  RefPath r;
  const std::string& rooted = RefHasDrive(path) ? path : base;
  r.root = RefHasDrive(rooted) ? rooted.substr(0, 2) + "\\" : "\\";
  RefAdd(RefHasDrive(rooted) ? rooted.substr(2) : rooted, &r);
  if (RefHasDrive(path)) return r;
  if (!path.empty() && (path[0] == '\\' || path[0] == '/')) r.parts.clear();
  RefAdd(path, &r);
  return r;
}

std::string RefJoin(const RefPath& r) {
  std::string s = r.root;
  for (size_t i = 0; i < r.parts.size(); ++i) s += (i ? "\\" : "") + r.parts[i];
  return s;
}

bool RefSame(const std::string& a, const std::string& b) { return StrICompare(a.c_str(), b.c_str()) == 0; }

std::string RefRelative(const std::string& file, const std::string& base) {
  const RefPath f = RefFull(file, "\\"), b = RefFull(base, "\\");
  if (!RefSame(f.root, b.root)) return RefJoin(f);
  size_t common = 0;
  while (common < f.parts.size() && common < b.parts.size() && RefSame(f.parts[common], b.parts[common])) ++common;
  RefPath r;
  for (size_t i = common; i < b.parts.size(); ++i) r.parts.push_back("..");
  for (size_t i = common; i < f.parts.size(); ++i) r.parts.push_back(f.parts[i]);
  return RefJoin(r);
}

}  // namespace

TEST(Path, RandomPathsAgreeWithTheComponentRule) {
  const char* pieces[] = {"\\", "/", ".", "..", "a", "B", "c:", "X:", "\x95\x5C", "\x83\x41", "\x83\x61", "\x83", "long_folder_name_past_sso"};
  for (uint32_t seed = 1; seed <= 300; ++seed) {
    uint32_t s = seed * 2246822519u;
    auto next = [&s](uint32_t n) {
      s = s * 1664525u + 1013904223u;
      return (s >> 8) % n;
    };
    auto random = [&] {
      std::string p = next(3) ? "C:\\" : next(2) ? "\\" : "";
      for (uint32_t i = next(9); i > 0; --i) p += pieces[next(13)];
      return p;
    };
    const std::string path = random(), base = "C:\\" + random();
    char out[512];
    ASSERT_EQ(ConvertFullPath(path.c_str(), out, sizeof(out), base.c_str()), 0);
    EXPECT_EQ(out, RefJoin(RefFull(path, base))) << "seed " << seed << " " << path << " | " << base;
    const std::string file = "C:\\" + random();
    ASSERT_EQ(CreateRelativePath(file.c_str(), base.c_str(), out, sizeof(out)), 0);
    EXPECT_EQ(out, RefRelative(file, base)) << "seed " << seed << " " << file << " | " << base;
    // the operating-system form: single-byte "\" become "/", and back again
    std::string os, back;
    const std::string valid = "\\d\x95\x5C\\" + std::string(next(2) ? "\x83\x41" : "x") + "/e\\f";
    ASSERT_TRUE(EnginePathToOs(valid.c_str(), &os));
    EXPECT_EQ(os.find('\\'), std::string::npos) << valid;
    ASSERT_TRUE(OsPathToEngine(os.c_str(), &back));
    std::string expected = valid;
    for (char& c : expected) if (c == '/') c = '\\';
    EXPECT_EQ(back, expected);
  }
}
