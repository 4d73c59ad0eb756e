// Worker threads in the framework's manner: a function taking one untyped
// pointer, started at a priority. The caller gets the thread's handle and
// may keep it to learn when the thread has ended.
#pragma once

#include "framework/win32/scoped_win.h"

using ThreadProc = unsigned(__stdcall*)(void* param);

ScopedHandle BeginThread(ThreadProc proc, void* param, int priority = THREAD_PRIORITY_NORMAL,
                         unsigned* threadId = nullptr);

// True while the thread behind `thread` runs (false for an empty handle).
bool ThreadRunning(const ScopedHandle& thread);
