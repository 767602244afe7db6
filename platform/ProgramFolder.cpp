#include "platform/ProgramFolder.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "common/AppError.h"

namespace hw {

std::string ProgramFile() {
  std::vector<char> buffer(4096);
  const ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size() - 1);
  if (n <= 0) throw AppError(std::string("Cannot find the program file: ") + std::strerror(errno));
  return std::string(buffer.data(), static_cast<std::size_t>(n));
}

std::string ProgramFileName() {
  try {
    const std::string file = ProgramFile();
    return file.substr(file.rfind('/') + 1);
  } catch (const std::exception&) {
    return "Hostwarden";
  }
}

std::string ProgramFolder() {
  const std::string file = ProgramFile();
  const auto slash = file.rfind('/');
  return slash == 0 ? "/" : file.substr(0, slash);
}

void EnterProgramFolder() {
  const std::string folder = ProgramFolder();
  if (::chdir(folder.c_str()) != 0)
    throw AppError("Cannot enter the program folder " + folder + ": " + std::strerror(errno));
}

}  // namespace hw
