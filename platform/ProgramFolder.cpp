#include "platform/ProgramFolder.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "common/AppError.h"

namespace hw {
namespace {

// What the kernel appends to the link once the file behind it was removed or replaced (a package
// upgrade under a running program): the program's name and folder stay those it was started as.
constexpr std::string_view kDeletedSuffix = " (deleted)";

std::string ReadProgramLink() {
  std::vector<char> buffer(4096);
  const ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size() - 1);
  if (n <= 0) throw AppError(std::string("Cannot find the program file: ") + std::strerror(errno));
  std::string file(buffer.data(), static_cast<std::size_t>(n));
  if (file.ends_with(kDeletedSuffix)) file.resize(file.size() - kDeletedSuffix.size());
  return file;
}

}  // namespace

std::string ProgramFile() {
  // Read once, at the start-up's first question, while the file is surely the one running.
  static const std::string file = ReadProgramLink();
  return file;
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
