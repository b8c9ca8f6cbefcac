// SPDX-License-Identifier: MIT
#include "platform/ini_file.h"

#include <cstdint>
#include <string_view>
#include <vector>

#include "platform/file_replace.h"

namespace vu30::platform {
namespace {

constexpr std::string_view kBlanks = " \t\v\f\r";
constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

bool IsBlank(char c) { return kBlanks.find(c) != std::string_view::npos; }

char AsciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
  }
  return true;
}

// Positions [begin, end) of text with the blanks at both ends left out.
void TrimRange(const std::string& text, std::size_t& begin, std::size_t& end) {
  while (begin < end && IsBlank(text[begin])) ++begin;
  while (end > begin && IsBlank(text[end - 1])) --end;
}

// One line of the file as the reader sees it. Positions index the file text.
struct Line {
  enum class Kind { Other, Section, Key };
  Kind kind = Kind::Other;
  std::size_t next = 0;        // start of the following line (or the text's end)
  bool terminated = false;     // the line ends with '\n'
  bool blank = false;          // nothing but blanks
  std::string_view name;       // section or key name, blanks removed
  std::size_t valueBegin = 0;  // Key: the value, blanks removed
  std::size_t valueEnd = 0;
};

// Splits text into lines and classifies them the Windows way: a line whose
// first non-blank character is '[' and that has a ']' names a section; a line
// that starts with ';' is a comment; any other line with a '=' and a
// non-empty name before it is a key; everything else is kept as it is.
std::vector<Line> Scan(const std::string& text) {
  std::vector<Line> lines;
  std::size_t pos = 0;
  if (text.compare(0, kUtf8Bom.size(), kUtf8Bom) == 0) pos = kUtf8Bom.size();
  while (pos < text.size()) {
    Line line;
    const std::size_t newline = text.find('\n', pos);
    std::size_t end = newline == std::string::npos ? text.size() : newline;
    line.terminated = newline != std::string::npos;
    line.next = line.terminated ? newline + 1 : text.size();
    std::size_t begin = pos;
    TrimRange(text, begin, end);  // also drops the '\r' of a CRLF line
    line.blank = begin == end;
    if (begin < end && text[begin] == '[') {
      const std::size_t close = text.find(']', begin + 1);
      if (close != std::string::npos && close < end) {
        std::size_t nameBegin = begin + 1;
        std::size_t nameEnd = close;
        TrimRange(text, nameBegin, nameEnd);
        line.kind = Line::Kind::Section;
        line.name = std::string_view(text).substr(nameBegin, nameEnd - nameBegin);
      }
    } else if (begin < end && text[begin] != ';') {
      const std::size_t equals = text.find('=', begin);
      if (equals != std::string::npos && equals < end) {
        std::size_t nameEnd = equals;
        std::size_t nameBegin = begin;
        TrimRange(text, nameBegin, nameEnd);
        if (nameBegin < nameEnd) {
          line.kind = Line::Kind::Key;
          line.name = std::string_view(text).substr(nameBegin, nameEnd - nameBegin);
          line.valueBegin = equals + 1;
          line.valueEnd = end;
          TrimRange(text, line.valueBegin, line.valueEnd);
        }
      }
    }
    lines.push_back(line);
    pos = line.next;
  }
  return lines;
}

constexpr std::size_t kNone = static_cast<std::size_t>(-1);

// Where a key stands: the first section of that name (as Windows, later
// sections of the same name are not looked at), the last key line in it, and
// the key's own line when present. Indexes into the lines, kNone when absent.
struct Place {
  std::size_t section = kNone;
  std::size_t lastKey = kNone;
  std::size_t key = kNone;
};

Place Locate(const std::vector<Line>& lines, std::string_view section, std::string_view key) {
  Place place;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const Line& line = lines[i];
    if (line.kind == Line::Kind::Section) {
      if (place.section != kNone) break;  // end of the first matching section
      if (EqualsIgnoreCase(line.name, section)) place.section = i;
    } else if (line.kind == Line::Kind::Key && place.section != kNone) {
      place.lastKey = i;
      if (place.key == kNone && EqualsIgnoreCase(line.name, key)) place.key = i;
    }
  }
  return place;
}

// The line ending of the file: that of its first line, else the platform's.
std::string LineEnding(const std::string& text) {
  const std::size_t newline = text.find('\n');
  if (newline == std::string::npos) {
#if defined(_WIN32)
    return "\r\n";
#else
    return "\n";
#endif
  }
  return newline > 0 && text[newline - 1] == '\r' ? "\r\n" : "\n";
}

bool HasLineBreak(std::string_view s) { return s.find_first_of("\r\n") != std::string_view::npos; }

bool HasOuterBlanks(std::string_view s) {
  return !s.empty() && (IsBlank(s.front()) || IsBlank(s.back()));
}

std::string LowerAscii(std::string_view s) {
  std::string out(s);
  for (char& ch : out) ch = AsciiLower(ch);
  return out;
}

// As Windows does, one pair of matching quotes around a value is removed.
std::string Unquoted(std::string_view value) {
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
      value.back() == value.front()) {
    value = value.substr(1, value.size() - 2);
  }
  return std::string(value);
}

// A whole decimal number within 32 bits: an optional sign, then digits, and
// nothing else. Anything else is no integer, so the caller's default applies.
std::optional<long long> WholeNumber(std::string_view text) {
  std::size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  if (i == text.size()) return std::nullopt;
  long long magnitude = 0;
  for (; i < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9') return std::nullopt;
    magnitude = magnitude * 10 + (text[i] - '0');
    if (magnitude > 2147483648LL) return std::nullopt;
  }
  const long long value = negative ? -magnitude : magnitude;
  if (value > 2147483647LL) return std::nullopt;
  return value;
}

// Names and values that could not be read back as written.
bool Refused(const std::string& section, const std::string& key, const std::string& value) {
  return section.empty() || key.empty() || HasLineBreak(section) || HasLineBreak(key) ||
         HasLineBreak(value) || HasOuterBlanks(section) || HasOuterBlanks(key) ||
         section.find(']') != std::string::npos || key.find('=') != std::string::npos ||
         key.front() == ';' || key.front() == '[';
}

// text with key of section set to value, in the file's own style.
std::string WithKey(const std::string& text, const std::string& section, const std::string& key,
                    const std::string& value) {
  const std::vector<Line> lines = Scan(text);
  const Place place = Locate(lines, section, key);
  const std::string eol = LineEnding(text);
  if (place.key != kNone) {
    // Only the value changes; the name, the blanks and the line ending stay.
    const Line& line = lines[place.key];
    return text.substr(0, line.valueBegin) + value + text.substr(line.valueEnd);
  }
  if (place.section != kNone) {
    // A new key after the section's last key (or its header).
    const Line& after = lines[place.lastKey != kNone ? place.lastKey : place.section];
    std::string updated = text.substr(0, after.next);
    if (!after.terminated) updated += eol;
    updated += key + "=" + value + eol;
    updated += text.substr(after.next);
    return updated;
  }
  // A new section at the end of the file, after a blank line.
  std::string updated = text;
  if (!updated.empty() && updated.back() != '\n') updated += eol;
  if (!lines.empty() && !lines.back().blank) updated += eol;
  updated += "[" + section + "]" + eol + key + "=" + value + eol;
  return updated;
}

}  // namespace

std::optional<std::string> IniSection::Value(const std::string& key) const {
  const auto it = values_.find(LowerAscii(key));
  if (it == values_.end()) return std::nullopt;
  return it->second;
}

std::optional<long long> IniSection::Integer(const std::string& key) const {
  const std::optional<std::string> value = Value(key);
  if (!value) return std::nullopt;
  return WholeNumber(*value);
}

IniFile::IniFile(std::string path) : path_(std::move(path)) {
  if (ReadWholeFile(path_, text_) != ReadResult::Ok) text_.clear();
}

IniSection IniFile::ReadSection(const std::string& section) const {
  IniSection result;
  bool inSection = false;
  for (const Line& line : Scan(text_)) {
    if (line.kind == Line::Kind::Section) {
      if (inSection) break;  // only the first section of the name counts
      inSection = EqualsIgnoreCase(line.name, section);
    } else if (inSection && line.kind == Line::Kind::Key) {
      // The first key of a name wins.
      result.values_.try_emplace(LowerAscii(line.name),
                                 Unquoted(std::string_view(text_).substr(
                                     line.valueBegin, line.valueEnd - line.valueBegin)));
    }
  }
  return result;
}

std::optional<std::string> IniFile::Read(const std::string& section, const std::string& key) const {
  return ReadSection(section).Value(key);
}

std::optional<long long> IniFile::ReadInteger(const std::string& section,
                                              const std::string& key) const {
  return ReadSection(section).Integer(key);
}

bool IniFile::Write(const std::string& section, const Entries& entries) {
  for (const auto& [key, value] : entries) {
    if (Refused(section, key, value)) return false;
  }

  // The file as it is now: another program may have changed it since.
  std::string current;
  if (ReadWholeFile(path_, current) == ReadResult::Failed) return false;

  std::string updated = current;
  for (const auto& [key, value] : entries) updated = WithKey(updated, section, key, value);

  if (!ReplaceWholeFile(path_, updated)) {
    text_ = std::move(current);
    return false;
  }
  text_ = std::move(updated);
  return true;
}

}  // namespace vu30::platform
