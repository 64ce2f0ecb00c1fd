#include "decide/BuiltFilter.h"

#include <mutex>

namespace eventquery {
namespace {

// The lines as the in-memory host hands them to the module.
std::vector<memhost::LineSpec> HostLines(
    const std::vector<ConditionLine>& lines) {
  std::vector<memhost::LineSpec> out;
  out.reserve(lines.size());
  for (const ConditionLine& l : lines)
    out.push_back({l.open, l.field, l.op, l.value, l.type, l.close, l.link,
                   l.negate, l.has_tag, l.tag});
  return out;
}

}  // namespace

BuiltFilter::BuiltFilter(const std::vector<ConditionLine>& lines)
    : list_(HostLines(lines)), definition_(&list_) {
  // One build at a time, so that the records read back are this build's.
  static std::mutex build_mutex;
  std::lock_guard<std::mutex> lock(build_mutex);
  ModuleLog::TakeNewRecords();  // what came before is not this build's
  filter_ = CreateFilterFromFilterDefinition(&definition_);
  records_ = ModuleLog::TakeNewRecords();
  // A log that cannot be written or read would hide a partial build.
  if (const std::string problem = ModuleLog::Unreadable(); !problem.empty()) {
    if (filter_ != nullptr) DestroyFilter(filter_);
    filter_ = nullptr;
    throw BuildError(problem);
  }
  std::string errors;
  for (const LogRecord& r : records_)
    if (r.level == filtermodule::kLogLevelError)
      errors += (errors.empty() ? "" : "; ") + r.message;
  if (filter_ == nullptr && errors.empty())
    errors = "the filter module could not create a filter";
  if (!errors.empty()) {
    if (filter_ != nullptr) DestroyFilter(filter_);
    filter_ = nullptr;
    throw BuildError(errors);
  }
}

BuiltFilter::~BuiltFilter() {
  if (filter_ != nullptr) DestroyFilter(filter_);
}

std::string BuiltFilter::text_form() const {
  // The module writes the tree's text form at trace level just before it
  // reports the filter initialised.
  size_t done = records_.size();
  for (size_t i = records_.size(); i-- > 0;)
    if (records_[i].message == filtermodule::kMsgFilterInitializedUtf8) {
      done = i;
      break;
    }
  for (size_t i = done; i-- > 0;)
    if (records_[i].level == filtermodule::kLogLevelTrace)
      return records_[i].message;
  return {};
}

}  // namespace eventquery
