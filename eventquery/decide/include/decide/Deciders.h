// Decides batches of records on a fixed set of threads and on the reading
// thread: a batch is claimed by whichever is free first, and the reading
// thread, while it waits for a batch, decides those nobody has claimed. So
// a run never waits for a thread that gets no core, and no thread is
// started per batch. Each thread has its own decider (deciders[0] is the
// reading thread's), since a filter is used by one thread at a time.
//
// Thread safety: Submit and Wait are called by the reading thread only.

#ifndef DECIDE_DECIDERS_H_
#define DECIDE_DECIDERS_H_

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "decide/Batch.h"

namespace eventquery {

class Deciders {
 public:
  // Starts one thread per decider after the first; throws (with every
  // thread started joined) when a thread cannot start. The deciders must
  // outlive this.
  explicit Deciders(const std::vector<BatchDecider*>& deciders);
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
  static void DecideOne(Batch& batch, BatchDecider& decider);
  void Work(BatchDecider& decider);

  BatchDecider* own_;
  std::mutex mutex_;
  std::condition_variable work_;  // a batch to claim, or stop
  std::condition_variable done_;  // a batch decided
  std::deque<Batch*> unclaimed_;
  bool stop_ = false;
  std::vector<std::thread> threads_;
};

// Records decided in batches by Deciders and settled in input order. Up to
// two batches per decider are in flight, so the threads have the next one
// ready when they finish one; settled batches are filled again, since
// fresh memory for every batch costs more in page faults than the copying.
//
// Thread safety: the reading thread only.
class BatchFlight {
 public:
  // Called with each batch once it is decided, in input order.
  using Settle = std::function<void(Batch& batch)>;

  // See Deciders for `each`; throws what it throws. A batch is handed
  // over at `per_batch` records or 1 MiB of them, whichever comes first:
  // large records (a Windows event's) would otherwise keep a few huge
  // batches in flight, touching fresh memory and leaving the threads idle
  // at an input's start and end.
  BatchFlight(const std::vector<BatchDecider*>& each, Settle settle,
              size_t per_batch = 4096);
  BatchFlight(const BatchFlight&) = delete;
  BatchFlight& operator=(const BatchFlight&) = delete;

  // Copies `record`, known by `id`, into the batch being filled; a full
  // one is handed to the deciders, the oldest in flight settled first when
  // enough are. `columns` (the reader's, which only grow) names the cells
  // and must stay put until the batch is handed over; `split_later` as the
  // reader's SplitsLater.
  void Add(const Record& record, uint64_t id,
           const std::vector<std::string>& columns, bool split_later);
  // Hands over the batch being filled, unless `drop_filling`, and settles
  // every batch in flight. Rethrows what deciding a batch threw.
  void Drain(bool drop_filling = false);
  // Drops every record not settled (an input given up): the batches in
  // flight are waited for, never settled.
  void Discard();

 private:
  void Submit();
  void SettleFront();

  static constexpr size_t kBatchBytes = size_t{1} << 20;
  Settle settle_;
  size_t per_batch_;
  size_t in_flight_;
  const std::vector<std::string>* columns_ = nullptr;
  std::deque<std::unique_ptr<Batch>> flight_;
  std::vector<std::unique_ptr<Batch>> spare_;
  std::unique_ptr<Batch> filling_;
  // Declared after the batches, so its threads stop before they go.
  Deciders deciders_;
};

}  // namespace eventquery

#endif  // DECIDE_DECIDERS_H_
