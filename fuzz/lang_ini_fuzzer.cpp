// lang.ini as the reader takes it: any bytes in the file, looked up by section and key.
#include <unistd.h>

#include <cstdio>
#include <string>

#include "fuzz/FuzzInput.h"
#include "i18n/LangTable.h"
#include "platform/ProfileReader.h"

namespace {

// The file each input is written to: in memory where the machine has a tmpfs, as the reader opens
// it ten times per input; removed when the fuzzer ends.
struct ScratchFile {
  std::string path = std::string(::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp") + "/hostwarden-fuzz-lang-" +
                     std::to_string(::getpid()) + ".ini";
  ~ScratchFile() { std::remove(path.c_str()); }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const ScratchFile scratch;
  const std::string& file = scratch.path;
  if (FILE* out = std::fopen(file.c_str(), "wb")) {
    std::fwrite(data, 1, size, out);
    std::fclose(out);
  }
  for (const char* section : {"1033", "1028", " 1031 ", ""}) {
    hw::ProfileSectionKeys(file, section);
    hw::ProfileString(file, section, "21");
  }
  hw::LookupLangStr(file, 1028, "21", "alice");
  hw::LookupLangStr(file, 2052, "25", "%d");
  return 0;
}
