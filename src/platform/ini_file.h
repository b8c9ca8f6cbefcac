/* SPDX-License-Identifier: MIT */
// Reading and writing keys of a Windows-style INI file. Every other section,
// key, comment and blank line of the file is kept byte for byte, since other
// drivers of the host keep their settings in the same file.
#pragma once

#include <optional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

namespace vu30::platform {

// The keys of one section, read once: the first section of the name, the
// first key of each name in it (names compared without regard to ASCII case).
class IniSection {
 public:
  // The value, with surrounding blanks and one pair of matching quotes
  // removed (as Windows does); nullopt when missing.
  std::optional<std::string> Value(const std::string& key) const;
  // The value when it is a whole decimal number within 32 bits (an optional
  // sign, then digits, nothing else); nullopt when the key is missing or its
  // value is anything else (empty, "12abc", "1 ; note", 4294967296).
  std::optional<long long> Integer(const std::string& key) const;

 private:
  friend class IniFile;
  std::unordered_map<std::string, std::string> values_;  // by lower-case name
};

class IniFile {
 public:
  // Reads the file; a missing or unreadable file reads as empty.
  explicit IniFile(std::string path);

  // The whole section, parsed once; empty when the section is missing.
  IniSection ReadSection(const std::string& section) const;
  // One key's value or integer, as IniSection reads them.
  std::optional<std::string> Read(const std::string& section, const std::string& key) const;
  std::optional<long long> ReadInteger(const std::string& section, const std::string& key) const;

  // Sets keys of section (adding the section or a key where missing) and
  // writes the file once, as a whole. Returns false, with the file unchanged,
  // when it cannot be written or a name or value is refused.
  // The file is read again first, so that changes another program made
  // meanwhile are kept; an existing key's value is replaced in place, a new
  // key goes after the section's last key, a new section at the end, new
  // lines in the file's own line ending. The new file is written beside the
  // old one and renamed over it. A missing file is created, a missing
  // directory is not. Names with line breaks, outer blanks, a ']' (section)
  // or a '=' (key), and values with line breaks, are refused.
  using Entries = std::vector<std::pair<std::string, std::string>>;
  bool Write(const std::string& section, const Entries& entries);
  bool Write(const std::string& section, const std::string& key, const std::string& value) {
    return Write(section, Entries{{key, value}});
  }

  const std::string& Path() const { return path_; }

 private:
  std::string path_;
  std::string text_;  // the file's bytes as last read or written
};

}  // namespace vu30::platform
