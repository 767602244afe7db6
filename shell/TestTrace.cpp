#include "shell/TestTrace.h"

#include <cstdio>
#include <cstdlib>

#include "shell/MessageBoxes.h"

namespace hw {
namespace {

const char* TracePath() {
  const char* path = std::getenv("HOSTWARDEN_TEST_TRACE");
  return path && *path ? path : nullptr;
}

const char* IconName(BoxIcon icon) {
  switch (icon) {
    case BoxIcon::Error: return "error";
    case BoxIcon::Question: return "question";
    case BoxIcon::Information: break;
  }
  return "information";
}

class TracedBoxes : public MessageBoxes {
 public:
  BoxAnswer Show(const BoxRequest& request) override {
    TraceLine(std::string("box ") + IconName(request.icon) + " [" + request.title + "] " + request.text);
    return request.yesNo ? BoxAnswer::Yes : BoxAnswer::Ok;
  }
};

}  // namespace

bool TestTraceEnabled() { return TracePath() != nullptr; }

void TraceLine(const std::string& line) {
  const char* path = TracePath();
  if (!path) return;
  if (FILE* file = std::fopen(path, "a")) {
    std::fprintf(file, "%s\n", line.c_str());
    std::fclose(file);
  }
}

std::unique_ptr<MessageBoxes> MakeTracedBoxes() { return std::make_unique<TracedBoxes>(); }

}  // namespace hw
