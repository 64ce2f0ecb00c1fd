// Instants and lengths of time, read and written in the process's local time
// zone, and the failure they raise.
//
// A DateTime is built from calendar fields read as local time. It refuses,
// with kGeneralFailure, a year below 1900 or a month, day, hour, minute or
// second out of range (checked in that order); and, with kInvalidArgument,
// every instant that the calendar conversion cannot give, which includes
// every instant before 1970-01-01 00:00:00 UTC. A day past the end of its
// month rolls over: 30 February 2010 is 2 March 2010.
//
// Thread safety: values only; local-time conversions use the reentrant
// forms. The clock can be replaced for tests (SetClockForTesting).

#ifndef FILTERMODULE_EXPRESSION_DATETIME_H_
#define FILTERMODULE_EXPRESSION_DATETIME_H_

#include <cstdint>
#include <stdexcept>
#include <string>

#include "common/CivilCalendar.h"

namespace filtermodule {

enum class Status : int32_t {
  kGeneralFailure = 1,
  kInvalidArgument = 2,
  kOutOfMemory = 3,
};

// A failure that carries a status.
class StatusFailure : public std::runtime_error {
 public:
  StatusFailure(Status status, const char* what)
      : std::runtime_error(what), status_(status) {}
  Status status() const { return status_; }

 private:
  Status status_;
};

// A length of time in seconds.
class TimeSpan {
 public:
  TimeSpan(int32_t days, int32_t hours, int32_t minutes, int32_t seconds)
      : seconds_(((int64_t{days} * 24 + hours) * 60 + minutes) * 60 + seconds) {
  }
  int64_t Seconds() const { return seconds_; }

 private:
  int64_t seconds_;
};

// An instant: seconds since 1970-01-01 00:00:00 UTC.
class DateTime {
 public:
  explicit DateTime(int64_t seconds) : seconds_(seconds) {}
  // Local calendar fields; `dst` is the daylight-saving hint (-1: decide).
  // Throws StatusFailure as the file comment says.
  DateTime(int32_t year, int32_t month, int32_t day, int32_t hour,
           int32_t minute, int32_t second, int32_t dst);

  // The current instant from the clock.
  static DateTime Now();

  int64_t Seconds() const { return seconds_; }
  // Day of the month (1..31) in local time; 0 when the conversion fails.
  int32_t GetDay() const;
  // The instant in local time rendered with a strftime-style pattern; empty
  // for a null pattern, a failed conversion, or a result over 127 characters.
  std::u16string Format(const char16_t* pattern) const;
  std::u16string Format(const char* pattern) const;

  DateTime operator-(const TimeSpan& span) const {
    return DateTime(
        static_cast<int64_t>(static_cast<uint64_t>(seconds_) -
                             static_cast<uint64_t>(span.Seconds())));
  }

 private:
  int64_t seconds_;
};

// Replaces the clock behind DateTime::Now (null: the platform's clock).
using ClockFunction = int64_t (*)();
void SetClockForTesting(ClockFunction clock);

// Days since 1970-01-01 of a proleptic Gregorian date, and back.
using common::CivilFromDays;
using common::DaysFromCivil;
using common::DaysInMonth;

}  // namespace filtermodule

#endif  // FILTERMODULE_EXPRESSION_DATETIME_H_
