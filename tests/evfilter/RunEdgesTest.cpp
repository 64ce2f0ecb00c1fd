// The edges of a run, end to end: standard descriptors closed at start,
// output that cannot be written, SIGINT or SIGTERM in the middle, and
// records that arrive one by one on a pipe.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "EvfilterRun.h"
#include "InputLoop.h"

namespace {

bool Has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

class EvfilterRunEdgesTest : public EvfilterCliTest {
 protected:
  // Runs a shell command line with the built evfilter as $E.
  int Shell(const std::string& line) {
    const std::string command = "E=" + std::string(EVFILTER_PATH) + "; " +
                                line + " 2> " + (dir_ / "err").string();
    const int raw = std::system(command.c_str());
    return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  }
  std::string Err() { return Read(dir_ / "err"); }
};

// With a standard descriptor closed, the module's log would be opened as
// that descriptor: the records would go into the log, the messages too.
TEST_F(EvfilterRunEdgesTest, ClosedStandardDescriptorsTakeNothing) {
  const std::string csv = File("ids.csv", "Id\n1\n2\n");
  const std::string logs = (dir_ / "logs").string();
  const std::string run =
      "$E match --debug-log --log-dir " + logs + " --where \"Id > 0\" " + csv;
  EXPECT_EQ(Shell(run + " >&-"), 2);
  EXPECT_TRUE(Has(Err(), "standard output: Bad file descriptor")) << Err();
  const std::string log = Read(dir_ / "logs" / "Filter-Module.csv");
  EXPECT_TRUE(Has(log, "FLTIsMatch - Row matched."));  // the log is there
  EXPECT_FALSE(Has(log, "\n1\n")) << log;              // the records not
  EXPECT_EQ(Shell("$E match --log-dir " + logs + " --where \"Id > 0\" " +
                  (dir_ / "none.csv").string() + " > /dev/null 2>&-"),
            2);
  EXPECT_FALSE(Has(Read(dir_ / "logs" / "Filter-Module.csv"), "none.csv"));
  EXPECT_EQ(Shell("$E match --where \"Id > 0\" - > /dev/null <&-"), 2);
  EXPECT_TRUE(Has(Err(), "(standard input): Bad file descriptor")) << Err();
}

// Output that cannot be written fails the run, in every command, and
// nothing says it was written.
TEST_F(EvfilterRunEdgesTest, OutputThatCannotBeWrittenFailsEveryCommand) {
  const std::string csv = File("ids.csv", "Id\n1\n2\n");
  const std::string commands[] = {"match --count --where \"Id > 0\" " + csv,
                                  "match --where \"Id > 0\" " + csv,
                                  "show --json --where \"Id > 0\"",
                                  "show --where \"Id > 0\"",
                                  "intervals --where \"Id > 0\" Id",
                                  "--version"};
  for (const std::string& command : commands) {
    SCOPED_TRACE(command);
    EXPECT_EQ(Shell("$E " + command + " > /dev/full"), 2);
    EXPECT_TRUE(Has(Err(), "standard output: No space left on device"))
        << Err();
    EXPECT_FALSE(Has(Err(), " 2 written,")) << Err();
  }
  // A pipe whose reader is gone (| head has what it wants): the run stops,
  // removes its private log folder and ends as a SIGPIPE would end it,
  // 141, without a word; whether the caller ignored SIGPIPE or not.
  for (const auto action : {SIG_IGN, SIG_DFL}) {
    int pipe_ends[2];
    ASSERT_EQ(::pipe(pipe_ends), 0);
    ::close(pipe_ends[0]);
    const fs::path tmp = dir_ / (action == SIG_IGN ? "tmp-ign" : "tmp-dfl");
    fs::create_directory(tmp);
    const std::string err = (dir_ / "pipe-err").string();
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      ::signal(SIGPIPE, action);
      ::setenv("TMPDIR", tmp.c_str(), 1);
      ::dup2(pipe_ends[1], STDOUT_FILENO);
      const int e = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      ::dup2(e, STDERR_FILENO);
      ::execl(EVFILTER_PATH, EVFILTER_PATH, "match", "--where", "Id > 0",
              csv.c_str(), static_cast<char*>(nullptr));
      ::_exit(127);
    }
    ::close(pipe_ends[1]);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 128 + SIGPIPE)
        << status;
    EXPECT_EQ(Read(err), "");
    EXPECT_TRUE(fs::is_empty(tmp)) << "the private log folder stayed";
  }
}

// Memory that runs out is said with the input, the place and what was
// being read, not as a bare std::bad_alloc.
TEST_F(EvfilterRunEdgesTest, MemoryThatRunsOutIsSaidWithThePlace) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "a sanitizer's evfilter needs more address space";
#endif
  // One record of 400 MB, compressed to under 2 MB.
  const std::string big = (dir_ / "big.csv.gz").string();
  ASSERT_EQ(std::system(("(echo a; head -c 400000000 /dev/zero | tr '\\0' x; "
                         "echo) | gzip -1 > " +
                         big)
                            .c_str()),
            0);
  EXPECT_EQ(
      Shell("ulimit -v 300000; $E match --count --where \"a = x\" " + big), 2);
  EXPECT_TRUE(Has(Err(),
                  "big.csv.gz: not enough memory to read on at line 2 "
                  "(reading its record, after 0 record(s)"))
      << Err();
}

// Interrupted while it waits for input: the records read are written
// whole, the private log folder is removed, and the status says which
// signal it was.
TEST_F(EvfilterRunEdgesTest, SignalsStopTheRunBetweenRecords) {
  for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGXFSZ}) {
    SCOPED_TRACE(signal);
    const fs::path tmp = dir_ / ("tmp" + std::to_string(signal));
    fs::create_directory(tmp);
    int feed[2];
    ASSERT_EQ(::pipe(feed), 0);
    const std::string out = (dir_ / "out").string();
    const std::string err = (dir_ / "err").string();
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      ::dup2(feed[0], STDIN_FILENO);
      ::close(feed[0]);
      ::close(feed[1]);
      const int o = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      const int e = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      ::dup2(o, STDOUT_FILENO);
      ::dup2(e, STDERR_FILENO);
      ::setenv("TMPDIR", tmp.c_str(), 1);
      for (const int s : {SIGINT, SIGTERM, SIGHUP, SIGXFSZ})
        ::signal(s, SIG_DFL);
      ::execl(EVFILTER_PATH, EVFILTER_PATH, "match", "--where", "Id > 0", "-",
              static_cast<char*>(nullptr));
      ::_exit(127);
    }
    ::close(feed[0]);
    // More than evfilter reads before it starts (64 KiB), and half of a
    // last record.
    std::string records = "Id,Name\n";
    for (int i = 1; i <= 8000; ++i)
      records += std::to_string(i) + ",name" + std::to_string(i) + "\n";
    const std::string whole = records;
    records += "8001,na";
    ASSERT_EQ(::write(feed[1], records.data(), records.size()),
              static_cast<ssize_t>(records.size()));
    // Time to read what was sent, also on a loaded machine.
    std::this_thread::sleep_for(std::chrono::milliseconds(1000));
    ::kill(child, signal);
    int status = 0;
    pid_t done = 0;
    for (int i = 0; i < 100 && done == 0; ++i) {
      done = ::waitpid(child, &status, WNOHANG);
      if (done == 0) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ::close(feed[1]);
    if (done == 0) {
      ::kill(child, SIGKILL);
      ::waitpid(child, &status, 0);
      FAIL() << "still running 5 s after the signal";
    }
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 128 + signal);
    // The records sent are written whole; the half-sent one is no record.
    EXPECT_EQ(Read(out), whole);
    EXPECT_TRUE(Has(Read(err), std::string("interrupted by ") +
                                   evfilter::SignalName(signal)))
        << Read(err);
    EXPECT_TRUE(fs::is_empty(tmp)) << "the private log folder stayed";
  }
}

// A writer that writes a record, then waits: the record's output comes
// out before the next is written, whatever the format and command, while
// evfilter's input and output are both pipes. (The wait for it is long,
// for a loaded machine: this tests that it comes, not how fast.)
TEST_F(EvfilterRunEdgesTest, RecordsOfASlowWriterComeOutOneByOne) {
  const std::string rule =
      File("hello.yml",
           "title: Hello\nid: 44444444-0000-0000-0000-000000000001\n"
           "logsource: {product: windows}\ndetection:\n"
           "  sel: {msg|contains: hello}\n  condition: sel\n");
  const struct {
    const char* name;
    std::vector<std::string> args;
    const char* header;
    const char* record;  // %d: the record's number
  } kCases[] = {
      {"JSON Lines",
       {"match", "--where", "EventID > 0", "-"},
       "",
       R"({"EventID":%d,"msg":"hello"})"},
      {"CSV",
       {"match", "--where", "EventID > 0", "-"},
       "EventID,msg\n",
       "%d,hello"},
      {"JSON Lines told",
       {"match", "--input-format", "jsonl", "--where", "EventID > 0", "-"},
       "",
       R"({"EventID":%d,"msg":"hello"})"},
      {"hunt",
       {"hunt", "--rules", rule, "-"},
       "",
       R"({"EventID":%d,"Channel":"Security","msg":"hello"})"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    int in[2], out[2];
    ASSERT_EQ(::pipe(in), 0);
    ASSERT_EQ(::pipe(out), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      ::dup2(in[0], STDIN_FILENO);
      ::dup2(out[1], STDOUT_FILENO);
      const int e =
          ::open((dir_ / "err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      ::dup2(e, STDERR_FILENO);
      for (int fd : {in[0], in[1], out[0], out[1], e}) ::close(fd);
      std::vector<char*> argv{const_cast<char*>(EVFILTER_PATH)};
      for (const std::string& a : c.args)
        argv.push_back(const_cast<char*>(a.c_str()));
      argv.push_back(nullptr);
      ::execv(EVFILTER_PATH, argv.data());
      ::_exit(127);
    }
    ::close(in[0]);
    ::close(out[1]);
    std::string got;
    // Reads evfilter's output until it holds `want`, waiting at most 20 s.
    auto wait_for = [&](const std::string& want) {
      for (int i = 0; i < 200 && got.find(want) == std::string::npos; ++i) {
        pollfd ready{out[0], POLLIN, 0};
        if (::poll(&ready, 1, 100) <= 0) continue;
        char buffer[4096];
        const ssize_t n = ::read(out[0], buffer, sizeof buffer);
        if (n <= 0) break;
        got.append(buffer, static_cast<size_t>(n));
      }
      return got.find(want) != std::string::npos;
    };
    ASSERT_EQ(::write(in[1], c.header, std::strlen(c.header)),
              static_cast<ssize_t>(std::strlen(c.header)));
    for (int r = 1; r <= 3; ++r) {
      char record[128];
      std::snprintf(record, sizeof record, c.record, r);
      const std::string line = std::string(record) + "\n";
      ASSERT_EQ(::write(in[1], line.data(), line.size()),
                static_cast<ssize_t>(line.size()));
      const std::string mark = c.args[0] == std::string("hunt")
                                   ? "\"EventID\":" + std::to_string(r) + ","
                                   : std::string(record);
      EXPECT_TRUE(wait_for(mark)) << "record " << r << " did not come out "
                                  << "before the next was written: " << got;
    }
    ::close(in[1]);
    wait_for("\x01");  // the rest, to the end
    ::close(out[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << Err();
  }
}

}  // namespace
