#include "platform/TestSwitches.h"

#include <cstdlib>

#include "BuildConfig.h"

namespace hw {

const char* TestSwitch(const char* name) {
  if (!build::kTestBuild) return nullptr;
  const char* value = std::getenv(name);
  return value && *value ? value : nullptr;
}

}  // namespace hw
