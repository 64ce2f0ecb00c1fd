// Decides batches of records on a fixed set of threads and on the reading
// thread: a batch is claimed by whichever is free first, and the reading
// thread, while it waits for a batch, decides those nobody has claimed. So
// a run never waits for a thread that gets no core, and no thread is
// started per batch. Each thread has its own matcher (matchers[0] is the
// reading thread's), since a filter is used by one thread at a time.
//
// Thread safety: Submit and Wait are called by the reading thread only.

#ifndef EVFILTER_DECIDERS_H_
#define EVFILTER_DECIDERS_H_

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "Batch.h"
#include "decide/RecordMatcher.h"

namespace evfilter {

class Deciders {
 public:
  // Starts one thread per matcher after the first; throws (with every
  // thread started joined) when a thread cannot start.
  explicit Deciders(
      const std::vector<std::unique_ptr<eventquery::RecordMatcher>>& matchers);
  // Stops the threads once their current batch is decided; batches not yet
  // claimed are left undecided.
  ~Deciders() { Stop(); }
  Deciders(const Deciders&) = delete;
  Deciders& operator=(const Deciders&) = delete;

  // Hands `batch` to whichever thread is free first. The batch must stay
  // put until Wait has returned for it.
  void Submit(Batch* batch);
  // Returns once `batch` is decided; rethrows what deciding it threw.
  void Wait(Batch* batch);

 private:
  void Stop();
  static void DecideOne(Batch& batch, eventquery::RecordMatcher& matcher);
  void Work(eventquery::RecordMatcher& matcher);

  eventquery::RecordMatcher* own_;
  std::mutex mutex_;
  std::condition_variable work_;  // a batch to claim, or stop
  std::condition_variable done_;  // a batch decided
  std::deque<Batch*> unclaimed_;
  bool stop_ = false;
  std::vector<std::thread> threads_;
};

}  // namespace evfilter

#endif  // EVFILTER_DECIDERS_H_
