// Prints this machine's identity as the client computes it (the benchmark registers its account
// for this machine).
#include <cstdio>

#include "ddns/MachineIdentity.h"

int main() {
  std::printf("%s\n", hw::GetMachineId().c_str());
  return 0;
}
