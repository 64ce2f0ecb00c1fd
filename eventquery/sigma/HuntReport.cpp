#include "sigma/HuntReport.h"

#include <cstdio>
#include <vector>

#include "ReportPage.h"
#include "common/CivilCalendar.h"
#include "records/JsonCells.h"
#include "sigma/SigmaRule.h"

namespace eventquery::sigma {
namespace {

constexpr int64_t kSecond = 1'000'000'000;

// The widths buckets take, each a whole multiple of the one before, so
// that widening merges buckets exactly. The widest splits the 584 years a
// time key spans into fewer than kMostBuckets.
struct Width {
  int64_t seconds;
  const char* name;
};
constexpr Width kWidths[] = {
    {1, "1 second"},        {10, "10 seconds"}, {60, "1 minute"},
    {600, "10 minutes"},    {3600, "1 hour"},   {21600, "6 hours"},
    {86400, "1 day"},       {604800, "1 week"}, {2419200, "4 weeks"},
    {29030400, "48 weeks"},
};
constexpr size_t kWidthCount = sizeof kWidths / sizeof kWidths[0];

// The bars the chart aims at, at most: the narrowest width that gives no
// more is drawn.
constexpr int64_t kMostBars = 120;

// floor(a / b) for b > 0.
int64_t FloorDiv(int64_t a, int64_t b) {
  const int64_t q = a / b;
  return q * b > a ? q - 1 : q;
}

// "YYYY-MM-DD HH:MM:SS" of a time key's second, shortened to what the
// bucket width `seconds` tells apart.
std::string KeyText(int64_t second, int64_t seconds) {
  int64_t year = 0;
  int32_t month = 0, day = 0;
  const int64_t days = FloorDiv(second, 86400);
  common::CivilFromDays(days, &year, &month, &day);
  const int64_t in_day = second - days * 86400;
  char text[48];
  if (seconds >= 86400)
    std::snprintf(text, sizeof text, "%04lld-%02d-%02d",
                  static_cast<long long>(year), month, day);
  else
    std::snprintf(text, sizeof text, "%04lld-%02d-%02d %02d:%02d:%02d",
                  static_cast<long long>(year), month, day,
                  static_cast<int>(in_day / 3600),
                  static_cast<int>(in_day / 60 % 60),
                  static_cast<int>(in_day % 60));
  return text;
}

}  // namespace

void HuntReport::Count(std::string_view level,
                       std::optional<int64_t> time_key) {
  if (!time_key) return;
  ++buckets_[FloorDiv(FloorDiv(*time_key, kSecond), kWidths[width_].seconds)]
            [static_cast<size_t>(LevelRank(level) + 1)];
  // Too many buckets: widen them until they fit.
  while (buckets_.size() > kMostBuckets && width_ + 1 < kWidthCount) {
    const int64_t factor =
        kWidths[width_ + 1].seconds / kWidths[width_].seconds;
    std::map<int64_t, Counts> wider;
    for (const auto& [start, counts] : buckets_) {
      Counts& into = wider[FloorDiv(start, factor)];
      for (size_t i = 0; i < into.size(); ++i) into[i] += counts[i];
    }
    buckets_.swap(wider);
    ++width_;
  }
}

void HuntReport::AddRow(const Row& row) {
  if (rows_ >= kMostRows || rows_json_.size() >= kMostRowBytes) {
    ++left_out_;
    return;
  }
  ++rows_;
  rows_json_ += rows_json_.empty() ? "[" : ",[";
  for (const std::string_view cell :
       {row.time, row.level, row.rule_title, row.rule_id, row.input}) {
    AppendJsonString(rows_json_, cell);
    rows_json_.push_back(',');
  }
  if (row.record_id)
    rows_json_ += std::to_string(*row.record_id);
  else
    rows_json_ += "\"\"";
  for (const std::string_view cell :
       {row.computer, row.channel, row.event_id, row.details}) {
    rows_json_.push_back(',');
    AppendJsonString(rows_json_, cell);
  }
  rows_json_.push_back(']');
}

// {"width": name, "bars": [{"start": text, "counts": [critical..none]}]},
// every bar from the first bucket's to the last's, empty ones included.
std::string HuntReport::HistogramJson() const {
  std::string out = "{\"width\":";
  if (buckets_.empty()) return out + "null,\"bars\":[]}";
  const int64_t first = buckets_.begin()->first * kWidths[width_].seconds;
  const int64_t last = buckets_.rbegin()->first * kWidths[width_].seconds;
  size_t bar = width_;
  while (bar + 1 < kWidthCount &&
         FloorDiv(last, kWidths[bar].seconds) -
                 FloorDiv(first, kWidths[bar].seconds) + 1 >
             kMostBars)
    ++bar;
  const int64_t seconds = kWidths[bar].seconds;
  AppendJsonString(out, kWidths[bar].name);
  out += ",\"bars\":[";
  const int64_t first_bar = FloorDiv(first, seconds);
  std::vector<Counts> bars(
      static_cast<size_t>(FloorDiv(last, seconds) - first_bar + 1), Counts{});
  for (const auto& [start, counts] : buckets_) {
    Counts& into = bars[static_cast<size_t>(
        FloorDiv(start * kWidths[width_].seconds, seconds) - first_bar)];
    for (size_t i = 0; i < into.size(); ++i) into[i] += counts[i];
  }
  for (size_t b = 0; b < bars.size(); ++b) {
    out += b ? ",{\"start\":" : "{\"start\":";
    AppendJsonString(
        out, KeyText((first_bar + static_cast<int64_t>(b)) * seconds, seconds));
    out += ",\"counts\":[";
    for (size_t level = bars[b].size(); level-- > 0;) {
      out += std::to_string(bars[b][level]);
      if (level > 0) out.push_back(',');
    }
    out += "]}";
  }
  return out + "]}";
}

std::string HuntReport::Page(std::string_view summary_json) const {
  std::string data = "{\"summary\":";
  data.append(summary_json);
  data += ",\"histogram\":" + HistogramJson();
  data += ",\"rows_left_out\":" + std::to_string(left_out_);
  data += rows_are_events_ ? ",\"rows_are\":\"events\""
                           : ",\"rows_are\":\"detections\"";
  data += ",\"rows\":[";
  data += rows_json_;
  data += "]}";
  // The data sits in a script element: no "</script>" or "<!--" may end
  // it early. '<' only occurs inside JSON strings, where \u003c reads the
  // same.
  std::string page(ReportPageHead());
  page.reserve(page.size() + data.size() + ReportPageTail().size());
  for (const char c : data)
    if (c == '<')
      page += "\\u003c";
    else
      page.push_back(c);
  page.append(ReportPageTail());
  return page;
}

}  // namespace eventquery::sigma
