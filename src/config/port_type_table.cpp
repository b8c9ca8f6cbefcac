// SPDX-License-Identifier: MIT
#include "config/port_type_table.h"

#include <stdexcept>

#include "platform/ini_file.h"
#include "platform/windows_directory.h"

namespace vu30::config {
namespace {

constexpr auto kRelaxed = std::memory_order_relaxed;

std::string TypeKey(int port) { return "COM_" + std::to_string(port) + "_TYPE"; }
std::string ImplKey(int port) { return "COM_" + std::to_string(port) + "_IMPL"; }

// A value read from the file keeps its low 8 bits: 300 -> 44, -1 -> 255.
uint8_t LowByte(long long value) { return static_cast<uint8_t>(value & 0xFF); }

}  // namespace

std::string PortTypeTable::FileName() {
  return platform::JoinPath(platform::WindowsDirectory(), kFileName);
}

void PortTypeTable::Load() { Load(FileName()); }

void PortTypeTable::Load(const std::string& path) {
  // A missing file reads as empty; the section is parsed once.
  const platform::IniSection section = platform::IniFile(path).ReadSection(kSection);
  for (int port = kFirstPort; port <= kLastPort; ++port) {
    PortEntry& entry = At(port);
    entry.trkType.store(LowByte(section.Integer(TypeKey(port)).value_or(kTypeEC2000)), kRelaxed);
    entry.impl.store(LowByte(section.Integer(ImplKey(port)).value_or(kDefaultImpl)), kRelaxed);
    entry.inUse.store(entry.holders.load(kRelaxed) > 0 ? 1 : 0, kRelaxed);
  }
}

bool PortTypeTable::Save(const std::vector<PortSetting>& changes) {
  return Save(FileName(), changes);
}

bool PortTypeTable::Save(const std::string& path, const std::vector<PortSetting>& changes) {
  for (const PortSetting& change : changes) (void)At(change.port);  // refuses a port without entry
  // The entries as they will be once the changes are made.
  std::array<PortSetting, kLastPort + 1> next{};
  for (int port = kFirstPort; port <= kLastPort; ++port) {
    next[static_cast<std::size_t>(port)] = {port, TrkType(port), Impl(port)};
  }
  for (const PortSetting& change : changes) next[static_cast<std::size_t>(change.port)] = change;

  // Entries not in use are neither written nor removed.
  platform::IniFile::Entries keys;
  for (const PortSetting& entry : next) {
    if (!InUse(entry.port)) continue;
    keys.emplace_back(TypeKey(entry.port), std::to_string(entry.trkType));
    keys.emplace_back(ImplKey(entry.port), std::to_string(entry.impl));
  }
  if (!keys.empty() && !platform::IniFile(path).Write(kSection, keys)) return false;

  for (const PortSetting& change : changes) {
    SetTrkType(change.port, change.trkType);
    SetImpl(change.port, change.impl);
  }
  return true;
}

uint8_t PortTypeTable::GetPortType(uint8_t port) const {
  if (port > kLastPort) return kPortLookupFailed;
  const PortEntry& entry = entries_[port];
  return entry.inUse.load(kRelaxed) != 0 ? entry.trkType.load(kRelaxed) : kPortNotInUse;
}

void PortTypeTable::MarkInUse(int port) { At(port).inUse.store(1, kRelaxed); }
void PortTypeTable::Hold(int port) { At(port).holders.fetch_add(1, kRelaxed); }
void PortTypeTable::Release(int port) {
  PortEntry& entry = At(port);
  int held = entry.holders.load(kRelaxed);
  while (held > 0 && !entry.holders.compare_exchange_weak(held, held - 1, kRelaxed)) {
  }
}
bool PortTypeTable::InUse(int port) const { return At(port).inUse.load(kRelaxed) != 0; }
uint8_t PortTypeTable::TrkType(int port) const { return At(port).trkType.load(kRelaxed); }
uint8_t PortTypeTable::Impl(int port) const { return At(port).impl.load(kRelaxed); }
void PortTypeTable::SetTrkType(int port, uint8_t type) { At(port).trkType.store(type, kRelaxed); }
void PortTypeTable::SetImpl(int port, uint8_t impl) { At(port).impl.store(impl, kRelaxed); }

void PortTypeTable::Reset() {
  for (PortEntry& entry : entries_) {
    entry.trkType.store(0, kRelaxed);
    entry.impl.store(0, kRelaxed);
    entry.inUse.store(0, kRelaxed);
    entry.holders.store(0, kRelaxed);
  }
}

PortEntry& PortTypeTable::At(int port) {
  if (port < kFirstPort || port > kLastPort) {
    throw std::out_of_range("vu30: port " + std::to_string(port) + " is outside 0..30");
  }
  return entries_[static_cast<std::size_t>(port)];
}

const PortEntry& PortTypeTable::At(int port) const {
  return const_cast<PortTypeTable*>(this)->At(port);
}

PortTypeTable& PortTypes() {
  static PortTypeTable table;  // all entries zero at library load
  return table;
}

}  // namespace vu30::config
