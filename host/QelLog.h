// Entries of the logging library qel_log that the diagnostic log calls.
//
// CreateLogHandle takes a property-list text such as
// "%Source; %Locking; %CSV Log Path; %Output Type; %CSV Limit;" followed by
// one value per property, in list order: texts (const char16_t*) for Source
// and CSV Log Path, int32_t for the others. It writes a handle through its
// first argument and returns non-zero when the log is open.
//
// WriteLogEntry formats `format` printf-style ("%%" gives one "%") with
// `args` and appends one record when `verbosity` is at most the threshold
// given to SetLogLevel.
//
// qellog_SetLogProperties(keep_files, retry_seconds, max_message_bytes,
// header_row) tunes every log of the process; the module looks it up by name
// at run time.
//
// All entries are safe to call from several threads at once.

#ifndef FILTERMODULE_HOST_QELLOG_H_
#define FILTERMODULE_HOST_QELLOG_H_

#include <cstdarg>
#include <cstdint>

#if defined(_WIN32)
#define QELLOG_EXPORT __declspec(dllexport)
#else
#define QELLOG_EXPORT __attribute__((visibility("default")))
#endif

extern "C" {
QELLOG_EXPORT int32_t CreateLogHandle(int32_t* handle,
                                      const char16_t* property_list, ...);
QELLOG_EXPORT int32_t SetLogLevel(int32_t handle, int32_t threshold);
QELLOG_EXPORT int32_t WriteLogEntry(int32_t handle, int32_t level,
                                    int32_t verbosity, int32_t reserved1,
                                    int32_t reserved2, const char16_t* format,
                                    va_list args);
QELLOG_EXPORT int32_t qellog_SetLogProperties(int32_t keep_files,
                                              int32_t retry_seconds,
                                              int32_t max_message_bytes,
                                              int32_t header_row);
}

// The file name under which the module loads the library at run time.
inline constexpr const char kQelLogLibraryName[] = "libqel_log.so";
// The name of the run-time entry.
inline constexpr const char kQelLogSetPropertiesName[] =
    "qellog_SetLogProperties";
using QelLogSetPropertiesFn = int32_t (*)(int32_t, int32_t, int32_t, int32_t);

#endif  // FILTERMODULE_HOST_QELLOG_H_
