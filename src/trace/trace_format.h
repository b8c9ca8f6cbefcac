/* SPDX-License-Identifier: MIT */
// What the trace file holds, shared by the tracing dispatcher that writes it
// and the reader that explains it.
//
// The file is JSON Lines. Its first line is the header:
//   {"format":"vu30-trace","version":1,"library":"2.41","start":"<UTC time>",
//    "trace":"<id>","file":N}
// trace: an id the trace was given when opened, the same in each of its
// files; file: this file's place in the trace (1, then 2 after the first
// rotation, and so on). Files written before these two fields say neither.
// Every further line is one object with "entry" naming what it records:
// a dispatcher entry the driver called (GetChannelError .. SetPostInit), a
// call of the dispatcher into the driver (CheckReply, RouteMessage,
// PreparePost), "dropped" (records lost) or "end" (the file is finished:
// totals). Times ("t", "dur", "from", "to") are microseconds on the
// monotonic clock since the trace was opened, with three decimals; byte
// strings are lower-case hex. Record lines are in the order of "t", except a
// call that reached the writer later than its reordering window (one that
// lasted longer than the window), which is written when it arrives.
//
// A dropped line tells records of one channel (or post) that are not in the
// file, the time span they lie in, and why:
//   {"entry":"dropped","channel":C,"from":T0,"to":T1,"count":N,"total":T,"reason":"R"}
// C: 0..255, the channel or post the lost records name; from <= to: the
// first and last lost record's "t"; count: how many were lost in the span;
// total: the file's dropped records up to and including this line; reason:
// "buffer full" (the writer could not keep up) or "write failed: <the
// system's error text>" (the file could not take them, e.g. a full disk).
// Several dropped lines may name the same channel, and their spans may
// overlap record lines of that channel. A dropped line has no "t".
//
// The end line closes a file and gives its totals:
//   {"entry":"end","records":N,"dropped":D,"dropped_buffer_full":B,
//    "dropped_write_failed":W[,"write_error":"<text>"][,"rotated":true]
//    [,"dropped_not_listed":U]}
// records: record lines in this file; dropped (= B + W): the sum of this
// file's dropped lines' counts, and U: losses whose dropped lines the file
// had no room for (a full disk), told by the end line alone; write_error:
// the last failed write's error text, when a write of this file failed, a
// rotation could not be made, or the file was removed or renamed while the
// trace wrote it (the trace then goes on in a new file at its path); rotated: the trace goes on in
// a new file (the host asked for a size limit; this file was renamed path.1, older ones path.2 ..).
// A trace the host never closed still gets its end line when the process exits normally or the
// library is unloaded.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

namespace vu30::trace {

inline constexpr std::string_view kFormatName = "vu30-trace";
inline constexpr int kFormatVersion = 1;

// The entries a record can be of, in the dispatcher table's order, then the
// driver's callbacks.
enum class Entry : uint8_t {
  GetChannelError,
  SetChannelError,
  SetChannelStatus,
  GetChannelStatus,
  ConfigureChannel,
  Transact,
  SetReplyChecker,
  SetMessageHook,
  SetPostInit,
  CheckReply,
  RouteMessage,
  PreparePost,
};
inline constexpr std::array<std::string_view, 12> kEntryNames = {
    "GetChannelError",  "SetChannelError", "SetChannelStatus", "GetChannelStatus",
    "ConfigureChannel", "Transact",        "SetReplyChecker",  "SetMessageHook",
    "SetPostInit",      "CheckReply",      "RouteMessage",     "PreparePost"};

constexpr std::string_view EntryName(Entry e) { return kEntryNames[static_cast<std::size_t>(e)]; }

constexpr std::optional<Entry> EntryFromName(std::string_view name) {
  for (std::size_t i = 0; i < kEntryNames.size(); ++i) {
    if (kEntryNames[i] == name) return static_cast<Entry>(i);
  }
  return std::nullopt;
}

// The lines that are not records of an entry.
inline constexpr std::string_view kDroppedLine = "dropped";
inline constexpr std::string_view kEndLine = "end";

// At most this many bytes of a request, reply or message are kept; the
// record still tells the full length.
inline constexpr std::size_t kKeptBytes = 40;

}  // namespace vu30::trace
