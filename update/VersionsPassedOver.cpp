#include "update/VersionsPassedOver.h"

#include <algorithm>

namespace hw {

bool VersionsPassedOver::Contains(const std::string& version) const {
  return std::find(versions_.begin(), versions_.end(), version) != versions_.end();
}

void VersionsPassedOver::Add(const std::string& version) {
  if (Contains(version)) return;
  versions_.push_back(version);
  if (versions_.size() > kLimit) versions_.pop_front();
}

}  // namespace hw
