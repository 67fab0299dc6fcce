#pragma once

#include <functional>

namespace cli {

// Runs the event loop until `done` holds, `ms` pass, or an interrupt
// (SIGINT/SIGTERM) arrives; `done` is asked again after every Wake(). True
// when `done` holds. One wait at a time.
bool WaitFor(const std::function<bool()>& done, int ms);

// Lets the running wait ask `done` again: after received bytes, a hang-up.
void Wake();

// Called on the event loop when SIGINT or SIGTERM arrived: ends the running
// wait and every later one at once.
void Interrupt();
bool Interrupted();

}  // namespace cli
