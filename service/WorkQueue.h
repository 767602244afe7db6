#pragma once
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace hw::service {

// A few threads that take jobs in order from a bounded queue: the work that may wait (an Argon2
// computation, the gate in front of it) runs here, so that the threads that serve the connections
// never wait on it.
class WorkQueue {
 public:
  WorkQueue(unsigned threads, std::size_t maxWaiting);
  ~WorkQueue();  // as Close
  // Takes no more jobs, runs every job taken, and returns once the threads have ended.
  void Close();
  WorkQueue(const WorkQueue&) = delete;
  WorkQueue& operator=(const WorkQueue&) = delete;

  // False, and the job is not taken, when the queue is full.
  bool Submit(std::function<void()> job);

 private:
  void Serve();

  std::size_t maxWaiting_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<std::function<void()>> jobs_;
  bool stopping_ = false;
  std::vector<std::thread> threads_;
};

}  // namespace hw::service
