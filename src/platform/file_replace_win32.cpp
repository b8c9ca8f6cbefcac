// SPDX-License-Identifier: MIT
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <string>

#include "platform/file_replace.h"
#include "platform/wide_path.h"

namespace vu30::platform {
namespace {

// Closes a file handle when it goes out of scope.
class Handle {
 public:
  explicit Handle(HANDLE handle) : handle_(handle) {}
  ~Handle() { Close(); }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  bool Valid() const { return handle_ != INVALID_HANDLE_VALUE; }
  HANDLE Get() const { return handle_; }
  bool Close() {
    if (!Valid()) return true;
    const bool ok = CloseHandle(handle_) != 0;
    handle_ = INVALID_HANDLE_VALUE;
    return ok;
  }

 private:
  HANDLE handle_;
};

// A temporary name beside path, unique within this process and unlikely to
// meet another process's (the time tells a later process with the same id
// from one whose file a crash left). The suffix is ASCII, so the name
// converts like the path it extends.
std::string TemporaryName(const std::string& path) {
  static std::atomic<unsigned> counter{0};
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  const uint64_t time = (uint64_t{now.dwHighDateTime} << 32) | now.dwLowDateTime;
  return path + ".vu30tmp." + std::to_string(GetCurrentProcessId()) + "." +
         std::to_string(counter.fetch_add(1)) + "." + std::to_string(time % 1000000007ULL);
}

bool WriteAll(HANDLE file, const std::string& text) {
  std::size_t written = 0;
  while (written < text.size()) {
    const std::size_t rest = text.size() - written;
    const DWORD chunk = rest > (1u << 30) ? (1u << 30) : static_cast<DWORD>(rest);
    DWORD done = 0;
    if (!WriteFile(file, text.data() + written, chunk, &done, nullptr) || done == 0) return false;
    written += done;
  }
  return FlushFileBuffers(file) != 0;
}

}  // namespace

ReadResult ReadWholeFile(const std::string& path, std::string& text) {
  const std::wstring wide = WidePath(path);
  if (wide.empty()) return ReadResult::Failed;
  Handle file(CreateFileW(wide.c_str(), GENERIC_READ,
                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                          OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.Valid()) {
    const DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
      text.clear();
      return ReadResult::Missing;
    }
    return ReadResult::Failed;  // a directory, no access, ...
  }
  std::string content;
  char buffer[65536];
  for (;;) {
    DWORD got = 0;
    if (!ReadFile(file.Get(), buffer, sizeof buffer, &got, nullptr)) return ReadResult::Failed;
    if (got == 0) break;
    content.append(buffer, got);
  }
  text = std::move(content);
  return ReadResult::Ok;
}

bool ReplaceWholeFile(const std::string& path, const std::string& text) {
  const std::wstring target = WidePath(path);
  const std::wstring temporary = WidePath(TemporaryName(path));
  if (target.empty() || temporary.empty()) return false;
  {
    Handle file(CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                            FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.Valid()) return false;
    const bool written = WriteAll(file.Get(), text);
    if (!file.Close() || !written) {
      DeleteFileW(temporary.c_str());
      return false;
    }
  }
  // An existing file is replaced the system's way, keeping its attributes
  // and security; a missing one is created by the rename.
  const bool exists = GetFileAttributesW(target.c_str()) != INVALID_FILE_ATTRIBUTES;
  if (exists && ReplaceFileW(target.c_str(), temporary.c_str(), nullptr,
                             REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr)) {
    return true;
  }
  if (MoveFileExW(temporary.c_str(), target.c_str(),
                  MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    return true;
  }
  DeleteFileW(temporary.c_str());
  return false;
}

}  // namespace vu30::platform
