// IsMatch on a standard workload, side by side with the limit (a
// hand-written predicate over the same row accessors) and SQLite (the same
// rows in an in-memory table, SELECT count(*) ... WHERE the same condition).
// Counts are checked to agree before anything is timed.
//
//   build/release/bench/ismatch_bench [--rows=N] [google benchmark flags]
//
// Also: heap allocations per IsMatch in steady state (allocs_per_row), and
// scaling with the filter's size and with the length of a tagged text.

#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <functional>
#include <new>
#include <random>
#include <string>
#include <vector>

#include "filtermodule/FilterModule.h"
#include "memory_host/MemoryDataRow.h"
#include "memory_host/MemoryDataTable.h"
#include "memory_host/MemoryFilterLines.h"

// Counts heap allocations of the whole process.
namespace {
std::atomic<uint64_t> g_allocations{0};
}
void* operator new(std::size_t size) {
  g_allocations.fetch_add(1, std::memory_order_relaxed);
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}
void* operator new[](std::size_t size) { return operator new(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }

namespace {

using memhost::LineSpec;
using memhost::MemoryDataRow;

size_t g_row_count = 1000000;

const char* const kUsers[] = {"Administrator", "admin.jones", "adm_backup",
                              "alice",         "bob",         "carol",
                              "dave",          "erin",        "svc_sql",
                              "guest",         "ADMIN.SMITH", "trent"};
const char* const kHosts[] = {"DC01",      "DC02",       "WS0142",
                              "WS0157",    "SRV-FILE01", "SRV-SQL02",
                              "SRV-WEB01", "LAPTOP-7F3K"};
const int32_t kEvents[] = {4624, 4624, 4624, 4625, 4625, 4634, 4688, 7045};
const char* const kSeverity[] = {"low", "medium", "high"};
const char* const kImages[] = {"C:\\Windows\\System32\\cmd.exe",
                               "C:\\Windows\\System32\\lsass.exe",
                               "C:\\Windows\\System32\\svchost.exe",
                               "C:\\Windows\\System32\\ntdll.dll",
                               "C:\\Program Files\\App\\app.EXE",
                               "C:\\Windows\\explorer.exe",
                               "C:\\Users\\bob\\AppData\\run.ps1",
                               "C:\\Windows\\System32\\kernel32.dll"};

struct Event {
  int32_t id;
  std::string user, host;
  int32_t size;
  RowDate date;
  RowTime time;
  std::string tags;
  std::string image;
};

std::u16string Wide(const std::string& s) { return {s.begin(), s.end()}; }

// Today's local date, for the named period.
RowDate Today() {
  const time_t now = time(nullptr);
  tm local{};
  localtime_r(&now, &local);
  return RowDate{static_cast<int16_t>(local.tm_year + 1900),
                 static_cast<uint16_t>(local.tm_mon + 1),
                 static_cast<uint16_t>(local.tm_mday)};
}

struct Workload {
  std::vector<Event> events;
  memhost::MemoryDataTable table;
  sqlite3* db = nullptr;

  Workload() {
    std::mt19937 rng(42);
    auto pick = [&rng](size_t n) {
      return std::uniform_int_distribution<size_t>(0, n - 1)(rng);
    };
    // Dates over the 120 days up to today.
    const RowDate today = Today();
    tm base{};
    base.tm_year = today.year - 1900;
    base.tm_mon = today.month - 1;
    base.tm_mday = today.day;
    base.tm_hour = 12;
    base.tm_isdst = -1;
    const time_t noon = mktime(&base);
    events.resize(g_row_count);
    using Kind = memhost::MemoryDataTable::Kind;
    const size_t c_id = table.AddColumn(u"EventID", Kind::kInteger);
    const size_t c_user = table.AddColumn(u"User", Kind::kText);
    const size_t c_host = table.AddColumn(u"Host", Kind::kText);
    const size_t c_size = table.AddColumn(u"Size", Kind::kInteger);
    const size_t c_received = table.AddColumn(u"Received", Kind::kDate);
    const size_t c_time = table.AddColumn(u"Time", Kind::kTime);
    const size_t c_tags = table.AddColumn(u"EXT_TAGS", Kind::kText);
    const size_t c_image = table.AddColumn(u"Image", Kind::kText);
    for (size_t i = 0; i < g_row_count; ++i) {
      Event& e = events[i];
      e.id = kEvents[pick(8)];
      e.user = kUsers[pick(12)];
      e.host = kHosts[pick(8)];
      e.size = static_cast<int32_t>(200 + pick(3800));
      const time_t when = noon - static_cast<time_t>(pick(120)) * 86400;
      tm d{};
      localtime_r(&when, &d);
      e.date = RowDate{static_cast<int16_t>(d.tm_year + 1900),
                       static_cast<uint16_t>(d.tm_mon + 1),
                       static_cast<uint16_t>(d.tm_mday)};
      e.time = RowTime{static_cast<uint16_t>(pick(24)),
                       static_cast<uint16_t>(pick(60)),
                       static_cast<uint16_t>(pick(60))};
      e.tags = std::string("@Severity@") + kSeverity[pick(3)] +
               "~Severity~@Logon@network~Logon~";
      e.image = kImages[pick(8)];
      table.AddRow();
      table.SetInteger(c_id, e.id);
      table.SetText(c_user, Wide(e.user));
      table.SetText(c_host, Wide(e.host));
      table.SetInteger(c_size, e.size);
      table.SetDate(c_received, e.date);
      table.SetTime(c_time, e.time);
      table.SetText(c_tags, Wide(e.tags));
      table.SetText(c_image, Wide(e.image));
    }
    sqlite3_open(":memory:", &db);
    sqlite3_exec(db,
                 "CREATE TABLE events(EventID INTEGER, User TEXT, Host TEXT, "
                 "Size INTEGER, "
                 "Received TEXT, Time TEXT, EXT_TAGS TEXT, Image TEXT)",
                 nullptr, nullptr, nullptr);
    sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
    sqlite3_stmt* insert = nullptr;
    sqlite3_prepare_v2(db, "INSERT INTO events VALUES(?,?,?,?,?,?,?,?)", -1,
                       &insert, nullptr);
    for (const Event& e : events) {
      char date[32], tod[32];
      std::snprintf(date, sizeof date, "%04d-%02d-%02d", e.date.year,
                    e.date.month, e.date.day);
      std::snprintf(tod, sizeof tod, "%02d:%02d:%02d", e.time.hour,
                    e.time.minute, e.time.second);
      sqlite3_bind_int(insert, 1, e.id);
      sqlite3_bind_text(insert, 2, e.user.c_str(), -1, SQLITE_TRANSIENT);
      sqlite3_bind_text(insert, 3, e.host.c_str(), -1, SQLITE_TRANSIENT);
      sqlite3_bind_int(insert, 4, e.size);
      sqlite3_bind_text(insert, 5, date, -1, SQLITE_TRANSIENT);
      sqlite3_bind_text(insert, 6, tod, -1, SQLITE_TRANSIENT);
      sqlite3_bind_text(insert, 7, e.tags.c_str(), -1, SQLITE_TRANSIENT);
      sqlite3_bind_text(insert, 8, e.image.c_str(), -1, SQLITE_TRANSIENT);
      sqlite3_step(insert);
      sqlite3_reset(insert);
    }
    sqlite3_finalize(insert);
    sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
  }
};

Workload& Data() {
  static Workload* w = new Workload();
  return *w;
}

LineSpec L(int32_t open, const char16_t* field, int32_t op,
           const char16_t* value, int32_t type, int32_t close = 0,
           int32_t link = 0, bool negate = false,
           const char16_t* tag = nullptr) {
  LineSpec s;
  s.open = open;
  s.field = field;
  s.op = static_cast<filtermodule::FieldOperator>(op);
  s.value = value;
  s.type = static_cast<filtermodule::FieldType>(type);
  s.close = close;
  s.link = static_cast<filtermodule::LineLinkOperator>(link);
  s.negate = negate;
  if (tag != nullptr) {
    s.has_tag = true;
    s.tag = tag;
  }
  return s;
}

// ASCII case-insensitive helpers for the hand-written predicates.
bool EqualsNoCase(const char16_t* a, const char16_t* b) {
  for (; *a && *b; ++a, ++b) {
    char16_t x = *a, y = *b;
    if (x >= u'A' && x <= u'Z') x = static_cast<char16_t>(x + 32);
    if (y >= u'A' && y <= u'Z') y = static_cast<char16_t>(y + 32);
    if (x != y) return false;
  }
  return *a == *b;
}
bool StartsNoCase(const char16_t* text, const char16_t* prefix) {
  for (; *prefix; ++text, ++prefix) {
    char16_t x = *text;
    if (x >= u'A' && x <= u'Z') x = static_cast<char16_t>(x + 32);
    if (x != *prefix) return false;
  }
  return true;
}
bool ContainsNoCase(const char16_t* text, const char16_t* needle) {
  for (; *text; ++text)
    if (StartsNoCase(text, needle)) return true;
  return *needle == 0;
}
int DateKey(RowDate d) { return d.year * 10000 + d.month * 100 + d.day; }
int TimeKey(RowTime t) { return t.hour * 10000 + t.minute * 100 + t.second; }

struct Scenario {
  const char* name;
  std::vector<LineSpec> lines;
  std::function<bool(IDataRow&)> predicate;
  std::string sql;
  // The contract limit: the accessor calls IsMatch must make, in its order,
  // then native comparisons with short-circuit.
  std::function<bool(IDataRow&)> contract = nullptr;
};

// The local date `days` before today.
tm DaysAgo(int days) {
  const RowDate today = Today();
  tm t{};
  t.tm_year = today.year - 1900;
  t.tm_mon = today.month - 1;
  t.tm_mday = today.day - days;
  t.tm_hour = 12;
  t.tm_isdst = -1;
  mktime(&t);
  return t;
}

int ThirtyDaysAgoKey() {
  const tm t = DaysAgo(30);
  return (t.tm_year + 1900) * 10000 + (t.tm_mon + 1) * 100 + t.tm_mday;
}

// LIKE '*.exe' by hand: the text ends in ".exe", in any case.
bool EndsExe(const char16_t* text) {
  size_t n = 0;
  while (text[n]) ++n;
  return n >= 4 && StartsNoCase(text + n - 4, u".exe");
}
// "@severity@" then "h" (LIKE 'h*' of the tag's text) up to "~severity~".
bool TaggedStartsH(const char16_t* tags) {
  for (const char16_t* p = tags; *p; ++p)
    if (StartsNoCase(p, u"@severity@h"))
      return ContainsNoCase(p, u"~severity~");
  return false;
}
// Ordinal order of the lower-cased text against a lower-case one.
bool LessNoCase(const char16_t* text, const char16_t* than) {
  for (;; ++text, ++than) {
    char16_t x = *text;
    if (x >= u'A' && x <= u'Z') x = static_cast<char16_t>(x + 32);
    if (x != *than || x == 0) return x < *than;
  }
}

std::vector<Scenario> Scenarios() {
  const int today = DateKey(Today());
  const int from = ThirtyDaysAgoKey();
  std::vector<Scenario> s;
  s.push_back(
      {"3_lines",
       {L(0, u"EventID", 0, u"4625", 0), L(0, u"User", 0, u"administrator", 1),
        L(0, u"Host", 0, u"dc01", 1)},
       [](IDataRow& r) {
         return r.GetInteger(u"EventID") == 4625 &&
                EqualsNoCase(r.GetText(u"User"), u"administrator") &&
                EqualsNoCase(r.GetText(u"Host"), u"dc01");
       },
       "SELECT count(*) FROM events WHERE EventID = 4625 AND User = "
       "'administrator' "
       "COLLATE NOCASE AND Host = 'dc01' COLLATE NOCASE",
       [](IDataRow& r) {
         r.GetValueKind(u"EventID");
         const int32_t id = r.GetInteger(u"EventID");
         const char16_t* user = r.GetText(u"User");
         const char16_t* host = r.GetText(u"Host");
         return id == 4625 && EqualsNoCase(user, u"administrator") &&
                EqualsNoCase(host, u"dc01");
       }});
  const std::vector<LineSpec> eight = {L(1, u"EventID", 0, u"4625", 0, 0, 1),
                                       L(0, u"EventID", 0, u"4624", 0, 1, 0),
                                       L(0, u"User", 1, u"adm%", 1),
                                       L(0, u"Host", 2, u"0", 1),
                                       L(0, u"Size", 4, u"500", 0),
                                       L(0, u"Size", 3, u"3000", 0),
                                       L(0, u"Received", 4, u"1/1/2020", 2),
                                       L(0, u"Time", 4, u"8:00:00", 3)};
  auto eight_predicate = [](IDataRow& r) {
    const int32_t id = r.GetInteger(u"EventID");
    if (id != 4625 && id != 4624) return false;
    if (!StartsNoCase(r.GetText(u"User"), u"adm")) return false;
    if (!ContainsNoCase(r.GetText(u"Host"), u"0")) return false;
    const int32_t size = r.GetInteger(u"Size");
    if (!(size > 500 && size < 3000)) return false;
    if (!(DateKey(r.GetDate(u"Received")) > 20200101)) return false;
    return TimeKey(r.GetTime(u"Time")) > 80000;
  };
  const std::string eight_sql =
      "(EventID = 4625 OR EventID = 4624) AND User LIKE 'adm%' AND "
      "instr(lower(Host), '0') > 0 "
      "AND Size > 500 AND Size < 3000 AND Received > '2020-01-01' AND Time > "
      "'08:00:00'";
  // The eight lines' loads, in line order.
  struct EightValues {
    int32_t id1, id2, size1, size2;
    const char16_t *user, *host;
    RowDate received;
    RowTime time;
  };
  auto load_eight = [](IDataRow& r) {
    EightValues v;
    r.GetValueKind(u"EventID");
    v.id1 = r.GetInteger(u"EventID");
    r.GetValueKind(u"EventID");
    v.id2 = r.GetInteger(u"EventID");
    v.user = r.GetText(u"User");
    v.host = r.GetText(u"Host");
    r.GetValueKind(u"Size");
    v.size1 = r.GetInteger(u"Size");
    r.GetValueKind(u"Size");
    v.size2 = r.GetInteger(u"Size");
    v.received = r.GetDate(u"Received");
    v.time = r.GetTime(u"Time");
    return v;
  };
  auto eight_native = [](const EightValues& v) {
    return (v.id1 == 4625 || v.id2 == 4624) && StartsNoCase(v.user, u"adm") &&
           ContainsNoCase(v.host, u"0") && v.size1 > 500 && v.size2 < 3000 &&
           DateKey(v.received) > 20200101 && TimeKey(v.time) > 80000;
  };
  s.push_back({"8_lines", eight, eight_predicate,
               "SELECT count(*) FROM events WHERE " + eight_sql,
               [load_eight, eight_native](IDataRow& r) {
                 return eight_native(load_eight(r));
               }});
  std::vector<LineSpec> twelve = eight;
  twelve.push_back(L(0, u"EXT_TAGS", 2, u"h", 1, 0, 0, false, u"Severity"));
  twelve.push_back(L(0, u"User", 0, u"adm_backup", 1, 0, 0, true));
  twelve.push_back(L(0, u"Received", 5, u"LAST 30 DAYS", 2));
  twelve.push_back(L(0, u"Received", 3, u"12/31/2099", 2));
  s.push_back(
      {"12_lines", twelve,
       [eight_predicate, today, from](IDataRow& r) {
         if (!eight_predicate(r)) return false;
         const char16_t* tags = r.GetText(u"EXT_TAGS");
         // "@severity@" then "h" then "~severity~", in that order.
         const char16_t* start = nullptr;
         for (const char16_t* p = tags; *p && !start; ++p)
           if (StartsNoCase(p, u"@severity@")) start = p + 10;
         if (start == nullptr) return false;
         const char16_t* h = nullptr;
         for (const char16_t* p = start; *p && !h; ++p)
           if (StartsNoCase(p, u"h")) h = p + 1;
         if (h == nullptr || !ContainsNoCase(h, u"~severity~")) return false;
         if (EqualsNoCase(r.GetText(u"User"), u"adm_backup")) return false;
         const int d = DateKey(r.GetDate(u"Received"));
         return d >= from && d <= today && d < 20991231;
       },
       "SELECT count(*) FROM events WHERE " + eight_sql +
           " AND EXT_TAGS LIKE '%@severity@%h%~severity~%' AND NOT (User = "
           "'adm_backup' COLLATE NOCASE) AND Received >= date('now', "
           "'localtime', "
           "'-30 days') AND Received <= date('now', 'localtime') AND Received "
           "< "
           "'2099-12-31'",
       [load_eight, eight_native, today, from](IDataRow& r) {
         const EightValues v = load_eight(r);
         const char16_t* tags = r.GetText(u"EXT_TAGS");
         const char16_t* user = r.GetText(u"User");
         const int d1 = DateKey(r.GetDate(u"Received"));
         const int d2 = DateKey(r.GetDate(u"Received"));
         if (!eight_native(v)) return false;
         const char16_t* start = nullptr;
         for (const char16_t* p = tags; *p && !start; ++p)
           if (StartsNoCase(p, u"@severity@")) start = p + 10;
         if (start == nullptr) return false;
         const char16_t* h = nullptr;
         for (const char16_t* p = start; *p && !h; ++p)
           if (StartsNoCase(p, u"h")) h = p + 1;
         if (h == nullptr || !ContainsNoCase(h, u"~severity~")) return false;
         if (EqualsNoCase(user, u"adm_backup")) return false;
         return d1 >= from && d1 <= today && d2 < 20991231;
       }});
  // Six lines: a group of two EventIDs, a LIKE with a leading *, a number,
  // a date and a time compared by order.
  const tm sixty = DaysAgo(60);
  static std::u16string sixty_value;
  sixty_value = Wide(std::to_string(sixty.tm_mon + 1) + "/" +
                     std::to_string(sixty.tm_mday) + "/" +
                     std::to_string(sixty.tm_year + 1900));
  const int sixty_key =
      (sixty.tm_year + 1900) * 10000 + (sixty.tm_mon + 1) * 100 + sixty.tm_mday;
  char sixty_sql[48];
  std::snprintf(sixty_sql, sizeof sixty_sql, "%04d-%02d-%02d",
                sixty.tm_year + 1900, sixty.tm_mon + 1, sixty.tm_mday);
  s.push_back(
      {"6_lines",
       {L(1, u"EventID", 0, u"4625", 0, 0, 1),
        L(0, u"EventID", 0, u"4624", 0, 1, 0), L(0, u"Image", 1, u"*.exe", 1),
        L(0, u"Size", 4, u"1000", 0),
        L(0, u"Received", 4, sixty_value.c_str(), 2),
        L(0, u"Time", 3, u"18:00:00", 3)},
       [sixty_key](IDataRow& r) {
         const int32_t id = r.GetInteger(u"EventID");
         return (id == 4625 || id == 4624) && EndsExe(r.GetText(u"Image")) &&
                r.GetInteger(u"Size") > 1000 &&
                DateKey(r.GetDate(u"Received")) > sixty_key &&
                TimeKey(r.GetTime(u"Time")) < 180000;
       },
       std::string("SELECT count(*) FROM events WHERE (EventID = 4625 OR "
                   "EventID = 4624) AND Image LIKE '%.exe' AND Size > 1000 AND "
                   "Received > '") +
           sixty_sql + "' AND Time < '18:00:00'",
       [sixty_key](IDataRow& r) {
         r.GetValueKind(u"EventID");
         const int32_t id1 = r.GetInteger(u"EventID");
         r.GetValueKind(u"EventID");
         const int32_t id2 = r.GetInteger(u"EventID");
         const char16_t* image = r.GetText(u"Image");
         r.GetValueKind(u"Size");
         const int32_t size = r.GetInteger(u"Size");
         const RowDate received = r.GetDate(u"Received");
         const RowTime time = r.GetTime(u"Time");
         return (id1 == 4625 || id2 == 4624) && EndsExe(image) && size > 1000 &&
                DateKey(received) > sixty_key && TimeKey(time) < 180000;
       }});
  // Ten lines, left to right: a tagged LIKE, a NOT group, a named period, a
  // text order comparison and OR NOT.
  //   ((EventID > 4600 AND EXT_TAGS@Severity LIKE 'h*'
  //     AND NOT (User = guest OR Host = dc02) AND Received IN LAST 30 DAYS
  //     AND Host < 'srv') OR NOT Size > 3900)
  //   AND Time > 6:00:00 AND Image LIKE '*.exe' AND User CONTAINS 'a'
  auto ten_native = [today, from](int32_t id, const char16_t* tags,
                                  const char16_t* user1, const char16_t* host1,
                                  int received, const char16_t* host2,
                                  int32_t size, int time, const char16_t* image,
                                  const char16_t* user2) {
    const bool head =
        id > 4600 && TaggedStartsH(tags) &&
        !(EqualsNoCase(user1, u"guest") || EqualsNoCase(host1, u"dc02")) &&
        received >= from && received <= today && LessNoCase(host2, u"srv");
    return (head || !(size > 3900)) && time > 60000 && EndsExe(image) &&
           ContainsNoCase(user2, u"a");
  };
  s.push_back(
      {"10_lines",
       {L(0, u"EventID", 4, u"4600", 0),
        L(0, u"EXT_TAGS", 1, u"h*", 1, 0, 2, false, u"Severity"),
        L(1, u"User", 0, u"guest", 1, 0, 1), L(0, u"Host", 0, u"dc02", 1, 1),
        L(0, u"Received", 5, u"LAST 30 DAYS", 2),
        L(0, u"Host", 3, u"srv", 1, 0, 3), L(0, u"Size", 4, u"3900", 0),
        L(0, u"Time", 4, u"6:00:00", 3), L(0, u"Image", 1, u"*.exe", 1),
        L(0, u"User", 2, u"a", 1)},
       [ten_native](IDataRow& r) {
         return ten_native(r.GetInteger(u"EventID"), r.GetText(u"EXT_TAGS"),
                           r.GetText(u"User"), r.GetText(u"Host"),
                           DateKey(r.GetDate(u"Received")), r.GetText(u"Host"),
                           r.GetInteger(u"Size"), TimeKey(r.GetTime(u"Time")),
                           r.GetText(u"Image"), r.GetText(u"User"));
       },
       "SELECT count(*) FROM events WHERE ((EventID > 4600 AND EXT_TAGS LIKE "
       "'%@severity@h%~severity~%' AND NOT (User = 'guest' COLLATE NOCASE OR "
       "Host = 'dc02' COLLATE NOCASE) AND Received >= date('now', "
       "'localtime', '-30 days') AND Received <= date('now', 'localtime') AND "
       "lower(Host) < 'srv') OR NOT Size > 3900) AND Time > '06:00:00' AND "
       "Image LIKE '%.exe' AND instr(lower(User), 'a') > 0",
       [ten_native](IDataRow& r) {
         r.GetValueKind(u"EventID");
         const int32_t id = r.GetInteger(u"EventID");
         const char16_t* tags = r.GetText(u"EXT_TAGS");
         const char16_t* user1 = r.GetText(u"User");
         const char16_t* host1 = r.GetText(u"Host");
         const int received = DateKey(r.GetDate(u"Received"));
         const char16_t* host2 = r.GetText(u"Host");
         r.GetValueKind(u"Size");
         const int32_t size = r.GetInteger(u"Size");
         const int time = TimeKey(r.GetTime(u"Time"));
         const char16_t* image = r.GetText(u"Image");
         const char16_t* user2 = r.GetText(u"User");
         return ten_native(id, tags, user1, host1, received, host2, size, time,
                           image, user2);
       }});
  return s;
}

constexpr int64_t kScenarios = 5;

const Scenario& ScenarioAt(int64_t i) {
  static const std::vector<Scenario> all = Scenarios();
  return all[static_cast<size_t>(i)];
}

IFilter* Build(const std::vector<LineSpec>& lines) {
  memhost::MemoryFilterLineList list(lines);
  IFilter* filter = CreateFilter();
  filter->Init(&list);
  return filter;
}

int64_t SqlCount(const std::string& sql) {
  sqlite3_stmt* stmt = nullptr;
  if (sqlite3_prepare_v2(Data().db, sql.c_str(), -1, &stmt, nullptr) !=
      SQLITE_OK) {
    std::fprintf(stderr, "SQL error: %s\n", sqlite3_errmsg(Data().db));
    std::exit(1);
  }
  sqlite3_step(stmt);
  const int64_t n = sqlite3_column_int64(stmt, 0);
  sqlite3_finalize(stmt);
  return n;
}

// Checks that the module, the predicate and SQLite count the same rows.
void CheckCounts() {
  for (int64_t i = 0; i < kScenarios; ++i) {
    const Scenario& s = ScenarioAt(i);
    IFilter* filter = Build(s.lines);
    int64_t ours = 0, limit = 0, contract = 0;
    memhost::MemoryDataTable::Cursor row(Data().table);
    memhost::MemoryDataTable::Cursor other(Data().table);
    for (size_t r = 0; r < Data().table.rows(); ++r) {
      row.Seek(r);
      other.Seek(r);
      ours += filter->IsMatch(&row);
      limit += s.predicate(other);
      contract += s.contract(other);
    }
    DestroyFilter(filter);
    const int64_t sql = SqlCount(s.sql);
    const bool same = ours == limit && ours == sql && ours == contract;
    std::printf(
        "%-9s matches: module %lld, predicate %lld, contract limit %lld, "
        "sqlite %lld%s\n",
        s.name, static_cast<long long>(ours), static_cast<long long>(limit),
        static_cast<long long>(contract), static_cast<long long>(sql),
        same ? "" : "  MISMATCH");
    if (!same) std::exit(1);
  }
}

void BM_IsMatch(benchmark::State& state) {
  const Scenario& s = ScenarioAt(state.range(0));
  IFilter* filter = Build(s.lines);
  const size_t rows = Data().table.rows();
  memhost::MemoryDataTable::Cursor row(Data().table);
  for (size_t r = 0; r < rows; ++r) {  // warm up
    row.Seek(r);
    filter->IsMatch(&row);
  }
  int64_t matched = 0;
  const uint64_t before = g_allocations.load();
  for (auto _ : state)
    for (size_t r = 0; r < rows; ++r) {
      row.Seek(r);
      matched += filter->IsMatch(&row);
    }
  const uint64_t allocations = g_allocations.load() - before;
  DestroyFilter(filter);
  benchmark::DoNotOptimize(matched);
  const auto processed = state.iterations() * static_cast<int64_t>(rows);
  state.SetItemsProcessed(processed);
  state.counters["allocs_per_row"] =
      static_cast<double>(allocations) / static_cast<double>(processed);
  state.SetLabel(s.name);
}

void BM_Predicate(benchmark::State& state) {
  const Scenario& s = ScenarioAt(state.range(0));
  const size_t rows = Data().table.rows();
  memhost::MemoryDataTable::Cursor row(Data().table);
  int64_t matched = 0;
  for (auto _ : state)
    for (size_t r = 0; r < rows; ++r) {
      row.Seek(r);
      matched += s.predicate(row);
    }
  benchmark::DoNotOptimize(matched);
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(rows));
  state.SetLabel(s.name);
}

void BM_ContractLimit(benchmark::State& state) {
  const Scenario& s = ScenarioAt(state.range(0));
  const size_t rows = Data().table.rows();
  memhost::MemoryDataTable::Cursor row(Data().table);
  int64_t matched = 0;
  for (auto _ : state)
    for (size_t r = 0; r < rows; ++r) {
      row.Seek(r);
      matched += s.contract(row);
    }
  benchmark::DoNotOptimize(matched);
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(rows));
  state.SetLabel(s.name);
}

void BM_Sqlite(benchmark::State& state) {
  const Scenario& s = ScenarioAt(state.range(0));
  int64_t matched = 0;
  for (auto _ : state) matched += SqlCount(s.sql);
  benchmark::DoNotOptimize(matched);
  state.SetItemsProcessed(state.iterations() *
                          static_cast<int64_t>(g_row_count));
  state.SetLabel(s.name);
}

BENCHMARK(BM_IsMatch)
    ->DenseRange(0, kScenarios - 1)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Predicate)
    ->DenseRange(0, kScenarios - 1)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ContractLimit)
    ->DenseRange(0, kScenarios - 1)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Sqlite)
    ->DenseRange(0, kScenarios - 1)
    ->Unit(benchmark::kMillisecond);

// Filter size: n lines "Size > k" joined by AND (every line evaluated).
void BM_FilterSize(benchmark::State& state) {
  std::vector<LineSpec> lines;
  for (int64_t i = 0; i < state.range(0); ++i)
    lines.push_back(L(0, u"Size", 4, i % 2 ? u"100" : u"150", 0));
  IFilter* filter = Build(lines);
  memhost::MemoryDataTable::Cursor row(Data().table);
  const size_t n = std::min<size_t>(Data().table.rows(), 100000);
  for (size_t i = 0; i < n; ++i) {
    row.Seek(i);
    filter->IsMatch(&row);
  }
  for (auto _ : state)
    for (size_t i = 0; i < n; ++i) {
      row.Seek(i);
      benchmark::DoNotOptimize(filter->IsMatch(&row));
    }
  DestroyFilter(filter);
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(n));
}
BENCHMARK(BM_FilterSize)
    ->RangeMultiplier(2)
    ->Range(1, 64)
    ->Unit(benchmark::kMicrosecond);

// The same filters as a hand-written predicate and as SQL.
void BM_FilterSize_Predicate(benchmark::State& state) {
  std::vector<int32_t> thresholds;
  for (int64_t i = 0; i < state.range(0); ++i)
    thresholds.push_back(i % 2 ? 100 : 150);
  memhost::MemoryDataTable::Cursor row(Data().table);
  const size_t n = std::min<size_t>(Data().table.rows(), 100000);
  for (auto _ : state)
    for (size_t i = 0; i < n; ++i) {
      row.Seek(i);
      bool match = true;
      for (int32_t t : thresholds)
        if (!(row.GetInteger(u"Size") > t)) {
          match = false;
          break;
        }
      benchmark::DoNotOptimize(match);
    }
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(n));
}
BENCHMARK(BM_FilterSize_Predicate)
    ->RangeMultiplier(2)
    ->Range(1, 64)
    ->Unit(benchmark::kMicrosecond);

void BM_FilterSize_Sqlite(benchmark::State& state) {
  std::string sql =
      "SELECT count(*) FROM (SELECT * FROM events LIMIT 100000) WHERE 1";
  for (int64_t i = 0; i < state.range(0); ++i)
    sql += i % 2 ? " AND Size > 100" : " AND Size > 150";
  const int64_t n =
      std::min<int64_t>(static_cast<int64_t>(Data().table.rows()), 100000);
  for (auto _ : state) benchmark::DoNotOptimize(SqlCount(sql));
  state.SetItemsProcessed(state.iterations() * n);
}
BENCHMARK(BM_FilterSize_Sqlite)
    ->RangeMultiplier(2)
    ->Range(1, 64)
    ->Unit(benchmark::kMicrosecond);

// Text length: a tagged CONTAINS over EXT_TAGS of 100 B to 10 KB.
void BM_TaggedTextLength(benchmark::State& state) {
  const size_t length = static_cast<size_t>(state.range(0));
  std::u16string tags;
  while (tags.size() < length)
    tags += u"@logon@network~logon~@source@ws0142~source~";
  tags.resize(length - std::min<size_t>(length, 30));
  tags += u"@severity@high~severity~";
  MemoryDataRow row;
  row.SetText(u"EXT_TAGS", tags);
  IFilter* filter =
      Build({L(0, u"EXT_TAGS", 2, u"hi", 1, 0, 0, false, u"Severity")});
  filter->IsMatch(&row);
  for (auto _ : state) benchmark::DoNotOptimize(filter->IsMatch(&row));
  DestroyFilter(filter);
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(length));
}
BENCHMARK(BM_TaggedTextLength)->RangeMultiplier(10)->Range(100, 10000);

}  // namespace

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i)
    if (std::strncmp(argv[i], "--rows=", 7) == 0)
      g_row_count = std::strtoull(argv[i] + 7, nullptr, 10);
  benchmark::Initialize(&argc, argv);
  std::printf("rows: %zu\n", g_row_count);
  CheckCounts();
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
