#include "expression/DateTime.h"

#include <atomic>
#include <ctime>
#include <cwchar>

namespace filtermodule {
namespace {

std::atomic<ClockFunction> g_clock{nullptr};

std::u16string FormatWide(int64_t seconds, const wchar_t* pattern) {
  const time_t t = static_cast<time_t>(seconds);
  tm local{};
  if (localtime_r(&t, &local) == nullptr) return std::u16string();
  wchar_t buffer[128];
  const size_t n = std::wcsftime(buffer, 128, pattern, &local);
  std::u16string out;
  out.reserve(n);
  for (size_t i = 0; i < n; ++i) {
    const auto c = static_cast<char32_t>(buffer[i]);
    if (c >= 0x10000) {
      out.push_back(static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(c));
    }
  }
  return out;
}

}  // namespace

DateTime::DateTime(int32_t year, int32_t month, int32_t day, int32_t hour,
                   int32_t minute, int32_t second, int32_t dst) {
  if (year < 1900)
    throw StatusFailure(Status::kGeneralFailure, "year before 1900");
  if (static_cast<uint32_t>(month) - 1 > 11)
    throw StatusFailure(Status::kGeneralFailure, "month out of range");
  if (static_cast<uint32_t>(day) - 1 > 30)
    throw StatusFailure(Status::kGeneralFailure, "day out of range");
  if (static_cast<uint32_t>(hour) > 23)
    throw StatusFailure(Status::kGeneralFailure, "hour out of range");
  if (static_cast<uint32_t>(minute) > 59)
    throw StatusFailure(Status::kGeneralFailure, "minute out of range");
  if (static_cast<uint32_t>(second) > 59)
    throw StatusFailure(Status::kGeneralFailure, "second out of range");
  tm fields{};
  fields.tm_year = year - 1900;
  fields.tm_mon = month - 1;
  fields.tm_mday = day;
  fields.tm_hour = hour;
  fields.tm_min = minute;
  fields.tm_sec = second;
  fields.tm_isdst = dst;
  const time_t t = std::mktime(&fields);
  // The conversion counts from 1970-01-01 UTC and refuses anything before.
  if (t < 0)
    throw StatusFailure(Status::kInvalidArgument, "date cannot be converted");
  seconds_ = static_cast<int64_t>(t);
}

DateTime DateTime::Now() {
  if (ClockFunction clock = g_clock.load(std::memory_order_acquire))
    return DateTime(clock());
  return DateTime(static_cast<int64_t>(std::time(nullptr)));
}

int32_t DateTime::GetDay() const {
  const time_t t = static_cast<time_t>(seconds_);
  tm local{};
  if (localtime_r(&t, &local) == nullptr) return 0;
  return local.tm_mday;
}

std::u16string DateTime::Format(const char16_t* pattern) const {
  if (pattern == nullptr) return std::u16string();
  std::wstring wide;
  for (const char16_t* p = pattern; *p; ++p) wide.push_back(*p);
  return FormatWide(seconds_, wide.c_str());
}

std::u16string DateTime::Format(const char* pattern) const {
  if (pattern == nullptr) return std::u16string();
  std::wstring wide;
  for (const char* p = pattern; *p; ++p)
    wide.push_back(static_cast<unsigned char>(*p));
  return FormatWide(seconds_, wide.c_str());
}

void SetClockForTesting(ClockFunction clock) {
  g_clock.store(clock, std::memory_order_release);
}

}  // namespace filtermodule
