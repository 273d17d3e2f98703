#include "ThreadSync.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

namespace deflate_internal {

static_assert(sizeof(SRWLOCK) == sizeof(void*) && sizeof(CONDITION_VARIABLE) == sizeof(void*));

void PipelineMutex::lock() {
  ::AcquireSRWLockExclusive(reinterpret_cast<PSRWLOCK>(&lock_));
}
void PipelineMutex::unlock() {
  ::ReleaseSRWLockExclusive(reinterpret_cast<PSRWLOCK>(&lock_));
}

void PipelineCondition::notify_one() {
  ::WakeConditionVariable(reinterpret_cast<PCONDITION_VARIABLE>(&condition_));
}
void PipelineCondition::notify_all() {
  ::WakeAllConditionVariable(reinterpret_cast<PCONDITION_VARIABLE>(&condition_));
}
void PipelineCondition::sleep(PipelineMutex& mutex) {
  ::SleepConditionVariableSRW(reinterpret_cast<PCONDITION_VARIABLE>(&condition_),
                              reinterpret_cast<PSRWLOCK>(&mutex.lock_), INFINITE, 0);
}

}  // namespace deflate_internal
