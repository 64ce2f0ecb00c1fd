#include "decide/TimeWindow.h"

#include <stdexcept>

#include "common/CivilCalendar.h"

namespace eventquery {
namespace {

constexpr int64_t kSecond = 1'000'000'000;
constexpr int64_t kDay = 86'400 * kSecond;

}  // namespace

TimeWindow::TimeWindow(const std::string& since, const std::string& until,
                       Zone zone, const char* since_name,
                       const char* until_name)
    : zone_(zone) {
  auto bound = [this](const std::string& text, const char* name,
                      bool whole_day) -> std::optional<int64_t> {
    if (text.empty()) return std::nullopt;
    bool date_only = false;
    // Digits alone would be read as an epoch count (20241230 as a day of
    // 1970): a bound is written as a date.
    const bool digits =
        text.find_first_not_of("0123456789 ") == std::string::npos;
    const std::optional<int64_t> key =
        digits ? std::nullopt : TimeKey(text, zone_, &date_only);
    if (!key)
      throw std::invalid_argument(std::string(name) + " '" + text +
                                  "' is no date or timestamp (as 2026-12-08 "
                                  "or 2026-12-08T22:00:00Z)");
    return date_only && whole_day ? *key + kDay - 1 : *key;
  };
  since_ = bound(since, since_name, false);
  until_ = bound(until, until_name, true);
  if (since_ && until_ && *since_ > *until_)
    throw std::invalid_argument(std::string(since_name) + " " + since +
                                " lies after " + until_name + " " + until +
                                ": the period holds nothing");
}

std::optional<int64_t> TimeKey(std::string_view text, Zone zone,
                               bool* date_only) {
  const std::optional<RowDate> date = ReadDate(text, zone);
  // Nanoseconds in 64 bits span 1677 to 2262.
  if (!date || date->year < 1678 || date->year > 2261) return std::nullopt;
  int64_t key =
      common::DaysFromCivil(date->year, date->month, date->day) * kDay;
  const std::optional<PreciseTime> time = ReadPreciseTime(text, zone);
  if (date_only != nullptr) *date_only = !time;
  if (time)
    key +=
        (time->time.hour * 3600 + time->time.minute * 60 + time->time.second) *
            kSecond +
        time->nanoseconds;
  return key;
}

TimeWindow::Place TimeWindow::Of(std::optional<std::string_view> time) const {
  if (open()) return kInside;
  if (!time) return kNoTime;
  const std::optional<int64_t> key = TimeKey(*time, zone_);
  if (!key) return kNoTime;
  if ((since_ && *key < *since_) || (until_ && *key > *until_)) return kOutside;
  return kInside;
}

}  // namespace eventquery
