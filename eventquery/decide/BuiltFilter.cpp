#include "decide/BuiltFilter.h"

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
  // The module's records reach this thread's capture whatever becomes of
  // its log file, and no other build's records do.
  {
    LogCapture capture;
    filter_ = CreateFilterFromFilterDefinition(&definition_);
    records_ = capture.records();
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
