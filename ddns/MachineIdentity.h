#pragma once
#include <array>
#include <optional>
#include <string>
#include <vector>

namespace hw {

// The machine's adapters in their enumeration order, as the first source of the identity.
struct AdapterStatusSource {
  virtual ~AdapterStatusSource() = default;
  virtual std::optional<std::vector<int>> EnumerateLanas() = 0;  // nullopt: the source is unusable
  virtual bool Reset(int lana) = 0;
  virtual std::optional<std::array<unsigned char, 6>> AdapterStatus(int lana) = 0;
};

// Every interface with its type (6 Ethernet, 24 loopback) and address: the fallback source.
struct InterfaceTableSource {
  struct Row {
    int type = 0;
    std::vector<unsigned char> physAddress;
  };
  virtual ~InterfaceTableSource() = default;
  virtual std::optional<std::vector<Row>> Walk() = 0;  // nullopt: the table cannot be read
};

// Fills the list with "XX-XX-XX-XX-XX-XX" addresses; returns the adapter count of the source that
// answered, or -1 when neither did. The table is walked only when the adapters gave no count.
int ListAdapterAddresses(std::vector<std::string>& list, AdapterStatusSource& adapters,
                         InterfaceTableSource& table);
// The first address without its dashes (12 upper-case hex digits), or empty when there is none.
std::string GetMachineId(AdapterStatusSource& adapters, InterfaceTableSource& table);
// The identity of this machine, from the kernel's view of its network interfaces.
std::string GetMachineId();

}  // namespace hw
