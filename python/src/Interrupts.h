// Ctrl-C inside a long loop over rows. Python runs its signal handlers only
// between byte codes, so a mask of ten seconds would raise KeyboardInterrupt
// only when it ends; loops look every kRowsPerSignalCheck rows instead
// (a few milliseconds of work).
//
// Thread safety: CheckSignals with the GIL held; SignalRaised without it,
// on any thread.

#ifndef FILTERMODULE_PYTHON_INTERRUPTS_H_
#define FILTERMODULE_PYTHON_INTERRUPTS_H_

#include <pybind11/pybind11.h>

#include <atomic>
#include <cstddef>

namespace fmpython {

inline constexpr size_t kRowsPerSignalCheck = 4096;

// True on the rows where a loop should look.
inline bool TimeToCheck(size_t row) {
  return row % kRowsPerSignalCheck == kRowsPerSignalCheck - 1;
}

// Runs Python's signal handlers; throws what one raised.
inline void CheckSignals() {
  if (PyErr_CheckSignals() != 0) throw pybind11::error_already_set();
}

// Python's main thread, where its signal handlers run; set at import.
inline std::atomic<unsigned long> g_main_thread{0};

// The same from a thread that let the GIL go: true when a handler raised,
// whose error then waits, set, for this thread to take the GIL again and
// throw pybind11::error_already_set. Other threads never see a handler
// run, so they do not take the GIL for it.
inline bool SignalRaised() {
  if (PyThread_get_thread_ident() != g_main_thread.load()) return false;
  pybind11::gil_scoped_acquire gil;
  return PyErr_CheckSignals() != 0;
}

}  // namespace fmpython

#endif  // FILTERMODULE_PYTHON_INTERRUPTS_H_
