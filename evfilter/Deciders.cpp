#include "Deciders.h"

namespace evfilter {

using eventquery::RecordMatcher;

Deciders::Deciders(const std::vector<std::unique_ptr<RecordMatcher>>& m)
    : own_(m[0].get()) {
  try {
    for (size_t i = 1; i < m.size(); ++i)
      threads_.emplace_back([this, matcher = m[i].get()] { Work(*matcher); });
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

void Deciders::DecideOne(Batch& batch, RecordMatcher& matcher) {
  try {
    batch.DecideAll(matcher);
  } catch (...) {
    batch.error = std::current_exception();
  }
}

void Deciders::Work(RecordMatcher& matcher) {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    work_.wait(lock, [this] { return stop_ || !unclaimed_.empty(); });
    if (stop_) return;
    Batch* batch = unclaimed_.front();
    unclaimed_.pop_front();
    lock.unlock();
    DecideOne(*batch, matcher);
    lock.lock();
    batch->decided = true;
    done_.notify_all();
  }
}

}  // namespace evfilter
