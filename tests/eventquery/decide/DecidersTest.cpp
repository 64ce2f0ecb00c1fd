// Batches keep their records whole, and the deciders decide every batch,
// on whatever thread, exactly as one matcher deciding record by record.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "decide/Batch.h"
#include "decide/Deciders.h"
#include "decide/ModuleLog.h"
#include "decide/RecordMatcher.h"
#include "records/RecordReader.h"

namespace eventquery {
namespace {

// EventID = 4625 AND NOT Size > 10
std::vector<ConditionLine> Lines() {
  return {{{.field = u"EventID",
            .op = kOpEquals,
            .value = u"4625",
            .type = kTypeNumeric}},
          {{.field = u"Size",
            .op = kOpGreater,
            .value = u"10",
            .type = kTypeNumeric,
            .negate = true}}};
}

// `n` matchers of Lines(), as deciders.
struct Matchers {
  explicit Matchers(size_t n) {
    ModuleLog::Setup(std::getenv("KVAL_LOG_FOLDER"), false);
    for (size_t i = 0; i < n; ++i) {
      matchers.push_back(std::make_unique<RecordMatcher>(Lines(), Zone::kUtc));
      adapters.push_back(std::make_unique<MatcherDecider>(*matchers.back()));
      each.push_back(adapters.back().get());
    }
  }
  std::vector<std::unique_ptr<RecordMatcher>> matchers;
  std::vector<std::unique_ptr<MatcherDecider>> adapters;
  std::vector<BatchDecider*> each;
};

// Reads `csv` whole into batches of `per_batch` records, unsplit.
std::vector<std::unique_ptr<Batch>> Batches(std::string csv, size_t per_batch) {
  std::FILE* file = fmemopen(csv.data(), csv.size(), "rb");
  auto reader = MakeRecordReader(*FormatNamed("csv"), file);
  std::vector<std::unique_ptr<Batch>> batches;
  Record record;
  while (reader->NextUnsplit(record)) {
    if (batches.empty() || batches.back()->size() == per_batch) {
      batches.push_back(std::make_unique<Batch>());
      batches.back()->columns = reader->columns();
      batches.back()->split_later = reader->SplitsLater();
    }
    batches.back()->Add(record);
  }
  std::fclose(file);
  return batches;
}

// Record i: EventID 4625 or 4624, Size i % 20, every 7th a quoted cell.
std::string Events(size_t n) {
  std::string csv = "EventID,Size,Note\n";
  for (size_t i = 0; i < n; ++i)
    csv += std::string(i % 3 == 0 ? "4624" : "4625") + "," +
           std::to_string(i % 20) + "," +
           (i % 7 == 0 ? "\"a, \"\"quoted\"\"\nnote\"" : "plain") + "\n";
  return csv;
}

bool Expected(size_t i) { return i % 3 != 0 && i % 20 <= 10; }

TEST(BatchTest, RecordsComeBackAsTheyWentIn) {
  Record in;
  in.raw = "a,\"b\nc\"";
  in.terminator = kCrLf;
  in.line = 7;
  in.cells = {std::string_view("a"), std::nullopt, std::string_view("")};
  in.keys = {2, 0};
  Batch batch;
  batch.Add(in);
  in.raw = "broken";
  in.problem = "not valid JSON";
  in.fatal = true;
  in.cells.clear();
  batch.Add(in);

  Record out;
  std::string scratch;
  batch.Get(0, out, scratch);
  EXPECT_EQ(out.raw, "a,\"b\nc\"");
  EXPECT_EQ(out.terminator, "\r\n");
  EXPECT_EQ(out.line, 7u);
  ASSERT_EQ(out.cells.size(), 3u);
  EXPECT_EQ(out.cells[0], "a");
  EXPECT_FALSE(out.cells[1].has_value());
  EXPECT_EQ(out.cells[2], "");
  EXPECT_EQ(out.keys, (std::vector<uint32_t>{2, 0}));
  EXPECT_TRUE(out.problem.empty());
  batch.Get(1, out, scratch);
  EXPECT_EQ(out.raw, "broken");
  EXPECT_EQ(out.problem, "not valid JSON");
  EXPECT_TRUE(out.fatal);
  EXPECT_TRUE(out.cells.empty());

  batch.Clear();
  EXPECT_TRUE(batch.empty());
}

TEST(BatchTest, UnsplitCsvRecordsAreSplitWhenAsked) {
  auto batches = Batches("a,b\n\"x, y\",\"z\"\"\"\n", 10);
  ASSERT_EQ(batches.size(), 1u);
  Record out;
  std::string scratch;
  batches[0]->Get(0, out, scratch, /*with_cells=*/false);
  EXPECT_TRUE(out.cells.empty());
  batches[0]->Get(0, out, scratch);
  ASSERT_EQ(out.cells.size(), 2u);
  EXPECT_EQ(out.cells[0], "x, y");
  EXPECT_EQ(out.cells[1], "z\"");
}

// Every batch decided by three threads and the reading thread comes out as
// one matcher decides the records in order.
TEST(DecidersTest, ThreadsDecideAsOneMatcherDoes) {
  const size_t n = 5000;
  auto batches = Batches(Events(n), 97);
  Matchers matchers(4);
  {
    Deciders deciders(matchers.each);
    for (auto& b : batches) deciders.Submit(b.get());
    for (auto& b : batches) deciders.Wait(b.get());
  }
  size_t i = 0;
  for (auto& b : batches)
    for (size_t k = 0; k < b->size(); ++k, ++i)
      ASSERT_EQ(b->decision(k).outcome,
                Expected(i) ? Outcome::kMatch : Outcome::kNoMatch)
          << "record " << i;
  EXPECT_EQ(i, n);
}

// With one matcher there are no threads: the reading thread decides each
// batch it waits for itself.
TEST(DecidersTest, TheReadingThreadAloneDecidesWhatItWaitsFor) {
  auto batches = Batches(Events(300), 50);
  Matchers matchers(1);
  Deciders deciders(matchers.each);
  for (auto& b : batches) deciders.Submit(b.get());
  deciders.Wait(batches.back().get());  // the others are decided on the way
  for (auto& b : batches) EXPECT_TRUE(b->decided);
  EXPECT_EQ(batches[0]->decision(1).outcome, Outcome::kMatch);
}

// The deciders stop without waiting for batches nobody waited for; those
// a thread took are decided whole.
TEST(DecidersTest, StoppingLeavesUnclaimedBatchesAlone) {
  auto batches = Batches(Events(2000), 10);
  Matchers matchers(2);
  {
    Deciders deciders(matchers.each);
    for (auto& b : batches) deciders.Submit(b.get());
    deciders.Wait(batches[0].get());
  }
  EXPECT_TRUE(batches[0]->decided);
  for (size_t i = 0; i < batches.size(); ++i) {
    if (!batches[i]->decided) continue;
    for (size_t k = 0; k < batches[i]->size(); ++k) {
      ASSERT_EQ(batches[i]->decision(k).outcome,
                Expected(10 * i + k) ? Outcome::kMatch : Outcome::kNoMatch);
    }
  }
}

}  // namespace
}  // namespace eventquery
