// Reading and writing keys of a Windows-style INI file. Every other section,
// key, comment and blank line of the file is kept byte for byte, since other
// drivers of the host keep their settings in the same file.
#pragma once

#include <optional>
#include <string>

namespace vu30::platform {

class IniFile {
 public:
  // Reads the file; a missing or unreadable file reads as empty.
  explicit IniFile(std::string path);

  // The value of key in section (names compared without regard to ASCII case,
  // as Windows does), with surrounding blanks and one pair of matching quotes
  // removed (as Windows does); nullopt when missing. Only the first section
  // of a name is looked at, and the first key of a name in it.
  std::optional<std::string> Read(const std::string& section, const std::string& key) const;

  // Reads an integer the way the host's INI functions do: the leading decimal
  // integer of the value (an optional sign, then digits); nullopt when the key
  // is missing or its value does not start with an integer. Values beyond 32
  // bits wrap as the platform's 32-bit conversion would.
  std::optional<long long> ReadInteger(const std::string& section, const std::string& key) const;

  // Sets key in section (adding the section or the key where missing) and
  // writes the file at once. Returns false, with the file unchanged, when it
  // cannot be written.
  // The file is read again first, so that changes another program made
  // meanwhile are kept; an existing key's value is replaced in place, a new
  // key goes after the section's last key, a new section at the end, new
  // lines in the file's own line ending. The new file is written beside the
  // old one and renamed over it. A missing file is created, a missing
  // directory is not. Names with line breaks, outer blanks, a ']' (section)
  // or a '=' (key), and values with line breaks, are refused (false).
  bool Write(const std::string& section, const std::string& key, const std::string& value);

  const std::string& Path() const { return path_; }

 private:
  std::string path_;
  std::string text_;  // the file's bytes as last read or written
};

}  // namespace vu30::platform
