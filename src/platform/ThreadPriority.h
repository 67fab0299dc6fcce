#pragma once

namespace platform {

// The thread priorities the serial component asks for.
enum class ThreadPriority { Normal, AboveNormal, Highest };

// Gives the calling thread a nice value for the priority: highest -10,
// above normal -5. Returns false when the system refuses (no privilege); the
// thread then simply keeps its normal priority.
bool SetCurrentThreadPriority(ThreadPriority priority);

}  // namespace platform
