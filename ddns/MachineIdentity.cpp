#include "ddns/MachineIdentity.h"

#include <algorithm>
#include <cstdio>

#include "platform/NetworkInterfaces.h"

namespace hw {
namespace {

constexpr int kEthernetType = 6;

std::string FormatAddress(const unsigned char* bytes) {
  char text[18];
  std::snprintf(text, sizeof text, "%2.2X-%2.2X-%2.2X-%2.2X-%2.2X-%2.2X", bytes[0], bytes[1], bytes[2], bytes[3],
                bytes[4], bytes[5]);
  return text;
}

int ListFromAdapters(std::vector<std::string>& list, AdapterStatusSource& adapters) {
  const auto lanas = adapters.EnumerateLanas();
  if (!lanas) return -1;
  for (int lana : *lanas) {
    if (!adapters.Reset(lana)) continue;
    if (const auto address = adapters.AdapterStatus(lana)) list.push_back(FormatAddress(address->data()));
  }
  return static_cast<int>(lanas->size());
}

int ListFromTable(std::vector<std::string>& list, InterfaceTableSource& table) {
  const auto rows = table.Walk();
  if (!rows) return -1;
  for (const auto& row : *rows) {
    if (row.type != kEthernetType || row.physAddress.size() < 6) continue;
    const bool allZero =
        std::all_of(row.physAddress.begin(), row.physAddress.begin() + 6, [](unsigned char byte) { return byte == 0; });
    if (!allZero) list.push_back(FormatAddress(row.physAddress.data()));
  }
  return static_cast<int>(rows->size());
}

}  // namespace

int ListAdapterAddresses(std::vector<std::string>& list, AdapterStatusSource& adapters, InterfaceTableSource& table) {
  list.clear();
  const int count = ListFromAdapters(list, adapters);
  // Adapters that answered with a count (even without one usable status) settle the matter.
  if (count > 0) return count;
  const int tableCount = ListFromTable(list, table);
  return tableCount >= 0 ? tableCount : count;
}

std::string GetMachineId(AdapterStatusSource& adapters, InterfaceTableSource& table) {
  std::vector<std::string> list;
  ListAdapterAddresses(list, adapters, table);
  std::string joined;
  for (const std::string& entry : list) joined += entry + "\r\n";
  joined.erase(std::remove(joined.begin(), joined.end(), '-'), joined.end());
  return joined.substr(0, 12);
}

std::string GetMachineId() {
  SysfsAdapters adapters;
  SysfsInterfaceTable table;
  return GetMachineId(adapters, table);
}

}  // namespace hw
