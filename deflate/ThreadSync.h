// The lock and the wake-up signals the block pipeline's two threads share.
// The standard ones, except on Windows: there the MinGW thread layer under
// std::mutex and std::condition_variable makes each wait a round trip through
// kernel objects (and through Wine's server under Wine), so the system's slim
// lock and condition variable, which first wait in user space, stand in.
#pragma once

#include <condition_variable>
#include <mutex>

namespace deflate_internal {

#ifdef _WIN32

class PipelineMutex {
 public:
  void lock();
  void unlock();

 private:
  friend class PipelineCondition;
  void* lock_ = nullptr;  // an SRWLOCK, whose initial state is all zero
};

class PipelineCondition {
 public:
  void notify_one();
  void notify_all();
  template <class Predicate>
  void wait(std::unique_lock<PipelineMutex>& lock, Predicate ready) {
    while (!ready()) sleep(*lock.mutex());
  }

 private:
  void sleep(PipelineMutex& mutex);
  void* condition_ = nullptr;  // a CONDITION_VARIABLE, likewise
};

#else

using PipelineMutex = std::mutex;
using PipelineCondition = std::condition_variable;

#endif

}  // namespace deflate_internal
