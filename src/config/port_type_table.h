/* SPDX-License-Identifier: MIT */
// The port type table: per port number 0..30 the dispenser type, the
// impulses-per-litre factor and the in-use mark, kept in cnf.INI (section
// COMTypeTRK) in the Windows directory. One table per loaded library.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

namespace vu30::config {

// Type codes: the position of the type's name in the dialog's list.
inline constexpr uint8_t kTypeEC2000 = 0;  // "ЕС-2000", the default
inline constexpr uint8_t kTypeFAS = 1;     // "FAS": readings in impulses
inline constexpr uint8_t kTypeER32 = 2;    // "ER3/2"
inline constexpr uint8_t kTypeER112 = 3;   // "ER112": readings in impulses
// The types whose running volume the dispenser counts in impulses, turned
// into litres by the port's impulses factor (and whose line runs with the
// impulse-counting settings).
constexpr bool CountsImpulses(uint8_t type) { return type == kTypeFAS || type == kTypeER112; }
// Lookup results of their own.
inline constexpr uint8_t kPortNotInUse = 254;
inline constexpr uint8_t kPortLookupFailed = 255;

inline constexpr int kFirstPort = 0;
inline constexpr int kLastPort = 30;
inline constexpr uint8_t kDefaultImpl = 100;
inline constexpr const char* kSection = "COMTypeTRK";
inline constexpr const char* kFileName = "cnf.INI";

// One entry. The fields are read by the host's threads and the post workers
// while the dialog may write them, so each is an atomic byte (relaxed).
struct PortEntry {
  std::atomic<uint8_t> trkType{0};
  std::atomic<uint8_t> impl{0};
  std::atomic<uint8_t> inUse{0};
  // Live driver objects that have opened this post. A reload keeps the mark
  // of an entry that a live driver holds.
  std::atomic<int> holders{0};
};

// A new type and factor for a port, as the dialog's Save hands them over.
struct PortSetting {
  int port = 0;
  uint8_t trkType = 0;
  uint8_t impl = 0;
};

class PortTypeTable {
 public:
  // Full path of cnf.INI in the Windows directory.
  static std::string FileName();

  // Loads types and factors of entries 0..30 from the file (missing file,
  // key or non-integer value: type 0, factor 100; values keep their low 8
  // bits) and clears their in-use marks, except the marks of posts that a
  // live driver object holds (Hold).
  void Load();
  void Load(const std::string& path);
  // Writes COM_<n>_TYPE and COM_<n>_IMPL of every entry in use, as they are
  // after changes, to the file in one write (other keys are kept); only once
  // the file is written are the changes made to the table. Returns false,
  // with the table and the file unchanged, when the file could not be
  // written. Every port of changes must be 0..30.
  bool Save(const std::vector<PortSetting>& changes = {});
  bool Save(const std::string& path, const std::vector<PortSetting>& changes = {});

  // The stored type of an entry in use, kPortNotInUse for an entry not in
  // use, kPortLookupFailed for a number with no entry. Never throws.
  uint8_t GetPortType(uint8_t port) const;

  // Marks an entry in use (post opening). port must be 0..30.
  void MarkInUse(int port);
  // A driver object holds the mark of a post it has opened (once per post,
  // when it gives the post its worker) until it is destroyed (Release); a
  // second driver's reload then does not clear it. A released mark stays
  // until the next load clears it.
  void Hold(int port);
  void Release(int port);
  bool InUse(int port) const;
  uint8_t TrkType(int port) const;
  uint8_t Impl(int port) const;
  void SetTrkType(int port, uint8_t type);
  void SetImpl(int port, uint8_t impl);
  // Back to the state of library load: every field zero.
  void Reset();

 private:
  PortEntry& At(int port);
  const PortEntry& At(int port) const;
  std::array<PortEntry, kLastPort + 1> entries_{};
};

// The library-wide table.
PortTypeTable& PortTypes();

}  // namespace vu30::config
