/* SPDX-License-Identifier: MIT */
// Whole-file reading and replacing for the INI file: the new content is
// written in full beside the old file and then takes its place in one step,
// so that a failed write leaves the old file as it was. POSIX in
// file_replace_posix.cpp; Windows in file_replace_win32.cpp, where paths are
// in the ANSI code page and of any length.
#pragma once

#include <string>

namespace vu30::platform {

enum class ReadResult { Ok, Missing, Failed };

// The file's bytes into text. Missing (text emptied) when the file or its
// directory does not exist; Failed for a directory or a file that cannot be
// read.
ReadResult ReadWholeFile(const std::string& path, std::string& text);

// Replaces the file at path by text (creating it when missing, never its
// directory). The file keeps what the system keeps of the replaced one: its
// permission bits on POSIX (where a symbolic link is followed), its
// attributes and security on Windows. False, with the file unchanged, when
// it cannot be done.
bool ReplaceWholeFile(const std::string& path, const std::string& text);

}  // namespace vu30::platform
