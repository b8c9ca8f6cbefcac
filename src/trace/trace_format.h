// What the trace file holds, shared by the tracing dispatcher that writes it
// and the reader that explains it.
//
// The file is JSON Lines. Its first line is the header:
//   {"format":"vu30-trace","version":1,"library":"2.41","start":"<UTC time>"}
// Every further line is one object with "entry" naming what it records:
// a dispatcher entry the driver called (GetChannelError .. SetPostInit), a
// call of the dispatcher into the driver (CheckReply, RouteMessage,
// PreparePost), "dropped" (records lost because the writer could not keep
// up) or "end" (the trace was closed: totals). Times ("t", "dur") are
// microseconds on the monotonic clock since the trace was opened; byte
// strings are lower-case hex.
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
