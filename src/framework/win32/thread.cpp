#include "framework/win32/thread.h"

#include <process.h>

ScopedHandle BeginThread(ThreadProc proc, void* param, int priority, unsigned* threadId) {
  unsigned id = 0;
  // Suspended, so the priority is in force before the thread's first
  // instruction; _beginthreadex keeps the C runtime's per-thread state right.
  ScopedHandle thread(
      reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, proc, param, CREATE_SUSPENDED, &id)));
  if (!thread) return thread;
  SetThreadPriority(thread.Get(), priority);
  ResumeThread(thread.Get());
  if (threadId) *threadId = id;
  return thread;
}

bool ThreadRunning(const ScopedHandle& thread) {
  return thread && WaitForSingleObject(thread.Get(), 0) == WAIT_TIMEOUT;
}
