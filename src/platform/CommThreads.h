#pragma once

namespace platform {

enum class CommThreadPriority { Normal, AboveNormal, Highest };

// Gives the calling thread a nice value for the priority: highest -10,
// above normal -5. Returns false when the system refuses (no privilege); the
// thread then simply keeps its normal priority.
bool SetCurrentThreadPriority(CommThreadPriority priority);

}  // namespace platform
