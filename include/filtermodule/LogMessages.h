// What a tool may rely on in the module's diagnostic log.
//
// The module writes its log to "<folder>/Filter-Module.csv", the folder
// coming from the host's settings (KVAL_LOG_FOLDER with the platform
// libraries shipped here). Each record is one CSV row of five cells:
//
//   Timestamp, Source, Level, Verbosity, Message
//
// (a new file starts with that header row). Level is "ERROR" for a
// failure the module caught (a condition line it could not build, nesting
// too deep, an operator or field type out of range) and "TRACE" for the
// lifecycle and the text form of each built filter; traces are written
// only when the host's settings ask for detailed logging. A build that
// logged any ERROR record did not build the whole filter: the module runs
// the rest of it without the failed lines.
//
// The lifecycle messages below frame a build: CreateFilterFromFilterDefinition
// writes kMsgCreatingFromDefinition first, and Init writes
// kMsgFilterInitialized after the filter's text form. They come in UTF-16
// as the module writes them, and in UTF-8 as a tool reads them back.
//
// Thread safety: constants only.

#ifndef FILTERMODULE_LOGMESSAGES_H_
#define FILTERMODULE_LOGMESSAGES_H_

#define FILTERMODULE_MSG_CREATING_FROM_DEFINITION \
  "Creating filter object from filter definition ..."
#define FILTERMODULE_MSG_FILTER_INITIALIZED "Filter initialized ..."

namespace filtermodule {

// The log file's name in its folder.
inline constexpr char kLogFileName[] = "Filter-Module.csv";
// The Level cells.
inline constexpr char kLogLevelError[] = "ERROR";
inline constexpr char kLogLevelTrace[] = "TRACE";

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

#endif  // FILTERMODULE_LOGMESSAGES_H_
