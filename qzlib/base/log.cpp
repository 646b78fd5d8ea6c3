#include <qzlib/base/log.h>

#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace {

std::recursive_mutex g_lock;
bool g_open = false;
// The start directory, held open: its path may be longer than any path the system accepts.
int g_dirFd = AT_FDCWD;
std::chrono::steady_clock::time_point g_start = std::chrono::steady_clock::now();
int g_indent = 0;
bool g_atLineStart = true;
bool g_capturing = false;
std::string g_capture;

void Emit(const std::string& bytes) {
  if (g_open) {
    int fd = openat(g_dirFd, "Log.txt", O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd >= 0) {
      for (size_t done = 0; done < bytes.size();) {
        ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n <= 0 && errno != EINTR) break;
        if (n > 0) done += static_cast<size_t>(n);
      }
      close(fd);
    }
  }
  if (g_capturing) g_capture += bytes;
}

}  // namespace

void LogInitialize() {
  std::lock_guard<std::recursive_mutex> lock(g_lock);
  // The path is fixed now, so that a later change of the current directory does not move the log.
  if (g_dirFd != AT_FDCWD) close(g_dirFd);
  g_dirFd = open(".", O_PATH | O_DIRECTORY | O_CLOEXEC);
  if (g_dirFd < 0) g_dirFd = AT_FDCWD;
  int fd = openat(g_dirFd, "Log.txt", O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd >= 0) close(fd);
  g_open = true;
  g_start = std::chrono::steady_clock::now();
  g_indent = 0;
  g_atLineStart = true;
}

void LogTerminate() {
  std::lock_guard<std::recursive_mutex> lock(g_lock);
  g_open = false;
  if (g_dirFd != AT_FDCWD) close(g_dirFd);
  g_dirFd = AT_FDCWD;
}

int WriteLog(const char* text) {
  if (!text) return -1;
  std::lock_guard<std::recursive_mutex> lock(g_lock);
  std::string out;
  out.reserve(std::strlen(text) + 32);
  for (const char* p = text; *p;) {
    if (g_atLineStart) {
      auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                    std::chrono::steady_clock::now() - g_start)
                    .count();
      char stamp[24];
      const int n = std::snprintf(stamp, sizeof(stamp), "%lld:", static_cast<long long>(ms));
      out.append(stamp, static_cast<size_t>(n));
      out.append(static_cast<size_t>(g_indent), '\t');
      g_atLineStart = false;
    }
    const char* end = std::strchr(p, '\n');
    if (!end) {
      out.append(p);
      break;
    }
    out.append(p, static_cast<size_t>(end - p));
    out += "\r\n";
    g_atLineStart = true;
    p = end + 1;
  }
  Emit(out);
  return -1;
}

int WriteLogFmt(const char* format, ...) {
  if (!format) return -1;
  // the text is cut at 1023 bytes, then the line feed follows
  char buffer[1025];
  va_list args;
  va_start(args, format);
  std::vsnprintf(buffer, 1024, format, args);
  va_end(args);
  const size_t length = std::strlen(buffer);  // up to an embedded zero, as the text ends there
  buffer[length] = '\n';
  buffer[length + 1] = 0;
  return WriteLog(buffer);
}

void AddLogIndent() {
  std::lock_guard<std::recursive_mutex> lock(g_lock);
  ++g_indent;
}

void SubLogIndent() {
  std::lock_guard<std::recursive_mutex> lock(g_lock);
  if (g_indent > 0) --g_indent;
}

void LogCaptureBegin() {
  std::lock_guard<std::recursive_mutex> lock(g_lock);
  g_capturing = true;
  g_capture.clear();
}

std::string LogCaptureEnd() {
  std::lock_guard<std::recursive_mutex> lock(g_lock);
  g_capturing = false;
  std::string s;
  s.swap(g_capture);
  return s;
}

std::string LogCaptureTextWithoutStamps() {
  std::lock_guard<std::recursive_mutex> lock(g_lock);
  std::string out;
  bool lineStart = true;
  for (size_t i = 0; i < g_capture.size(); ++i) {
    if (lineStart) {
      size_t j = i;
      while (j < g_capture.size() && g_capture[j] >= '0' && g_capture[j] <= '9') ++j;
      if (j < g_capture.size() && g_capture[j] == ':' && j > i) i = j + 1;
      lineStart = false;
      if (i >= g_capture.size()) break;
    }
    out += g_capture[i];
    if (g_capture[i] == '\n') lineStart = true;
  }
  return out;
}
