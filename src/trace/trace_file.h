/* SPDX-License-Identifier: MIT */
// A trace's file as the writer uses it: lines appended whole or not at all,
// room kept ahead for the closing lines, and the system's words for a
// failure. POSIX descriptors here, Windows handles there.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace vu30::trace {

class TraceFile {
 public:
  // Creates the file at path, or empties it; null and the system's error code
  // in error when it cannot.
  static std::unique_ptr<TraceFile> Create(const std::string& path, uint32_t& error);
  // Cuts off what lies beyond the written end (room kept, a failed write's
  // part) and closes the file.
  ~TraceFile();
  TraceFile(const TraceFile&) = delete;
  TraceFile& operator=(const TraceFile&) = delete;

  // Appends n bytes at the written end: all of them, or none (what a failed
  // write left is cut off again). 0, or the system's error code.
  uint32_t Append(const char* data, std::size_t n);
  // Makes sure n bytes beyond the written end are allocated, so that a later
  // write there cannot fail for want of space. 0 when they are, or where the
  // file system cannot keep room; the system's error code when it has none.
  uint32_t KeepRoom(std::size_t n);
  uint64_t Size() const { return end_; }
  // 0 while this file is the one at path; the system's code for a missing
  // file once it has been removed or renamed (path gone, or another file).
  // A path the system cannot look at counts as this file.
  uint32_t MissingFrom(const std::string& path) const;

 private:
  explicit TraceFile(std::intptr_t handle) : handle_(handle) {}
  void CutAtEnd();

  std::intptr_t handle_;
  uint64_t end_ = 0;
  bool roomUnsupported_ = false;
};

// Renames from to to, replacing to. 0, or the system's error code.
uint32_t RenameOver(const std::string& from, const std::string& to);
// The system's text for an error code of the functions above, in UTF-8,
// without a line end.
std::string SystemErrorText(uint32_t code);

}  // namespace vu30::trace
