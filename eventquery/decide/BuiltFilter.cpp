#include "decide/BuiltFilter.h"

namespace eventquery {
namespace {

// The lines as the in-memory host hands them to the module.
std::vector<memhost::LineSpec> HostLines(
    const std::vector<ConditionLine>& lines) {
  return {lines.begin(), lines.end()};
}

// The module reads its texts up to the first NUL: a line holding one would
// be built as another line.
void RefuseNul(const std::vector<ConditionLine>& lines) {
  for (size_t i = 0; i < lines.size(); ++i) {
    const ConditionLine& l = lines[i];
    for (const auto& [text, what] :
         {std::pair{&l.field, "field name"}, std::pair{&l.value, "value"},
          std::pair{&l.tag, "tag name"}})
      if (text->find(u'\0') != std::u16string::npos)
        throw BuildError("line " + std::to_string(i + 1) + ": the " + what +
                         " holds a NUL character, which the filter module "
                         "would read as its end");
  }
}

}  // namespace

BuiltFilter::BuiltFilter(const std::vector<ConditionLine>& lines)
    : list_((RefuseNul(lines), HostLines(lines))), definition_(&list_) {
  // The module's records reach this thread's capture whatever becomes of
  // its log file, and no other build's records do.
  {
    LogCapture capture;
    filter_ = CreateFilterFromFilterDefinition(&definition_);
    records_ = capture.Take();
    if (!capture.complete()) {
      // An error line may be among what was lost: the build is not known
      // to be whole.
      if (filter_ != nullptr) DestroyFilter(filter_);
      filter_ = nullptr;
      throw BuildError(
          "memory ran out while the filter module's messages of the build "
          "were taken, so the build is not known to be whole");
    }
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
