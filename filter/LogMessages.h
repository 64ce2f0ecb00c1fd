// Messages of the filter's lifecycle that tools reading the diagnostic log
// look for (evfilter finds a build's text form between them). The module
// writes them from here; a tool compares them in UTF-8.

#ifndef FILTERMODULE_FILTER_LOGMESSAGES_H_
#define FILTERMODULE_FILTER_LOGMESSAGES_H_

#define FILTERMODULE_MSG_CREATING_FROM_DEFINITION \
  "Creating filter object from filter definition ..."
#define FILTERMODULE_MSG_FILTER_INITIALIZED "Filter initialized ..."

namespace filtermodule {

// As the module writes them.
inline constexpr char16_t kMsgCreatingFromDefinition[] =
    u"" FILTERMODULE_MSG_CREATING_FROM_DEFINITION;
inline constexpr char16_t kMsgFilterInitialized[] =
    u"" FILTERMODULE_MSG_FILTER_INITIALIZED;

// As a tool reads them back (UTF-8).
inline constexpr char kMsgCreatingFromDefinitionUtf8[] =
    FILTERMODULE_MSG_CREATING_FROM_DEFINITION;
inline constexpr char kMsgFilterInitializedUtf8[] =
    FILTERMODULE_MSG_FILTER_INITIALIZED;

}  // namespace filtermodule

#endif  // FILTERMODULE_FILTER_LOGMESSAGES_H_
