#include "service/Upkeep.h"

#include <cstdio>
#include <exception>

namespace hw::service {

Upkeep::Upkeep(std::chrono::milliseconds period, std::function<void()> job)
    : thread_([this, period, job = std::move(job)] {
        std::unique_lock lock(mutex_);
        while (!stopping_.wait_for(lock, period, [this] { return stop_; })) {
          lock.unlock();
          try {
            job();
          } catch (const std::exception& failure) {
            std::fprintf(stderr, "hostwarden-service: upkeep: %s\n", failure.what());
          }
          lock.lock();
        }
      }) {}

Upkeep::~Upkeep() {
  {
    const std::lock_guard lock(mutex_);
    stop_ = true;
  }
  stopping_.notify_all();
  thread_.join();
}

}  // namespace hw::service
