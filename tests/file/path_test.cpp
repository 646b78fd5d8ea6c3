#include <qzlib/file/path.h>

#include <gtest/gtest.h>

#include <string>

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
