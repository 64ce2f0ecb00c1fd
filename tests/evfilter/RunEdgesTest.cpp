// The edges of a run, end to end: standard descriptors closed at start,
// output that cannot be written, SIGINT or SIGTERM in the middle, and
// records that arrive one by one on a pipe.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <atomic>
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

  // Starts evfilter with `args`, its standard input and output pipes
  // (`*in` to write to it, `*out` to read from it), its messages in "err".
  pid_t Start(const std::vector<std::string>& args, int* in, int* out) {
    int to[2], from[2];
    if (::pipe(to) != 0 || ::pipe(from) != 0) return -1;
    const pid_t child = ::fork();
    if (child == 0) {
      ::dup2(to[0], STDIN_FILENO);
      ::dup2(from[1], STDOUT_FILENO);
      const int e =
          ::open((dir_ / "err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      ::dup2(e, STDERR_FILENO);
      for (int fd : {to[0], to[1], from[0], from[1], e}) ::close(fd);
      std::vector<char*> argv{const_cast<char*>(EVFILTER_PATH)};
      for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
      argv.push_back(nullptr);
      ::execv(EVFILTER_PATH, argv.data());
      ::_exit(127);
    }
    ::close(to[0]);
    ::close(from[1]);
    *in = to[1];
    *out = from[0];
    return child;
  }

  // Reads `fd` into `got` until it holds `want`, at most 20 s (for a
  // loaded machine: this tests that it comes, not how fast).
  static bool WaitFor(int fd, std::string& got, const std::string& want) {
    for (int i = 0; i < 200 && got.find(want) == std::string::npos; ++i) {
      pollfd ready{fd, POLLIN, 0};
      if (::poll(&ready, 1, 100) <= 0) continue;
      char buffer[4096];
      const ssize_t n = ::read(fd, buffer, sizeof buffer);
      if (n <= 0) break;
      got.append(buffer, static_cast<size_t>(n));
    }
    return got.find(want) != std::string::npos;
  }

  // The messages, once they hold `want` (at most 20 s).
  std::string ErrOnceItHas(const std::string& want) {
    for (int i = 0; i < 200 && !Has(Err(), want); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    return Err();
  }

  static int Status(pid_t child) {
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
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
// evfilter's input and output are both pipes.
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
    bool gzip = false;   // sent as one gzip stream, flushed per record
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
      // Records the threads hold are settled while the input waits.
      {"CSV on two threads",
       {"match", "-j", "2", "--where", "EventID > 0", "-"},
       "EventID,msg\n",
       "%d,hello"},
      {"hunt on two threads",
       {"hunt", "-j", "2", "--rules", rule, "-"},
       "",
       R"({"EventID":%d,"Channel":"Security","msg":"hello"})"},
      {"gzip",
       {"match", "--where", "EventID > 0", "-"},
       "",
       R"({"EventID":%d,"msg":"hello"})",
       true},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    int in = -1, out = -1;
    const pid_t child = Start(c.args, &in, &out);
    ASSERT_GT(child, 0);
    std::string got;
    z_stream z{};
    if (c.gzip) {
      ASSERT_EQ(deflateInit2(&z, 6, Z_DEFLATED, 16 + 15, 8, Z_DEFAULT_STRATEGY),
                Z_OK);
    }
    // Sends `text`, as it is or deflated and flushed.
    auto send = [&](const std::string& text, int flush = Z_SYNC_FLUSH) {
      std::string bytes = text;
      if (c.gzip) {
        bytes.assign(text.size() + 1024, '\0');
        z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
        z.avail_in = static_cast<uInt>(text.size());
        z.next_out = reinterpret_cast<Bytef*>(bytes.data());
        z.avail_out = static_cast<uInt>(bytes.size());
        deflate(&z, flush);
        bytes.resize(bytes.size() - z.avail_out);
      }
      return ::write(in, bytes.data(), bytes.size()) ==
             static_cast<ssize_t>(bytes.size());
    };
    ASSERT_TRUE(send(c.header));
    for (int r = 1; r <= 3; ++r) {
      char record[128];
      std::snprintf(record, sizeof record, c.record, r);
      ASSERT_TRUE(send(std::string(record) + "\n"));
      const std::string mark = c.args[0] == std::string("hunt")
                                   ? "\"EventID\":" + std::to_string(r) + ","
                                   : std::string(record);
      EXPECT_TRUE(WaitFor(out, got, mark))
          << "record " << r << " did not come out before the next was "
          << "written: " << got;
    }
    if (c.gzip) {
      ASSERT_TRUE(send("", Z_FINISH));
      deflateEnd(&z);
    }
    ::close(in);
    WaitFor(out, got, "\x01");  // the rest, to the end
    ::close(out);
    EXPECT_EQ(Status(child), 0) << Err();
  }
}

// A writer that trickles records, never pausing long: a matching one still
// comes out long before many more are written, on one thread or two.
TEST_F(EvfilterRunEdgesTest, ATricklingWriterIsNotHeldBack) {
  const std::string rule =
      File("hello.yml",
           "title: Hello\nid: 44444444-0000-0000-0000-000000000002\n"
           "logsource: {product: windows}\ndetection:\n"
           "  sel: {msg|contains: hello}\n  condition: sel\n");
  const std::vector<std::string> kCommands[] = {
      {"match", "--where", "EventID = 1", "-"},
      {"hunt", "-j", "2", "--rules", rule, "-"},
  };
  for (const auto& args : kCommands) {
    SCOPED_TRACE(args[0]);
    int in = -1, out = -1;
    const pid_t child = Start(args, &in, &out);
    ASSERT_GT(child, 0);
    std::atomic<int> written{0};
    std::atomic<bool> stop{false};
    std::thread writer([&] {
      std::string line = R"({"EventID":1,"Channel":"Security","msg":"hello"})";
      for (int i = 0; i < 10000 && !stop; ++i) {
        const std::string text = line + "\n";
        if (::write(in, text.data(), text.size()) !=
            static_cast<ssize_t>(text.size()))
          break;
        ++written;
        line = R"({"EventID":2,"Channel":"Security","msg":"bye"})";
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
      }
      ::close(in);
    });
    std::string got;
    const bool came = WaitFor(out, got, "\"EventID\":1,");
    const int by_then = written.load();
    stop = true;
    writer.join();
    EXPECT_TRUE(came) << got;
    EXPECT_LT(by_then, 250)
        << "the record waited for " << by_then << " more to be written";
    WaitFor(out, got, "\x01");
    ::close(out);
    EXPECT_EQ(Status(child), 0) << Err();
  }
}

// --follow reads a file as it grows: a record written in two parts is one,
// a rotation (the file moved away, a new one under the name) loses
// neither what the old file got last nor the new one's records, and a
// file cut short is read again from its start. A signal ends the run;
// --count then gives the count so far.
TEST_F(EvfilterRunEdgesTest, AFollowedFileIsReadAsItGrows) {
  const std::string log = File("app.jsonl", "{\"EventID\":1}\n");
  auto append = [](const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::app) << text << std::flush;
  };
  int in = -1, out = -1;
  const pid_t child =
      Start({"match", "--follow", "--where", "EventID > 0", log}, &in, &out);
  ASSERT_GT(child, 0);
  std::string got;
  EXPECT_TRUE(WaitFor(out, got, "{\"EventID\":1}\n")) << got;
  append(log, "{\"EventID\":");
  append(log, "2}\n");
  EXPECT_TRUE(WaitFor(out, got, "{\"EventID\":2}\n")) << got;
  fs::rename(log, log + ".1");
  append(log + ".1", "{\"EventID\":3}\n");
  append(log, "{\"EventID\":4}\n");
  EXPECT_TRUE(WaitFor(out, got, "{\"EventID\":4}\n")) << got;
  EXPECT_TRUE(Has(ErrOnceItHas("rotated"),
                  log + ": a new file under the name (rotated): read from "
                        "its start"))
      << Err();
  fs::resize_file(log, 0);
  ErrOnceItHas("truncated");
  append(log, "{\"EventID\":5}\n");
  EXPECT_TRUE(WaitFor(out, got, "{\"EventID\":5}\n")) << got;
  EXPECT_EQ(got,
            "{\"EventID\":1}\n{\"EventID\":2}\n{\"EventID\":3}\n"
            "{\"EventID\":4}\n{\"EventID\":5}\n");
  EXPECT_TRUE(Has(Err(), log + ": cut short (truncated): read from its "
                               "start"))
      << Err();
  ::kill(child, SIGTERM);
  EXPECT_EQ(Status(child), 128 + SIGTERM);
  ::close(in);
  ::close(out);

  // --count: the count so far, when the signal comes.
  const pid_t counting = Start(
      {"match", "--follow", "--count", "--where", "EventID > 0", log + ".1"},
      &in, &out);
  ASSERT_GT(counting, 0);
  got.clear();
  std::this_thread::sleep_for(std::chrono::milliseconds(1000));
  ::kill(counting, SIGTERM);
  EXPECT_EQ(Status(counting), 128 + SIGTERM);
  WaitFor(out, got, "\x01");
  EXPECT_EQ(got, "3\n") << Err();
  ::close(in);
  ::close(out);

  // What --follow cannot follow, said.
  File("app.evtx", std::string("ElfFile\0", 8) + std::string(4088, '\0'));
  File("app.log", std::string("ElfFile\0", 8) + std::string(4088, '\0'));
  const std::string gz = File("app.jsonl.gz", std::string("\x1f\x8b\x08", 3));
  const struct {
    std::string args, said;
  } kRefused[] = {
      {"match -f --where 'EventID > 0' " + log + " " + log,
       "--follow reads one named file as it grows; 2 input(s) given"},
      {"match -f --where 'EventID > 0' " + dir_.string(), "is a folder"},
      {"match -f --where 'EventID > 0' -",
       "standard input is read as it comes"},
      {"hunt -f --sort time --rules " + log + " " + log,
       "--sort time writes at the end, which a followed file never reaches"},
      {"match -f --where 'EventID > 0' " + (dir_ / "app.evtx").string(),
       "is a Windows event log: --follow reads text logs"},
      {"match -f --where 'EventID > 0' " + (dir_ / "app.log").string(),
       "is a Windows event log: --follow reads text logs"},
      {"match -f --where 'EventID > 0' " + gz,
       "is compressed: --follow reads text as it is appended"},
      {"match --every 1 --where 'EventID > 0' " + log,
       "--every writes the totals of --count or --count-by; give one"},
  };
  for (const auto& r : kRefused) {
    EXPECT_EQ(Shell("$E " + r.args + " < /dev/null > /dev/null"), 2) << r.args;
    EXPECT_TRUE(Has(Err(), r.said)) << r.args << ": " << Err();
  }
}

// --every writes the totals so far as they change: of a followed file at
// its end, and of a stream while it waits; the last ones come at the end.
TEST_F(EvfilterRunEdgesTest, RunningTotalsComeAsTheyChange) {
  const std::string log = File("app.jsonl", "{\"EventID\":1,\"u\":\"a\"}\n");
  int in = -1, out = -1;
  const pid_t counting = Start({"match", "-f", "--count", "--every", "0.05",
                                "--where", "EventID > 0", log},
                               &in, &out);
  ASSERT_GT(counting, 0);
  std::string got;
  EXPECT_TRUE(WaitFor(out, got, "1\n")) << got;
  std::ofstream(log, std::ios::app) << "{\"EventID\":0}\n{\"EventID\":2}\n"
                                    << std::flush;
  EXPECT_TRUE(WaitFor(out, got, "1\n2\n")) << got;
  ::kill(counting, SIGTERM);
  EXPECT_EQ(Status(counting), 128 + SIGTERM);
  WaitFor(out, got, "\x01");
  EXPECT_EQ(got, "1\n2\n2\n") << Err();
  ::close(in);
  ::close(out);

  // A table of counts ends with an empty line; the end's is as without
  // --every.
  const pid_t grouping = Start({"match", "--count-by", "u", "--every", "0.05",
                                "--where", "EventID > 0", "-"},
                               &in, &out);
  ASSERT_GT(grouping, 0);
  got.clear();
  auto write = [&](const std::string& line) {
    ASSERT_EQ(::write(in, line.data(), line.size()),
              static_cast<ssize_t>(line.size()));
  };
  write("{\"EventID\":1,\"u\":\"a\"}\n");
  const std::string first = "{\"u\":\"a\",\"count\":1}\n\n";
  EXPECT_TRUE(WaitFor(out, got, first)) << got;
  write("{\"EventID\":1,\"u\":\"b\"}\n");
  const std::string second =
      "{\"u\":\"a\",\"count\":1}\n{\"u\":\"b\",\"count\":1}\n";
  EXPECT_TRUE(WaitFor(out, got, first + second + "\n")) << got;
  ::close(in);
  EXPECT_EQ(Status(grouping), 0);
  WaitFor(out, got, "\x01");
  EXPECT_EQ(got, first + second + "\n" + second) << Err();
  ::close(out);

  // Totals of records decided on threads come as they change too.
  const pid_t threads = Start({"match", "-j", "2", "--count", "--every", "0.05",
                               "--where", "EventID > 0", "-"},
                              &in, &out);
  ASSERT_GT(threads, 0);
  got.clear();
  write("EventID,u\n1,a\n");
  EXPECT_TRUE(WaitFor(out, got, "1\n")) << got;
  write("2,b\n");
  EXPECT_TRUE(WaitFor(out, got, "1\n2\n")) << got;
  ::close(in);
  EXPECT_EQ(Status(threads), 0);
  WaitFor(out, got, "\x01");
  EXPECT_EQ(got, "1\n2\n2\n") << Err();
  ::close(out);

  // A run that fails after running totals prints no count, and says that
  // those printed were running totals.
  const pid_t failing = Start({"match", "--count", "--every", "0.05", "--where",
                               "EventID > 0", "-", (dir_ / "nosuch").string()},
                              &in, &out);
  ASSERT_GT(failing, 0);
  got.clear();
  write("{\"EventID\":1}\n");
  EXPECT_TRUE(WaitFor(out, got, "1\n")) << got;
  ::close(in);
  EXPECT_EQ(Status(failing), 2);
  WaitFor(out, got, "\x01");
  EXPECT_EQ(got, "1\n");
  EXPECT_TRUE(Has(Err(),
                  "1 matched (no count printed; those printed were "
                  "running totals)"))
      << Err();
  ::close(out);
}

}  // namespace
