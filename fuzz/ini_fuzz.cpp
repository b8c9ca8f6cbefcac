// SPDX-License-Identifier: MIT
// The INI reader and writer on arbitrary files, names and values. Input: the
// file's bytes, then the section, the key and the value, separated by the
// byte 0x01 (missing parts are those of cnf.INI: COMTypeTRK, COM_1_TYPE, 3).
//
// What must hold: a refused write leaves the file as it was; a written key
// reads back (unless the value has blanks at its ends or one pair of quotes
// around it, which a read removes, as Windows does); every other byte of the
// file stays: at most the key's old value is replaced; ReadInteger finds a
// number only where Read finds a value.
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_support.h"
#include "platform/ini_file.h"

namespace {

namespace fs = std::filesystem;

// A directory of this process's own, on a memory file system where there is
// one: every run writes the file, and the writer syncs it. Removed at exit.
class WorkDirectory {
 public:
  WorkDirectory() {
    const fs::path base = fs::exists("/dev/shm") ? fs::path("/dev/shm") : fs::temp_directory_path();
    path_ = base / ("vu30-ini-fuzz-" + std::to_string(getpid()));
    fs::create_directories(path_);
  }
  ~WorkDirectory() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
  }
  WorkDirectory(const WorkDirectory&) = delete;
  WorkDirectory& operator=(const WorkDirectory&) = delete;
  const fs::path& Path() const { return path_; }

 private:
  fs::path path_;
};

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteFile(const fs::path& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(text.data(), static_cast<std::streamsize>(text.size()));
  vu30::fuzz::Require(static_cast<bool>(out), "cannot write the input file");
}

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\v' || c == '\f' || c == '\r'; }

// True when a read gives back exactly what was written.
bool ReadsBackAsWritten(const std::string& value) {
  if (!value.empty() && (IsBlank(value.front()) || IsBlank(value.back()))) return false;
  const bool quoted = value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
                      value.back() == value.front();
  return !quoted;
}

// The glue: the calls the port type table makes.
struct Outcome {
  std::optional<std::string> before;
  std::optional<long long> integer;
  bool written = false;
};
Outcome ReadAndWrite(const std::string& path, const std::string& section, const std::string& key,
                     const std::string& value) {
  vu30::platform::IniFile ini(path);
  Outcome o;
  o.before = ini.Read(section, key);
  o.integer = ini.ReadInteger(section, key);
  o.written = ini.Write(section, key, value);
  return o;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<std::string> parts(1);
  for (size_t i = 0; i < size; ++i) {
    if (data[i] == 0x01 && parts.size() < 4) {
      parts.emplace_back();
    } else {
      parts.back().push_back(static_cast<char>(data[i]));
    }
  }
  const std::string& original = parts[0];
  const std::string section = parts.size() > 1 ? parts[1] : "COMTypeTRK";
  const std::string key = parts.size() > 2 ? parts[2] : "COM_1_TYPE";
  const std::string value = parts.size() > 3 ? parts[3] : "3";

  static const WorkDirectory work;
  const fs::path path = work.Path() / "cnf.INI";
  WriteFile(path, original);
  const Outcome o = ReadAndWrite(path.string(), section, key, value);
  const std::string after = ReadFile(path);

  if (o.integer) vu30::fuzz::Require(o.before.has_value(), "an integer without a value");
  if (!o.written) {
    vu30::fuzz::Require(after == original, "a refused write changed the file");
    return 0;
  }
  const vu30::platform::IniFile again(path.string());
  const std::optional<std::string> read = again.Read(section, key);
  vu30::fuzz::Require(read.has_value(), "a written key is missing");
  if (ReadsBackAsWritten(value)) {
    vu30::fuzz::Require(*read == value, "a written key reads back another value");
  }

  // Everything but the key's old value is kept: the bytes not shared as a
  // common head or tail of the old and new file are at most the old value
  // (with its quotes).
  const size_t shortest = std::min(original.size(), after.size());
  size_t head = 0;
  while (head < shortest && original[head] == after[head]) ++head;
  size_t tail = 0;
  while (tail < shortest - head &&
         original[original.size() - 1 - tail] == after[after.size() - 1 - tail]) {
    ++tail;
  }
  const size_t removed = original.size() - head - tail;
  const size_t allowed = o.before ? o.before->size() + 2 : 0;
  vu30::fuzz::Require(removed <= allowed, "a write removed bytes besides the key's old value");
  return 0;
}
