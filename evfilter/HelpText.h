// The texts --help prints after the options: the expression language for
// the commands that take --where, what hunt does, and the exit statuses.
// The man page says the same at more length; a test checks that every
// keyword of the expression compiler is in both.

#ifndef EVFILTER_HELPTEXT_H_
#define EVFILTER_HELPTEXT_H_

namespace evfilter {

// match, show and intervals.
inline constexpr char kExpressionHelp[] = R"(
Expression syntax (--where):
  Field OP value         OP: = == != <> < <= > >= LIKE CONTAINS MATCHES
  Field IN (a, b, ...)   any of the values; NOT IN: none of them
  Field BETWEEN a AND b  both ends included (NOT BETWEEN); on times that
                         wrap midnight (22:00 AND 6:00) the night
  Field SINCE value      a date or a timestamp: Field >= value
  Field IN period        the module's own, decided as it matches a row:
                         TODAY, YESTERDAY, LAST 30 CALENDAR DAYS, THIS MONTH,
                         LAST MONTH; fixed when evfilter starts: LAST n DAYS
                         and LAST n HOURS (n x 24 or n hours back from now),
                         LAST WEEK, THIS WEEK (Monday to Sunday)
  Field@Tag OP value     compare inside the extended tag @Tag@...~Tag~
  Field:type OP value    type: numeric, text, date, time (else inferred)
  `Any name` OP value    a field name that is not a bare word (`` for `)
  a.b.0 OP value         JSON: a path into nested objects and arrays
  NOT condition, NOT ( ... ), ( ... ), AND, OR, AND NOT, OR NOT

Conditions combine strictly left to right, as the filter module evaluates
them: A OR B AND C means (A OR B) AND C. Use brackets to group.

Values: bare, 'single' or "double" quoted (a quote inside doubled).
  numbers 4625, -1.5, .5; dates m/d/yyyy or yyyy-mm-dd; times h:mm[:ss]
  on a 24-hour clock or with AM/PM; timestamps '2026-12-08 22:00[:05[.5]]';
  LIKE takes * % ? [set]; MATCHES a regular expression (RE2), ignoring
  case unless it starts with (?-i)
  cells also: m/d/yyyy h:mm:ss AM/PM, ISO timestamps, epoch seconds,
  milliseconds or microseconds (by magnitude)

A typed condition on a value a record lacks, holds null or cannot be read
as the condition's type is false (NOT still applies); text sees empty text.

Examples:
  evfilter match --where "EventID = 4625 AND User LIKE 'adm%'" events.csv
  evfilter match --filter examples/filters/failed-admin-logons.json --count events.csv
  evfilter match --where "Id IN (4720, 4740) AND TimeCreated IN LAST 7 DAYS" security.csv
  evfilter match --where "CommandLine MATCHES 'powershell.*-enc'" sysmon.jsonl
  evfilter match --where '`Event ID` >= 4624' export.csv
  evfilter match --where "Event.System.EventID = 1" sysmon.jsonl.gz
  evfilter show --where "(EventID = 4624 OR EventID = 4625) AND Received IN THIS MONTH"
  evfilter intervals --where "EventID > 4600 AND EventID < 4700" EventID)";

// hunt.
inline constexpr char kHuntHelp[] = R"(
Each input is classed by what it is (an event log file is windows, a Zeek
log zeek, other inputs by their first record's fields) and only the rules
of its log source run on it; --product overrides.

Examples:
  evfilter hunt --rules sigma/rules/windows --min-level high *.evtx
  evfilter hunt --rules sigma/rules --output-format csv *.evtx > timeline.csv
  evfilter hunt --rules sigma/rules --list | grep -v '"loaded"')";

// evfilter alone.
inline constexpr char kOverviewHelp[] = R"(
Examples:
  evfilter match --where "EventID = 4625 AND User LIKE 'adm%'" events.csv
  evfilter show --where "(EventID = 4624 OR EventID = 4625) AND Received IN THIS MONTH"
  evfilter intervals --where "EventID > 4600 AND EventID < 4700" EventID
  evfilter hunt --rules sigma/rules/windows --min-level high *.evtx

evfilter COMMAND --help says more: match, show and intervals the expression
language of --where, hunt how rules meet inputs.)";

// Every command.
inline constexpr char kExitStatusHelp[] = R"(

Exit status: 0 a record (hunt: a detection) was written, 1 none was, 2 an
error (also output that cannot be written, a --log-dir log that lost
records, a rule file that cannot be read); 130, 143, 129 or 153 stopped by
SIGINT, SIGTERM, SIGHUP or SIGXFSZ, the records read until then written
whole; 141 the reader of the output went away (| head).)";

}  // namespace evfilter

#endif  // EVFILTER_HELPTEXT_H_
