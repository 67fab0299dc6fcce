#pragma once

#include <cstdint>
#include <functional>

// Waiting on the event loop of the calling thread. Every port's session runs
// on a thread of its own with its own loop and waits there, one wait at a
// time per thread; the few calls below reach across threads.
namespace cli {

// Runs the calling thread's event loop until `done` holds, `ms` pass, or a
// signal that ends the command (SIGINT, SIGTERM, SIGHUP) arrives; `done` is
// asked again after every Wake() and NudgeAll(). True when `done` holds.
bool WaitFor(const std::function<bool()>& done, int ms);

// Lets the calling thread's running wait ask `done` again: after received
// bytes, a hang-up.
void Wake();

// Any thread: a signal that ends the command arrived. Ends every running
// wait and every later one at once.
void Interrupt();
bool Interrupted();

// Delivers what the calling thread's event loop holds and tells whether the
// command was interrupted.
bool InterruptArrived();

// Any thread: the ports may have changed (a device came or went, a link in
// sys/ports). Every running wait asks `done` again; Nudges() counts them, so
// that a wait for a port can end on the next one.
void NudgeAll();
std::uint64_t Nudges();

}  // namespace cli
