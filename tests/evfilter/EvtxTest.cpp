// evfilter on Windows event log files the test writer makes: the analyst's
// query, output formats, threads, standard input and gzip, local time,
// and each fault reported with its place while the other records are
// still written.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#include <chrono>
#include <thread>

#include <string>

#include "EvfilterRun.h"
#include "EvtxWriter.h"

namespace {

using evtxtest::Event;
using evtxtest::Writer;

// A Security log: logons of four users, failures for every third.
Writer SecurityLog(size_t events) {
  Writer w;
  const char* users[] = {"admin", "adm_backup", "bob", "Administrator"};
  for (size_t i = 1; i <= events; ++i) {
    Event e;
    e.record_id = i;
    e.event_id = i % 3 == 0 ? 4625 : 4624;
    e.filetime = 133800000000000000ULL + i * 600000000ULL;  // a minute apart
    e.data = {{"TargetUserName", users[i % 4]},
              {"LogonType", i % 2 == 0 ? "3" : "10"},
              {"IpAddress", "10.0.0." + std::to_string(i % 250)}};
    w.Add(e);
  }
  return w;
}

class EvfilterEvtxTest : public EvfilterCliTest {
 protected:
  static size_t Lines(const std::string& s) {
    size_t n = 0;
    for (char c : s) n += c == '\n';
    return n;
  }
};

TEST_F(EvfilterEvtxTest, AnalystQueryAndOutputFormats) {
  const std::string log = File("Security.evtx", SecurityLog(24).Bytes());
  Result r = Run(
      "match --where \"EventID = 4625 AND TargetUserName LIKE 'adm%'\" " + log);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  // Records 3, 6, ... fail; every user but bob (i % 4 = 2) starts with
  // "adm" without case: 3, 9, 12, 15, 21, 24.
  EXPECT_EQ(Lines(r.out), 6u) << r.out;
  EXPECT_EQ(r.out.rfind("{\"EventID\":4625,", 0), 0u) << r.out;
  EXPECT_NE(r.out.find("\"EventRecordID\":9,"), std::string::npos);
  EXPECT_LT(r.out.find("\"EventRecordID\":9,"),
            r.out.find("\"EventRecordID\":24,"));

  r = Run("match --count --where \"Event.EventData.LogonType = 10\" " + log);
  EXPECT_EQ(r.out, "12\n");
  // A path no record has is named, as any missing field is.
  r = Run("match --count --where \"Event.EventData.TargetUser = x\" " + log);
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("no field 'Event.EventData.TargetUser' "
                       "(closest: 'Event.EventData.TargetUserName')"),
            std::string::npos)
      << r.err;
  r = Run("match -v --count --where \"EventID = 4625\" " + log);
  EXPECT_EQ(r.out, "16\n");
  r = Run("match --output-format csv --where \"EventRecordID = 2\" " + log);
  EXPECT_EQ(r.out.substr(0, r.out.find('\n')),
            "EventID,Version,Level,Task,Opcode,Keywords,EventRecordID,Channel,"
            "Computer,Provider_Name,Provider_Guid,TimeCreated,ProcessID,"
            "ThreadID,TargetUserName,LogonType,IpAddress");
  EXPECT_NE(r.out.find(",2,Security,"), std::string::npos) << r.out;
  r = Run("match --output-format tsv --where \"EventRecordID = 2\" " + log);
  EXPECT_NE(r.out.find("\tbob\t3\t10.0.0.2\n"), std::string::npos) << r.out;
  // Told by its signature on standard input and under gzip.
  r = Run("match --count --where \"EventID = 4625\" -", Read(log));
  EXPECT_EQ(r.out, "8\n") << r.err;
  // Two files one after the other are no one file: the second is said.
  r = Run("match --count --where \"EventID = 4625\" -", Read(log) + Read(log));
  EXPECT_EQ(r.out, "8\n");
  EXPECT_NE(r.err.find("(standard input): 0 chunk(s) and 1 block(s) of 64 KiB "
                       "of other data after the 1 the file header counts "
                       "were not read"),
            std::string::npos)
      << r.err;
  ASSERT_EQ(std::system(("gzip -k " + log).c_str()), 0);
  r = Run("match --count --where \"EventID = 4625\" " + log + ".gz");
  EXPECT_EQ(r.out, "8\n") << r.err;
}

TEST_F(EvfilterEvtxTest, TimeCreatedIsLocalUnlessUtc) {
  // Record 1 is at 2024-12-30 02:41 UTC: 21:41 the day before in New York.
  const std::string log = File("Security.evtx", SecurityLog(3).Bytes());
  Result r = Run("match --count --where \"TimeCreated = 12/29/2024\" " + log,
                 "", "TZ=America/New_York");
  EXPECT_EQ(r.out, "3\n") << r.err;
  r = Run("match --utc --count --where \"TimeCreated = 12/30/2024\" " + log, "",
          "TZ=America/New_York");
  EXPECT_EQ(r.out, "3\n") << r.err;
}

TEST_F(EvfilterEvtxTest, ThreadsGiveTheSameRecordsInOrder) {
  Writer w = SecurityLog(6000);
  ASSERT_GE(w.chunks(), 8u);
  std::string bytes = w.Bytes();
  evtxtest::CorruptChunkRecords(bytes, 2);
  const std::string log = File("big.evtx", bytes);
  const std::string where = "--where \"TargetUserName LIKE 'adm%'\" ";
  const Result one = Run("match -j 1 " + where + log);
  const Result two = Run("match -j 2 " + where + log);
  EXPECT_EQ(one.status, 2);
  EXPECT_EQ(two.status, 2);
  EXPECT_GT(Lines(one.out), 2000u);
  EXPECT_EQ(one.out, two.out);
  EXPECT_EQ(one.err, two.err);
}

// A destroyed record header inside a chunk of an exported log (its record
// headers count from 1): the records after it are found by their
// signature and read, and the lost one is named by its EventRecordID, as
// the filters and hunt's record_id name records.
TEST_F(EvfilterEvtxTest, ADestroyedRecordHeaderLosesThatRecordOnly) {
  Writer w;
  for (uint64_t i = 1; i <= 50; ++i) {
    Event e;
    e.record_id = 8068 + i;
    e.header_id = i;
    e.data = {{"TargetUserName", "u" + std::to_string(i)}};
    w.Add(e);
  }
  std::string bytes = w.Bytes();
  evtxtest::DestroyRecordHeader(bytes, 0, 9);  // the tenth record
  const std::string log = File("exported.evtx", bytes);
  const Result r = Run("match --count --where \"EventRecordID > 0\" " + log);
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.Written(), 49);
  EXPECT_NE(r.err.find("exported.evtx: chunk 0: bytes "), std::string::npos)
      << r.err;
  EXPECT_NE(r.err.find("hold no readable record; read on after them; 1 "
                       "record(s) skipped, EventRecordID 8078"),
            std::string::npos)
      << r.err;
  EXPECT_NE(r.err.find("1 record(s) in 1 place(s) could not be read"),
            std::string::npos)
      << r.err;
}

// SIGINT in the middle of a large event log stops the run between chunks,
// as it does inputs of other formats, not at the end of the file.
TEST_F(EvfilterEvtxTest, SignalsStopTheRunInsideAFile) {
  constexpr uint64_t kEvents = 120000;
  const std::string log = File("large.evtx", SecurityLog(kEvents).Bytes());
  for (const char* jobs : {"1", "2"}) {
    SCOPED_TRACE(jobs);
    const fs::path out = dir_ / "out", err = dir_ / "err";
    fs::remove(out);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      const int o = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      const int e = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      ::dup2(o, STDOUT_FILENO);
      ::dup2(e, STDERR_FILENO);
      ::signal(SIGINT, SIG_DFL);
      ::execl(EVFILTER_PATH, EVFILTER_PATH, "match", "-j", jobs, "--where",
              "EventID > 0", log.c_str(), static_cast<char*>(nullptr));
      ::_exit(127);
    }
    // Once records are written, it is reading the file: then the stop.
    auto written = [&out] {
      std::error_code ec;
      const auto size = fs::file_size(out, ec);
      return !ec && size > 0;
    };
    for (int i = 0; i < 1000 && !written(); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ::kill(child, SIGINT);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status)) << status;
    EXPECT_EQ(WEXITSTATUS(status), 130);
    const std::string said = Read(err);
    const size_t at = said.find("interrupted by SIGINT after ");
    ASSERT_NE(at, std::string::npos) << said;
    EXPECT_LT(std::stoull(said.substr(at + 28)), kEvents) << said;
  }
}

TEST_F(EvfilterEvtxTest, DamagedChunksAndRecordsAreReportedAndSkipped) {
  Writer w = SecurityLog(3000);
  std::string bytes = w.Bytes();
  evtxtest::CorruptChunkRecords(bytes, 1);
  evtxtest::BreakRecord(bytes, 3, 5);
  const std::string bad = File("bad.evtx", bytes);
  const std::string good = File("good.evtx", SecurityLog(6).Bytes());
  Result r = Run("match --count --where \"EventID > 0\" " + bad + " " + good);
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("bad.evtx: chunk 1: the records' checksum does not "
                       "match; 189 record(s) skipped, EventRecordIDs 190-378"),
            std::string::npos)
      << r.err;
  // The summary counts the records the reports stand for.
  EXPECT_NE(r.err.find("190 record(s) in 2 place(s) could not be read"),
            std::string::npos)
      << r.err;
  EXPECT_NE(r.err.find("bad.evtx: chunk 3, record "), std::string::npos);
  EXPECT_NE(r.err.find("record skipped"), std::string::npos);
  // The rest of both files is read: all but chunk 1 and one record.
  EXPECT_EQ(r.out, "");
  EXPECT_GT(r.Written(), 2000);
  EXPECT_LT(r.Written(), 3000);
  // --strict stops at the first.
  r = Run("match --strict --count --where \"EventID > 0\" " + bad + " " + good);
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("chunk 1"), std::string::npos);
  EXPECT_EQ(r.err.find("chunk 3"), std::string::npos) << r.err;
}

TEST_F(EvfilterEvtxTest, DirtyFileReadWhole) {
  Writer w = SecurityLog(1500);
  std::string bytes = w.Bytes();
  evtxtest::SetHeaderChunkCount(bytes, 1);
  evtxtest::RewindChunkHeader(bytes, w.chunks() - 1, 2);
  evtxtest::SetDirty(bytes, true);
  const std::string log = File("dirty.evtx", bytes);
  const Result r = Run("match --count --where \"EventID > 0\" " + log);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "1500\n");
  EXPECT_NE(r.err.find("dirty.evtx: the file was not closed cleanly: the "
                       "header's counts were not trusted"),
            std::string::npos)
      << r.err;
}

TEST_F(EvfilterEvtxTest, FilesThatCannotBeReadAreNamed) {
  const std::string bytes = SecurityLog(1500).Bytes();
  const std::string empty = File("empty.evtx", "");
  const std::string text = File("text.evtx", "EventID\n4624\n");
  const std::string header = File("header.evtx", bytes.substr(0, 2000));
  const std::string cut = File("cut.evtx", bytes.substr(0, 70000));
  std::string broken_bytes = bytes;
  evtxtest::BreakRecord(broken_bytes, 0, 5);
  const std::string broken = File("broken.evtx", broken_bytes);
  const std::string good = File("good.evtx", SecurityLog(6).Bytes());
  Result r = Run("match --count --where \"EventID > 0\" " + empty + " " + text +
                 " " + header + " " + cut + " " + good);
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("empty.evtx: empty file (0 bytes), no EVTX file header"),
            std::string::npos)
      << r.err;
  EXPECT_NE(
      r.err.find("text.evtx: not an EVTX file (no \"ElfFile\" signature)"),
      std::string::npos);
  EXPECT_NE(r.err.find("header.evtx: cut short: 2000 of the 4096 bytes"),
            std::string::npos);
  EXPECT_NE(
      r.err.find("cut.evtx: chunk 1: cut short at 368 of its 65536 bytes"),
      std::string::npos);
  EXPECT_NE(r.err.find("cut.evtx: chunk 2: the file ends before it"),
            std::string::npos);
  // Neither says how many records it held: not counted as one each.
  EXPECT_NE(r.err.find("; the records in 2 place(s) could not be read, how "
                       "many is unknown"),
            std::string::npos)
      << r.err;
  r = Run("match --count --where \"EventID > 0\" " + broken + " " + cut);
  EXPECT_NE(r.err.find("; 1 record(s) in 1 place(s) could not be read, and "
                       "the records in 2 more place(s), how many is unknown"),
            std::string::npos)
      << r.err;
  // cut.evtx's first chunk and good.evtx's six records are all read.
  EXPECT_GT(r.Written(), 6);
}

}  // namespace
