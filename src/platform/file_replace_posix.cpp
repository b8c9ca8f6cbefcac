// SPDX-License-Identifier: MIT
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>

#include "platform/file_replace.h"

namespace vu30::platform {
namespace {

namespace fs = std::filesystem;

// A temporary name beside target, unique within this process and unlikely to
// meet another process's.
std::string TemporaryName(const fs::path& target) {
  static std::atomic<unsigned> counter{0};
  const long pid = static_cast<long>(getpid());
  const auto ticks =
      static_cast<unsigned long long>(std::chrono::steady_clock::now().time_since_epoch().count());
  return target.string() + ".vu30tmp." + std::to_string(pid) + "." +
         std::to_string(counter.fetch_add(1)) + "." + std::to_string(ticks % 1000000007ULL);
}

}  // namespace

ReadResult ReadWholeFile(const std::string& path, std::string& text) {
  std::error_code ec;
  const fs::file_status status = fs::status(path, ec);
  if (status.type() == fs::file_type::not_found) {
    text.clear();
    return ReadResult::Missing;
  }
  if (ec || status.type() == fs::file_type::directory) return ReadResult::Failed;
  std::ifstream in(path, std::ios::binary);
  if (!in) return ReadResult::Failed;
  std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) return ReadResult::Failed;
  text = std::move(content);
  return ReadResult::Ok;
}

bool ReplaceWholeFile(const std::string& path, const std::string& text) {
  std::error_code ec;
  fs::path target(path);
  if (fs::is_symlink(target, ec)) {
    const fs::path resolved = fs::canonical(target, ec);
    if (!ec) target = resolved;
  }
  const std::string temporary = TemporaryName(target);

  const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0) return false;
  bool ok = true;
  struct stat old {};
  if (::stat(target.c_str(), &old) == 0) (void)::fchmod(fd, old.st_mode & 07777);
  std::size_t written = 0;
  while (ok && written < text.size()) {
    const ssize_t n = ::write(fd, text.data() + written, text.size() - written);
    if (n < 0) {
      if (errno == EINTR) continue;
      ok = false;
    } else {
      written += static_cast<std::size_t>(n);
    }
  }
  if (ok && ::fsync(fd) != 0) ok = false;
  if (::close(fd) != 0) ok = false;
  if (!ok) {
    (void)::unlink(temporary.c_str());
    return false;
  }

  fs::rename(temporary, target, ec);
  if (ec) {
    fs::remove(temporary, ec);
    return false;
  }
  return true;
}

}  // namespace vu30::platform
