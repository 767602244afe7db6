#pragma once
#include <string>

#include "platform/AdapterSources.h"

namespace hw {

// The kernel's network interfaces as /sys/class/net shows them, in interface-index order.
// Adapters are the interfaces backed by a device (a "device" link): physical cards, not bridges,
// veth pairs or other virtual interfaces. Their permanent hardware address is preferred when the
// kernel reports one, so that address randomisation does not change the machine's identity.
class SysfsAdapters : public AdapterStatusSource {
 public:
  explicit SysfsAdapters(std::string root = "/sys/class/net");
  std::optional<std::vector<int>> EnumerateLanas() override;
  bool Reset(int lana) override;
  std::optional<std::array<unsigned char, 6>> AdapterStatus(int lana) override;

 private:
  std::string root_;
};

// Every interface, in index order: type 6 for Ethernet, 24 for loopback, 1 otherwise.
class SysfsInterfaceTable : public InterfaceTableSource {
 public:
  explicit SysfsInterfaceTable(std::string root = "/sys/class/net");
  std::optional<std::vector<Row>> Walk() override;

 private:
  std::string root_;
};

}  // namespace hw
