#pragma once
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace hw::service {

// Runs a job every `period` on a thread of its own, from construction until destruction. A job that
// throws is reported on standard error and run again at its next turn: the work it catches up on
// stays owed until then.
class Upkeep {
 public:
  Upkeep(std::chrono::milliseconds period, std::function<void()> job);
  ~Upkeep();
  Upkeep(const Upkeep&) = delete;
  Upkeep& operator=(const Upkeep&) = delete;

 private:
  std::mutex mutex_;
  std::condition_variable stopping_;
  bool stop_ = false;
  std::thread thread_;
};

}  // namespace hw::service
