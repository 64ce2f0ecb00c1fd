// The module's three exported entry points. Each catches every failure,
// writes its error line and returns a neutral result.

#include "filter/Filter.h"
#include "filtermodule/FilterModule.h"
#include "filtermodule/LogMessages.h"
#include "log/DiagnosticLog.h"

using filtermodule::Filter;
using filtermodule::kLogError;
using filtermodule::kLogTrace;
using filtermodule::WriteLog;

extern "C" FILTERMODULE_EXPORT IFilter* CreateFilter() {
  try {
    return new Filter();
  } catch (...) {
    WriteLog(kLogError, u"Unexpected exception when creating filter ");
    return nullptr;
  }
}

extern "C" FILTERMODULE_EXPORT IFilter* CreateFilterFromFilterDefinition(
    IFilterDefinition* definition) {
  WriteLog(filtermodule::kLogTrace, filtermodule::kMsgCreatingFromDefinition);
  Filter* filter = nullptr;
  try {
    filter = new Filter();
    static_cast<IFilter*>(filter)->InitFromDefinition(definition);
    return filter;
  } catch (...) {
    WriteLog(kLogError, u"Unexpected error when creating filter ...");
    if (filter != nullptr) {
      try {
        filter->Release();
      } catch (...) {
      }
    }
    return nullptr;
  }
}

extern "C" FILTERMODULE_EXPORT void DestroyFilter(IFilter* filter) {
  if (filter == nullptr) return;
  try {
    // Only filters of this module can be destroyed here.
    if (auto* ours = dynamic_cast<Filter*>(filter)) {
      ours->Release();
    } else {
      WriteLog(kLogError, u"Unexpected exception when destroying filter");
    }
  } catch (...) {
    WriteLog(kLogError, u"Unexpected exception when destroying filter");
  }
}
