// Which address becomes the machine's identity, from fed sources, a fake kernel tree and this machine.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <regex>

#include "ddns/MachineIdentity.h"
#include "fixtures/TempDir.h"
#include "platform/NetworkInterfaces.h"

namespace {

using Address = std::array<unsigned char, 6>;

struct FakeAdapters : hw::AdapterStatusSource {
  std::optional<std::vector<int>> lanas;
  std::map<int, std::optional<Address>> status;  // absent: the reset fails
  std::optional<std::vector<int>> EnumerateLanas() override { return lanas; }
  bool Reset(int lana) override { return status.count(lana) == 1; }
  std::optional<Address> AdapterStatus(int lana) override { return status.at(lana); }
};

struct FakeTable : hw::InterfaceTableSource {
  std::optional<std::vector<Row>> rows;
  int walks = 0;
  std::optional<std::vector<Row>> Walk() override {
    ++walks;
    return rows;
  }
};

const Address kCard{0x00, 0xA0, 0xC9, 0x12, 0x3A, 0xBC};
const Address kOther{0x52, 0x54, 0x00, 0xAB, 0xCD, 0xEF};
const Address kZero{};
const std::vector<unsigned char> kTableCard{0x00, 0x1B, 0x21, 0x0A, 0x0B, 0x0C};

struct IdentityCase {
  const char* what;
  std::optional<std::vector<int>> lanas;
  std::map<int, std::optional<Address>> status;
  std::optional<std::vector<hw::InterfaceTableSource::Row>> rows;
  std::string machineId;
  int count;
  bool tableWalked;
};

TEST(MachineIdentity, OrderAndFallbackRules) {
  const std::vector<hw::InterfaceTableSource::Row> table{
      {24, {0, 0, 0, 0, 0, 0}}, {6, {}}, {6, {0, 0, 0, 0, 0, 0}}, {6, kTableCard}, {1, {1, 2, 3, 4, 5, 6}}};
  const IdentityCase cases[] = {
      {"first adapter wins", std::vector<int>{3, 1}, {{3, kCard}, {1, kOther}}, table, "00A0C9123ABC", 2, false},
      {"failed reset skipped", std::vector<int>{3, 1}, {{1, kOther}}, table, "525400ABCDEF", 2, false},
      {"failed status skipped",
       std::vector<int>{3, 1},
       {{3, std::nullopt}, {1, kOther}},
       table,
       "525400ABCDEF",
       2,
       false},
      {"all-zero kept on the adapter path", std::vector<int>{0}, {{0, kZero}}, table, "000000000000", 1, false},
      {"adapters listed but none answers: no fallback", std::vector<int>{0, 1}, {}, table, "", 2, false},
      {"no adapter: table, loopback and zero skipped", std::vector<int>{}, {}, table, "001B210A0B0C", 5, true},
      {"adapters unusable: table", std::nullopt, {}, table, "001B210A0B0C", 5, true},
      {"nothing at all", std::nullopt, {}, std::nullopt, "", -1, true},
  };
  for (const IdentityCase& c : cases) {
    FakeAdapters adapters;
    adapters.lanas = c.lanas;
    adapters.status = c.status;
    FakeTable fakeTable;
    fakeTable.rows = c.rows;
    std::vector<std::string> list{"stale entry"};
    EXPECT_EQ(hw::ListAdapterAddresses(list, adapters, fakeTable), c.count) << c.what;
    EXPECT_EQ(fakeTable.walks > 0, c.tableWalked) << c.what;
    EXPECT_EQ(hw::GetMachineId(adapters, fakeTable), c.machineId) << c.what;
  }
}

// A /sys/class/net lookalike: name, index, ARP type, address, and whether a device backs it.
void AddInterface(const std::string& root, const std::string& name, int index, int type, const std::string& address,
                  bool device) {
  const std::filesystem::path dir = std::filesystem::path(root) / name;
  std::filesystem::create_directories(dir);
  std::ofstream(dir / "ifindex") << index << "\n";
  std::ofstream(dir / "type") << type << "\n";
  std::ofstream(dir / "address") << address << "\n";
  if (device) std::filesystem::create_directories(dir / "device");
}

TEST(MachineIdentity, PhysicalCardWinsOverVirtualInterfacesListedBeforeIt) {
  hwtest::TempDir sys;
  AddInterface(sys.path(), "lo", 1, 772, "00:00:00:00:00:00", false);
  AddInterface(sys.path(), "br0", 2, 1, "02:42:ac:11:00:01", false);
  AddInterface(sys.path(), "veth1", 3, 1, "0a:58:0a:f4:00:01", false);
  AddInterface(sys.path(), "ifb0", 4, 1, "1e:2d:3c:4b:5a:69", false);
  AddInterface(sys.path(), "wlan0", 12, 1, "00:21:6a:01:02:03", true);
  AddInterface(sys.path(), "enp3s0", 5, 1, "00:a0:c9:12:3a:bc", true);
  hw::SysfsAdapters adapters(sys.path());
  hw::SysfsInterfaceTable table(sys.path());
  EXPECT_EQ(hw::GetMachineId(adapters, table), "00A0C9123ABC");

  std::vector<hw::InterfaceTableSource::Row> rows = *table.Walk();
  ASSERT_EQ(rows.size(), 6u);
  EXPECT_EQ(rows[0].type, 24);
  EXPECT_EQ(rows[1].type, 6);
}

TEST(MachineIdentity, ThisMachine) {
  hw::SysfsAdapters adapters;
  const auto lanas = adapters.EnumerateLanas();
  if (!lanas || lanas->empty()) GTEST_SKIP() << "no physical network adapter here";
  EXPECT_TRUE(std::regex_match(hw::GetMachineId(), std::regex("[0-9A-F]{12}"))) << hw::GetMachineId();
}

}  // namespace
