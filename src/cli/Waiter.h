#pragma once

#include <functional>

namespace cli {

// Runs the event loop until `done` holds, `ms` pass, or a signal that ends
// the command (SIGINT, SIGTERM, SIGHUP) arrives; `done` is asked again after
// every Wake(). True when `done` holds. One wait at a time.
bool WaitFor(const std::function<bool()>& done, int ms);

// Lets the running wait ask `done` again: after received bytes, a hang-up.
void Wake();

// Called on the event loop when a signal that ends the command arrived:
// ends the running wait and every later one at once.
void Interrupt();
bool Interrupted();

// Delivers what the event loop holds (a signal that came while no wait
// ran) and tells whether the command was interrupted.
bool InterruptArrived();

}  // namespace cli
