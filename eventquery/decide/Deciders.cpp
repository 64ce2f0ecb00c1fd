#include "decide/Deciders.h"

#include <utility>

namespace eventquery {

Deciders::Deciders(const std::vector<BatchDecider*>& d) : own_(d[0]) {
  try {
    for (size_t i = 1; i < d.size(); ++i)
      threads_.emplace_back([this, decider = d[i]] { Work(*decider); });
  } catch (...) {
    Stop();  // a thread that cannot start: those started are joined
    throw;
  }
}

void Deciders::Submit(Batch* batch) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    unclaimed_.push_back(batch);
  }
  work_.notify_one();
}

void Deciders::Wait(Batch* batch) {
  std::unique_lock<std::mutex> lock(mutex_);
  while (!batch->decided) {
    if (unclaimed_.empty()) {
      done_.wait(lock);
      continue;
    }
    Batch* next = unclaimed_.front();
    unclaimed_.pop_front();
    lock.unlock();
    DecideOne(*next, *own_);
    lock.lock();
    next->decided = true;
  }
  if (batch->error) std::rethrow_exception(batch->error);
}

void Deciders::Stop() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  work_.notify_all();
  for (std::thread& t : threads_) t.join();
  threads_.clear();
}

void Deciders::DecideOne(Batch& batch, BatchDecider& decider) {
  try {
    batch.DecideAll(decider);
  } catch (...) {
    batch.error = std::current_exception();
  }
}

void Deciders::Work(BatchDecider& decider) {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    work_.wait(lock, [this] { return stop_ || !unclaimed_.empty(); });
    if (stop_) return;
    Batch* batch = unclaimed_.front();
    unclaimed_.pop_front();
    lock.unlock();
    DecideOne(*batch, decider);
    lock.lock();
    batch->decided = true;
    done_.notify_all();
  }
}

BatchFlight::BatchFlight(const std::vector<BatchDecider*>& each, Settle settle,
                         size_t per_batch)
    : settle_(std::move(settle)),
      per_batch_(per_batch),
      in_flight_(2 * each.size()),
      deciders_(each) {}

void BatchFlight::Add(const Record& record, uint64_t id,
                      const std::vector<std::string>& columns,
                      bool split_later) {
  if (!filling_) {
    if (spare_.empty()) {
      filling_ = std::make_unique<Batch>();
    } else {
      filling_ = std::move(spare_.back());
      spare_.pop_back();
    }
  }
  // A batch emptied by Drain(true) or Discard is filled again as new.
  if (filling_->empty()) filling_->split_later = split_later;
  columns_ = &columns;
  filling_->Add(record, id);
  if (filling_->size() == per_batch_ || filling_->bytes() >= kBatchBytes)
    Submit();
}

void BatchFlight::Drain(bool drop_filling) {
  if (filling_ && !filling_->empty()) {
    if (drop_filling)
      filling_->Clear();
    else
      Submit();
  }
  while (!flight_.empty()) SettleFront();
}

void BatchFlight::Discard() {
  if (filling_) filling_->Clear();
  while (!flight_.empty()) {
    std::unique_ptr<Batch> batch = std::move(flight_.front());
    flight_.pop_front();
    try {
      deciders_.Wait(batch.get());
    } catch (...) {
      // What deciding a dropped record threw goes with it.
    }
    batch->Clear();
    spare_.push_back(std::move(batch));
  }
}

void BatchFlight::Submit() {
  // The columns now name every cell of the batch's records: a reader's
  // columns only grow.
  filling_->columns = *columns_;
  if (flight_.size() == in_flight_) SettleFront();
  // Owned by the flight before any thread may see it.
  flight_.push_back(std::move(filling_));
  deciders_.Submit(flight_.back().get());
}

void BatchFlight::SettleFront() {
  std::unique_ptr<Batch> batch = std::move(flight_.front());
  flight_.pop_front();
  deciders_.Wait(batch.get());
  settle_(*batch);
  batch->Clear();
  spare_.push_back(std::move(batch));
}

}  // namespace eventquery
