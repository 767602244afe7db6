#include "shell/TestBuild.h"

#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "core/TestBuildSwitches.h"
#include "platform/TestSwitches.h"
#include "shell/MessageBoxes.h"
#include "update/TrustedKey.h"

namespace hw {
namespace {

const char* TracePath() { return TestSwitch("HOSTWARDEN_TEST_TRACE"); }

const char* IconName(BoxIcon icon) {
  switch (icon) {
    case BoxIcon::Error: return "error";
    case BoxIcon::None: return "plain";
    case BoxIcon::Information: break;
  }
  return "information";
}

class TracedBoxes : public MessageBoxes {
 public:
  BoxAnswer Show(const BoxRequest& request) override {
    TraceLine(std::string("box ") + IconName(request.icon) + " [" + request.title + "] " + request.text);
    return BoxAnswer::Ok;  // the default button, also of an OK/Cancel box
  }
};

}  // namespace

std::vector<std::string> TestActions() {
  std::vector<std::string> names;
  const char* list = TestSwitch("HOSTWARDEN_TEST_ACTIONS");
  for (std::string_view rest = list ? list : ""; !rest.empty();) {
    const auto comma = rest.find(',');
    const std::string_view item = rest.substr(0, comma);
    // "Timer1*1000" chooses the same control a thousand times (a benchmark's ticks).
    const auto star = item.find('*');
    const int times = star == std::string_view::npos ? 1 : std::atoi(std::string(item.substr(star + 1)).c_str());
    for (int i = 0; i < times && !item.empty(); ++i) names.emplace_back(item.substr(0, star));
    rest.remove_prefix(comma == std::string_view::npos ? rest.size() : comma + 1);
  }
  return names;
}

void ApplyTestBuildSwitches() {
  ApplyAccountTestSwitches();
  if (const char* key = TestSwitch("HOSTWARDEN_TEST_UPDATE_KEY")) SetTrustedUpdateKey(key);
}

bool TestTraceEnabled() { return TracePath() != nullptr; }

void TraceLine(const std::string& line) { TestTraceLine(line); }

std::unique_ptr<MessageBoxes> MakeTracedBoxes() { return std::make_unique<TracedBoxes>(); }

}  // namespace hw
