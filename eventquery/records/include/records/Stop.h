// A request to stop reading, as a program makes it from a signal handler
// (SIGINT, SIGTERM). Inputs that wait for data (pipes, terminals) look at
// it at least every quarter second and then fail with "interrupted"; the
// readers look at it before they read more, so the records already
// buffered are still read; the run loops look at it between inputs.
//
// Thread safety: RequestStop is async-signal-safe; the others may be
// called from any thread.

#ifndef RECORDS_STOP_H_
#define RECORDS_STOP_H_

namespace eventquery {

// Asks every input and run loop to stop; `signal` says why (the first one
// given is kept).
void RequestStop(int signal) noexcept;
// True once a stop was requested.
bool StopRequested() noexcept;
// The signal of the first request, or 0.
int StopSignal() noexcept;

}  // namespace eventquery

#endif  // RECORDS_STOP_H_
