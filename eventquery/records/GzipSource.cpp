#include "GzipSource.h"

#include <utility>

namespace eventquery {

GzipSource::GzipSource(std::unique_ptr<ByteSource> in,
                       std::unique_ptr<Inflater> engine)
    : in_(std::move(in)), buffer_(1 << 16, '\0') {
  inflater_ = engine != nullptr ? std::move(engine) : MakeInflater(failure_);
}

bool GzipSource::Ready() {
  return held_output_ || inflater_ == nullptr || inflater_->AvailIn() > 0 ||
         in_end_ || in_->Ready();
}

ssize_t GzipSource::Read(char* out, size_t size, std::string& error) {
  size_t produced = 0;
  while (produced < size && failure_.empty() && !done_) {
    // Output the engine holds comes before more input.
    if (inflater_->AvailIn() == 0 && !held_output_) {
      if (in_end_) {
        if (member_ended_)
          done_ = true;
        else
          failure_ = "the gzip stream ends early (the file is truncated)";
        break;
      }
      // What is decompressed goes out before waiting for a slow writer.
      if (produced > 0 && !in_->Ready()) break;
      const ssize_t n = in_->Read(buffer_.data(), buffer_.size(), failure_);
      if (n < 0) break;
      if (n == 0) {
        in_end_ = true;
        continue;
      }
      inflater_->SetInput(buffer_.data(), static_cast<size_t>(n));
      compressed_ += static_cast<uint64_t>(n);
    }
    size_t written = 0;
    std::string why;
    const size_t avail_in = inflater_->AvailIn();
    Inflater::Step step =
        inflater_->Inflate(out + produced, size - produced, written, why);
    produced += written;
    held_output_ = step == Inflater::Step::kMore && produced == size;
    if (step == Inflater::Step::kMore && written == 0 && avail_in > 0 &&
        inflater_->AvailIn() == avail_in) {
      // An engine that neither reads nor writes would be asked forever.
      step = Inflater::Step::kCorrupt;
      why = std::string(inflater_->Name()) + " makes no progress";
    }
    if (step == Inflater::Step::kMemberEnd) {
      // Another member may follow, as `cat a.gz b.gz` makes.
      member_ended_ = true;
      inflater_->Reset();
    } else if (step == Inflater::Step::kMore) {
      member_ended_ = false;
    } else {
      failure_ = "the gzip data is corrupt (" + why +
                 ") near compressed byte " +
                 std::to_string(compressed_ - inflater_->AvailIn());
    }
  }
  if (produced > 0) return static_cast<ssize_t>(produced);
  if (!failure_.empty()) {
    error = failure_;
    return -1;
  }
  return 0;
}

}  // namespace eventquery
