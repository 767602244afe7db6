#include "service/WorkQueue.h"

namespace hw::service {

WorkQueue::WorkQueue(unsigned threads, std::size_t maxWaiting) : maxWaiting_(maxWaiting) {
  for (unsigned i = 0; i < threads; ++i) threads_.emplace_back([this] { Serve(); });
}

WorkQueue::~WorkQueue() { Close(); }

void WorkQueue::Close() {
  {
    const std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  for (auto& thread : threads_)
    if (thread.joinable()) thread.join();
}

bool WorkQueue::Submit(std::function<void()> job) {
  {
    const std::lock_guard lock(mutex_);
    if (stopping_ || jobs_.size() >= maxWaiting_) return false;
    jobs_.push_back(std::move(job));
  }
  changed_.notify_one();
  return true;
}

void WorkQueue::Serve() {
  for (;;) {
    std::function<void()> job;
    {
      std::unique_lock lock(mutex_);
      changed_.wait(lock, [this] { return stopping_ || !jobs_.empty(); });
      if (jobs_.empty()) return;  // stopping, and nothing left to do
      job = std::move(jobs_.front());
      jobs_.pop_front();
    }
    job();
  }
}

}  // namespace hw::service
