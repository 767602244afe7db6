#include "platform/NetworkInterfaces.h"

#include <linux/ethtool.h>
#include <linux/sockios.h>
#include <net/if.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>

namespace hw {
namespace {

namespace fs = std::filesystem;

constexpr int kArpEther = 1;
constexpr int kArpLoopback = 772;
constexpr const char* kKernelRoot = "/sys/class/net";

std::string ReadLine(const fs::path& file) {
  std::ifstream in(file);
  std::string line;
  std::getline(in, line);
  return line;
}

int ReadNumber(const fs::path& file, int fallback) {
  try {
    return std::stoi(ReadLine(file));
  } catch (const std::exception&) {
    return fallback;
  }
}

// "aa:bb:cc:dd:ee:ff" as bytes; empty when the text is no hardware address.
std::vector<unsigned char> ParseAddress(const std::string& text) {
  std::vector<unsigned char> bytes;
  for (std::size_t at = 0; at + 2 <= text.size(); at += 3) {
    try {
      bytes.push_back(static_cast<unsigned char>(std::stoi(text.substr(at, 2), nullptr, 16)));
    } catch (const std::exception&) {
      return {};
    }
  }
  return bytes;
}

// Interface names by interface index.
std::map<int, std::string> InterfacesByIndex(const std::string& root) {
  std::map<int, std::string> interfaces;
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(root, error)) {
    const int index = ReadNumber(entry.path() / "ifindex", -1);
    if (index >= 0) interfaces.emplace(index, entry.path().filename().string());
  }
  return interfaces;
}

// The address burnt into the card, when the driver reports one.
std::optional<std::array<unsigned char, 6>> PermanentAddress(const std::string& name) {
  const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return std::nullopt;
  // The request is a header followed by room for the address (the header ends in a flexible array).
  alignas(ethtool_perm_addr) unsigned char buffer[sizeof(ethtool_perm_addr) + 32] = {};
  auto* request = reinterpret_cast<ethtool_perm_addr*>(buffer);
  request->cmd = ETHTOOL_GPERMADDR;
  request->size = 32;
  ifreq ifr{};
  std::strncpy(ifr.ifr_name, name.c_str(), IFNAMSIZ - 1);
  ifr.ifr_data = reinterpret_cast<char*>(buffer);
  const bool ok = ::ioctl(fd, SIOCETHTOOL, &ifr) == 0 && request->size >= 6;
  ::close(fd);
  if (!ok) return std::nullopt;
  std::array<unsigned char, 6> address{};
  std::memcpy(address.data(), buffer + sizeof(ethtool_perm_addr), 6);
  if (std::all_of(address.begin(), address.end(), [](unsigned char b) { return b == 0; })) return std::nullopt;
  return address;
}

}  // namespace

SysfsAdapters::SysfsAdapters(std::string root) : root_(std::move(root)) {}

std::optional<std::vector<int>> SysfsAdapters::EnumerateLanas() {
  if (!fs::is_directory(root_)) return std::nullopt;
  std::vector<int> lanas;
  for (const auto& [index, name] : InterfacesByIndex(root_))
    if (fs::exists(fs::path(root_) / name / "device")) lanas.push_back(index);
  return lanas;
}

bool SysfsAdapters::Reset(int lana) { return InterfacesByIndex(root_).count(lana) == 1; }

std::optional<std::array<unsigned char, 6>> SysfsAdapters::AdapterStatus(int lana) {
  const auto interfaces = InterfacesByIndex(root_);
  const auto found = interfaces.find(lana);
  if (found == interfaces.end()) return std::nullopt;
  if (root_ == kKernelRoot)
    if (auto permanent = PermanentAddress(found->second)) return permanent;
  const auto bytes = ParseAddress(ReadLine(fs::path(root_) / found->second / "address"));
  if (bytes.size() < 6) return std::nullopt;
  std::array<unsigned char, 6> address{};
  std::copy_n(bytes.begin(), 6, address.begin());
  return address;
}

SysfsInterfaceTable::SysfsInterfaceTable(std::string root) : root_(std::move(root)) {}

std::optional<std::vector<InterfaceTableSource::Row>> SysfsInterfaceTable::Walk() {
  if (!fs::is_directory(root_)) return std::nullopt;
  std::vector<Row> rows;
  for (const auto& [index, name] : InterfacesByIndex(root_)) {
    const int arpType = ReadNumber(fs::path(root_) / name / "type", 0);
    const int type = arpType == kArpEther ? 6 : arpType == kArpLoopback ? 24 : 1;
    rows.push_back({type, ParseAddress(ReadLine(fs::path(root_) / name / "address"))});
  }
  return rows;
}

}  // namespace hw
