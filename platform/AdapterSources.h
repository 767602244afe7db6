#pragma once
#include <array>
#include <optional>
#include <vector>

namespace hw {

// The two ways the machine's network adapters can be asked for their hardware addresses; the
// machine identity reads them in this order of preference.

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

}  // namespace hw
