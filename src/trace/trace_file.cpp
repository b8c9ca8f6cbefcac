// SPDX-License-Identifier: MIT
#include "trace/trace_file.h"

#include <algorithm>

#if defined(_WIN32)
#include <windows.h>
#include <winternl.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <system_error>
#endif

namespace vu30::trace {

#if defined(_WIN32)

namespace {
HANDLE H(std::intptr_t h) { return reinterpret_cast<HANDLE>(h); }
}  // namespace

std::unique_ptr<TraceFile> TraceFile::Create(const std::string& path, uint32_t& error) {
  // Others may read the file while it is written, and rotation renames it.
  const HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE,
                               nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    error = GetLastError();
    return nullptr;
  }
  error = 0;
  return std::unique_ptr<TraceFile>(new TraceFile(reinterpret_cast<std::intptr_t>(h)));
}

TraceFile::~TraceFile() {
  CutAtEnd();
  CloseHandle(H(handle_));
}

void TraceFile::CutAtEnd() {
  LARGE_INTEGER at;
  at.QuadPart = static_cast<LONGLONG>(end_);
  if (SetFilePointerEx(H(handle_), at, nullptr, FILE_BEGIN)) SetEndOfFile(H(handle_));
}

uint32_t TraceFile::Append(const char* data, std::size_t n) {
  std::size_t done = 0;
  while (done < n) {
    OVERLAPPED at{};
    const uint64_t offset = end_ + done;
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(n - done, 1u << 30));
    DWORD wrote = 0;
    if (!WriteFile(H(handle_), data + done, chunk, &wrote, &at) || wrote == 0) {
      DWORD code = GetLastError();
      if (code == 0) code = ERROR_WRITE_FAULT;
      CutAtEnd();
      return code;
    }
    done += wrote;
  }
  end_ += n;
  return 0;
}

uint32_t TraceFile::KeepRoom(std::size_t n) {
  if (roomUnsupported_) return 0;
  // The file's allocation is set and its end stays where it is, so readers
  // see only what is written, also after a crash. NtSetInformationFile is
  // the call SetFileInformationByHandle makes; Windows XP has only the first.
  FILE_ALLOCATION_INFORMATION info{};
  info.AllocationSize.QuadPart = static_cast<LONGLONG>(end_ + n);
  IO_STATUS_BLOCK io{};
  const NTSTATUS status =
      NtSetInformationFile(H(handle_), &io, &info, sizeof info, FileAllocationInformation);
  if (NT_SUCCESS(status)) return 0;
  const DWORD code = RtlNtStatusToDosError(status);
  if (code == ERROR_DISK_FULL || code == ERROR_HANDLE_DISK_FULL) return code;
  roomUnsupported_ = true;
  return 0;
}

uint32_t TraceFile::MissingFrom(const std::string& path) const {
  BY_HANDLE_FILE_INFORMATION mine{};
  if (!GetFileInformationByHandle(H(handle_), &mine)) return 0;
  const HANDLE there =
      CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (there == INVALID_HANDLE_VALUE) {
    const DWORD code = GetLastError();
    return code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND ? ERROR_FILE_NOT_FOUND : 0;
  }
  BY_HANDLE_FILE_INFORMATION info{};
  const bool same = GetFileInformationByHandle(there, &info) &&
                    info.dwVolumeSerialNumber == mine.dwVolumeSerialNumber &&
                    info.nFileIndexHigh == mine.nFileIndexHigh &&
                    info.nFileIndexLow == mine.nFileIndexLow;
  CloseHandle(there);
  return same ? 0 : ERROR_FILE_NOT_FOUND;
}

uint32_t RenameOver(const std::string& from, const std::string& to) {
  return MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING) ? 0 : GetLastError();
}

std::string SystemErrorText(uint32_t code) {
  wchar_t* text = nullptr;
  const DWORD n = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::string out;
  if (n > 0 && text != nullptr) {
    const int size =
        WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(n), nullptr, 0, nullptr, nullptr);
    if (size > 0) {
      out.resize(static_cast<std::size_t>(size));
      WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(n), out.data(), size, nullptr,
                          nullptr);
    }
  }
  if (text != nullptr) LocalFree(text);
  while (!out.empty() &&
         (out.back() == '\n' || out.back() == '\r' || out.back() == ' ' || out.back() == '.')) {
    out.pop_back();
  }
  if (out.empty()) out = "system error " + std::to_string(code);
  return out;
}

#else

std::unique_ptr<TraceFile> TraceFile::Create(const std::string& path, uint32_t& error) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) {
    error = static_cast<uint32_t>(errno);
    return nullptr;
  }
  error = 0;
  return std::unique_ptr<TraceFile>(new TraceFile(fd));
}

TraceFile::~TraceFile() {
  CutAtEnd();
#if defined(__linux__)
  // Gives back the room kept beyond the end.
  fallocate(static_cast<int>(handle_), FALLOC_FL_KEEP_SIZE | FALLOC_FL_PUNCH_HOLE,
            static_cast<off_t>(end_), off_t{1} << 30);
#endif
  ::close(static_cast<int>(handle_));
}

void TraceFile::CutAtEnd() {
  while (::ftruncate(static_cast<int>(handle_), static_cast<off_t>(end_)) != 0 && errno == EINTR) {
  }
}

uint32_t TraceFile::Append(const char* data, std::size_t n) {
  std::size_t done = 0;
  while (done < n) {
    const ssize_t wrote =
        ::pwrite(static_cast<int>(handle_), data + done, n - done, static_cast<off_t>(end_ + done));
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) {
      const auto code = static_cast<uint32_t>(wrote < 0 ? errno : ENOSPC);
      CutAtEnd();
      return code;
    }
    done += static_cast<std::size_t>(wrote);
  }
  end_ += n;
  return 0;
}

uint32_t TraceFile::KeepRoom(std::size_t n) {
#if defined(__linux__)
  if (roomUnsupported_) return 0;
  int rc;
  do {
    rc = fallocate(static_cast<int>(handle_), FALLOC_FL_KEEP_SIZE, static_cast<off_t>(end_),
                   static_cast<off_t>(n));
  } while (rc != 0 && errno == EINTR);
  if (rc == 0) return 0;
  if (errno == ENOSPC || errno == EDQUOT || errno == EFBIG) return static_cast<uint32_t>(errno);
  roomUnsupported_ = true;
#else
  (void)n;
#endif
  return 0;
}

uint32_t TraceFile::MissingFrom(const std::string& path) const {
  struct stat mine {};
  struct stat there {};
  if (::fstat(static_cast<int>(handle_), &mine) != 0) return 0;
  if (::stat(path.c_str(), &there) != 0) return errno == ENOENT || errno == ENOTDIR ? ENOENT : 0;
  return mine.st_dev == there.st_dev && mine.st_ino == there.st_ino ? 0 : ENOENT;
}

uint32_t RenameOver(const std::string& from, const std::string& to) {
  return std::rename(from.c_str(), to.c_str()) == 0 ? 0 : static_cast<uint32_t>(errno);
}

std::string SystemErrorText(uint32_t code) {
  return std::system_category().message(static_cast<int>(code));
}

#endif

}  // namespace vu30::trace
