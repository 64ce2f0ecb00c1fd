// The record scan that every front end reads through: what it hands the
// sink (ids, records), what it says (skipped lines, ragged rows, failures
// with how far reading went), and how a sink ends an input early.

#include "records/Scan.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <string>
#include <vector>

#include "ScratchFolder.h"
#include "records/Formats.h"

namespace eventquery {
namespace {

// Every call of the scan, as text.
class Recorder : public RecordSink, public ScanReports {
 public:
  bool Begin(const Input&, RecordReader&) override {
    said.push_back("begin");
    return true;
  }
  bool Take(const Record& record, uint64_t id) override {
    said.push_back("take " + std::to_string(id) + " line " +
                   std::to_string(record.line));
    return --left > 0;
  }
  void End(const RecordReader&, const ScanResult& result) override {
    said.push_back("end taken " + std::to_string(result.taken) +
                   (result.failed ? " failed" : "") +
                   (result.stopped ? " stopped" : ""));
  }
  void Note(const std::string& message) override {
    said.push_back("note " + message);
  }
  void Skipped(const char* kind, const std::string& message, bool lost_data,
               uint64_t) override {
    said.push_back(std::string(kind) + (lost_data ? " (lost) " : " ") +
                   message);
  }
  void Failed(const std::string& message) override {
    said.push_back("failed " + message);
  }
  std::vector<std::string> said;
  int left = 1000;  // records taken before the sink says stop
};

class ScanTest : public ScratchFolder {
 protected:
  std::vector<std::string> Scan(const std::string& path, Format format,
                                int left = 1000) {
    Input input(path, format);
    EXPECT_TRUE(input.ok()) << input.error();
    Recorder recorder;
    recorder.left = left;
    ScanInput(input, recorder, recorder);
    for (std::string& s : recorder.said) {
      // Places name the scratch folder.
      const size_t at = s.find(dir_.string() + "/");
      if (at != std::string::npos) s.erase(at, dir_.string().size() + 1);
    }
    return recorder.said;
  }
};

TEST_F(ScanTest, IdsCountReadableRecordsAndWhatIsSkippedIsSaid) {
  const std::string jsonl = File("a.jsonl", "{\"a\":1}\nnot json\n{\"a\":2}\n");
  EXPECT_EQ(Scan(jsonl, Format::kJsonLines),
            (std::vector<std::string>{
                "begin", "take 1 line 1",
                "unreadable line a.jsonl:2: not valid JSON (Problem while "
                "parsing an atom starting with the letter 'n'); line skipped",
                "take 2 line 3", "end taken 2"}));
  const std::string csv = File("b.csv", "x,y\nx,y\n1\n1,2,3\n\"open\n");
  EXPECT_EQ(Scan(csv, Format::kCsv),
            (std::vector<std::string>{
                "begin", "take 1 line 2",
                "ragged row b.csv:3: 1 cell(s) where the header has 2; read "
                "as far as it goes",
                "take 2 line 3",
                "ragged row b.csv:4: 3 cell(s) where the header has 2; read "
                "as far as it goes",
                "take 3 line 4",
                "failed b.csv:5: a quoted field opened on this line never "
                "closes; 1 line(s) from here to the end were not read",
                "end taken 3 failed"}));
  // Renamed duplicate columns are a note before the first record.
  const std::string dup = File("c.csv", "x,x\n1,2\n");
  EXPECT_EQ(Scan(dup, Format::kCsv),
            (std::vector<std::string>{
                "note c.csv: duplicate column names: 'x' renamed 'x_2'",
                "begin", "take 1 line 2", "end taken 1"}));
}

TEST_F(ScanTest, ASinkEndsTheInputAndAFailedReadSaysHowFarItWent) {
  const std::string jsonl =
      File("a.jsonl", "{\"a\":1}\n{\"a\":2}\n{\"a\":3}\n");
  EXPECT_EQ(Scan(jsonl, Format::kJsonLines, 2),
            (std::vector<std::string>{"begin", "take 1 line 1", "take 2 line 2",
                                      "end taken 2 stopped"}));
  // A gzip stream cut short fails after the records before the cut.
  std::string lines;
  for (int i = 0; i < 2000; ++i)
    lines += "{\"n\":" + std::to_string(i) + ",\"pad\":\"" +
             std::string(40, static_cast<char>('a' + i % 26)) + "\"}\n";
  const std::string path = (dir_ / "cut.jsonl.gz").string();
  gzFile gz = gzopen(path.c_str(), "wb");
  gzwrite(gz, lines.data(), static_cast<unsigned>(lines.size()));
  gzclose(gz);
  std::string whole = Read(path);
  File("cut.jsonl.gz", whole.substr(0, whole.size() / 2));
  const std::vector<std::string> said = Scan(path, Format::kJsonLines);
  ASSERT_GE(said.size(), 3u);
  EXPECT_EQ(said.back(),
            "end taken " + std::to_string(said.size() - 3) + " failed");
  const std::string& failed = said[said.size() - 2];
  EXPECT_EQ(failed.rfind("failed cut.jsonl.gz: ", 0), 0u) << failed;
  EXPECT_NE(failed.find("; reading stopped after " +
                        std::to_string(said.size() - 3) + " record(s)"),
            std::string::npos)
      << failed;
}

// The table is indexed by the enum: a row out of place would give one
// format another's traits.
TEST(FormatTableTest, RowsAreInTheEnumsOrderAndNamesGoBothWays) {
  size_t i = 0;
  for (const FormatTraits& f : AllFormats()) {
    EXPECT_EQ(static_cast<size_t>(f.format), i++) << f.name;
    EXPECT_EQ(&FormatTraitsOf(f.format), &f);
    EXPECT_EQ(FormatNamed(f.name), f.format);
    EXPECT_STREQ(FormatName(f.format), f.name);
    EXPECT_EQ(OutputFormatNamed(f.name).has_value(), f.writable);
    EXPECT_TRUE(FormatTraitsOf(f.output).writable) << f.name;
  }
}

}  // namespace
}  // namespace eventquery
