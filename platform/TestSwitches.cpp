#include "platform/TestSwitches.h"

#include <cstdio>
#include <cstdlib>

#include "BuildConfig.h"

namespace hw {

const char* TestSwitch(const char* name) {
  if (!build::kTestBuild) return nullptr;
  const char* value = std::getenv(name);
  return value && *value ? value : nullptr;
}

void TestTraceLine(const std::string& line) {
  const char* path = TestSwitch("HOSTWARDEN_TEST_TRACE");
  if (!path) return;
  if (FILE* file = std::fopen(path, "a")) {
    std::fwrite(line.data(), 1, line.size(), file);
    std::fputc('\n', file);
    std::fclose(file);
  }
}

}  // namespace hw
