#pragma once
#include <string>
#include <vector>

#include "platform/AdapterSources.h"

namespace hw {

// Fills the list with "XX-XX-XX-XX-XX-XX" addresses; returns the adapter count of the source that
// answered, or -1 when neither did. The table is walked only when the adapters gave no count.
int ListAdapterAddresses(std::vector<std::string>& list, AdapterStatusSource& adapters, InterfaceTableSource& table);
// The first address without its dashes (12 upper-case hex digits), or empty when there is none.
std::string GetMachineId(AdapterStatusSource& adapters, InterfaceTableSource& table);
// The identity of this machine, from the kernel's view of its network interfaces.
std::string GetMachineId();

}  // namespace hw
