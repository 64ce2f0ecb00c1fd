// The EVTX reader on files the test writer makes: fields and paths, the
// faults a real log has (each reported where it is, the rest read), the
// order of a log that wraps round, pieces, and threads that give what one
// thread gives.

#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "EvtxWriter.h"
#include "ScratchFolder.h"
#include "records/InputPieces.h"
#include "records/Inputs.h"
#include "records/RecordReader.h"
#include "records/RecordReports.h"

#ifdef HAVE_LIBEVTX
#include <libevtx.h>
#endif

namespace eventquery {
namespace {

using evtxtest::Event;
using evtxtest::Writer;

Event Logon(uint64_t id, const std::string& user) {
  Event e;
  e.record_id = id;
  e.filetime = 133800000000000000ULL + id * 10000000ULL;
  e.user_sid = "S-1-5-18";
  e.data = {{"TargetUserName", user},
            {"LogonType", "3"},
            {"ProcessId", "0x5a8"},
            {"", "first unnamed"},
            {"", "second unnamed"}};
  return e;
}

// What a reader gave: its events' cells by column name, and the places
// and problems of what it skipped.
struct Got {
  std::vector<std::map<std::string, std::string>> events;
  std::vector<std::string> json;
  std::vector<uint64_t> ids;          // the records' ids (Record::line)
  std::vector<std::string> problems;  // "place: problem"
  std::vector<std::string> notes;
  std::vector<std::string> columns;
};

Got ReadAll(RecordReader& reader) {
  Got r;
  Record record;
  while (reader.Next(record)) {
    if (!record.problem.empty()) {
      r.problems.push_back(SkippedLine(PlaceOf("f", record), record));
      continue;
    }
    std::map<std::string, std::string> cells;
    for (size_t c = 0; c < record.cells.size(); ++c)
      if (record.cells[c])
        cells[reader.columns()[c]] = std::string(*record.cells[c]);
    r.events.push_back(std::move(cells));
    r.json.emplace_back(record.raw);
    r.ids.push_back(record.line);
  }
  r.notes = reader.input_notes();
  r.columns = reader.columns();
  return r;
}

class EvtxReaderTest : public ScratchFolder {
 protected:
  Got ReadFile(const std::string& bytes, unsigned threads = 1,
               const std::vector<std::string>& wanted = {}) {
    const std::string path = File("log.evtx", bytes);
    Input input(path, std::nullopt);
    EXPECT_TRUE(input.ok()) << input.error();
    EXPECT_EQ(input.format(), Format::kEvtx);
    auto reader = MakeRecordReader(input);
    reader->WantFields(wanted);
    reader->UseThreads(threads);
    return ReadAll(*reader);
  }

  // The InputError that reading `bytes` as `name` gives.
  std::string FailureOf(const std::string& name, const std::string& bytes) {
    const std::string path = File(name, bytes);
    Input input(path, std::nullopt);
    if (!input.ok()) return "open: " + input.error();
    try {
      auto reader = MakeRecordReader(input);
      ReadAll(*reader);
    } catch (const InputError& e) {
      return e.what();
    }
    return "";
  }

  static std::string ManyChunks(size_t events, Writer* out = nullptr) {
    Writer w;
    for (size_t i = 1; i <= events; ++i)
      w.Add(Logon(i, "user" + std::to_string(i)));
    if (out != nullptr) *out = w;
    return w.Bytes();
  }
};

TEST_F(EvtxReaderTest, FieldsPathsAndNames) {
  Writer w;
  Event e = Logon(7, "admin");
  e.qualifiers = 16384;
  w.Add(e);
  Event cleared;
  cleared.record_id = 8;
  cleared.event_id = 1102;
  cleared.user_data_element = "LogFileCleared";
  cleared.user_data = {{"SubjectUserName", "bob"},
                       {"SubjectDomainName", "CORP"}};
  w.Add(cleared);
  const Got r = ReadFile(
      w.Bytes(), 1,
      {"Event.System.Execution.ProcessID", "event.eventdata.targetusername",
       "Event.UserData.LogFileCleared.SubjectUserName",
       "Event.System.Provider.Name"});
  ASSERT_EQ(r.events.size(), 2u);
  ASSERT_TRUE(r.problems.empty()) << r.problems[0];
  auto& a = r.events[0];
  EXPECT_EQ(a.at("EventID"), "4624");  // the qualifiers are not part of it
  EXPECT_EQ(a.at("EventRecordID"), "7");
  EXPECT_EQ(a.at("Keywords"), "0x8020000000000000");
  EXPECT_EQ(a.at("Provider_Name"), "Microsoft-Windows-Security-Auditing");
  EXPECT_EQ(a.at("Provider_Guid"), "{54849625-5478-4994-A5BA-3E3B0328C30D}");
  EXPECT_EQ(a.at("TimeCreated"), "2024-12-30T02:40:07.0000000Z");
  EXPECT_EQ(a.at("ThreadID"), "2240");
  EXPECT_EQ(a.at("UserID"), "S-1-5-18");
  EXPECT_EQ(a.at("Channel"), "Security");
  EXPECT_EQ(a.at("TargetUserName"), "admin");
  EXPECT_EQ(a.at("Data"), "first unnamed");
  EXPECT_EQ(a.at("Data_2"), "second unnamed");
  // EventData's ProcessId takes the short name; System's keeps its path.
  // (The column goes by the spelling seen first.)
  EXPECT_EQ(a.at("ProcessId"), "0x5a8");
  EXPECT_EQ(a.at("Event.System.Execution.ProcessID"), "612");
  EXPECT_EQ(a.at("event.eventdata.targetusername"), "admin");
  EXPECT_EQ(a.at("Event.System.Provider.Name"),
            "Microsoft-Windows-Security-Auditing");
  EXPECT_NE(r.json[0].find("\"Event.System.Execution.ProcessID\":612"),
            std::string::npos)
      << r.json[0];
  EXPECT_EQ(r.json[0].rfind("{\"EventID\":4624,", 0), 0u) << r.json[0];
  auto& b = r.events[1];
  EXPECT_EQ(b.at("SubjectUserName"), "bob");
  EXPECT_EQ(b.at("Event.UserData.LogFileCleared.SubjectUserName"), "bob");
  EXPECT_EQ(b.at("ProcessId"), "612");  // nothing takes it here
  EXPECT_EQ(b.count("TargetUserName"), 0u);
  // One column for the names that differ only in case.
  int process = 0;
  for (const std::string& c : r.columns)
    process += c == "ProcessId" || c == "ProcessID";
  EXPECT_EQ(process, 1);
}

TEST_F(EvtxReaderTest, UnicodeLongAndEmptyValues) {
  Writer w;
  Event e = Logon(1, "J\xC3\xBCrgen \xE6\x97\xA5\xE6\x9C\xAC \xF0\x9F\x98\x80");
  const std::string long_value(20000, 'x');
  e.data.emplace_back("Long", long_value + "\xE2\x82\xAC");
  e.data.emplace_back("Empty", "");
  e.data.emplace_back("Absent", std::nullopt);
  e.data.emplace_back("Quote", "a\"b\\c\n<&>");
  // An unpaired surrogate (written from its three-byte form).
  e.data.emplace_back("Lone",
                      "a\xED\xA0\x80"
                      "b");
  w.Add(e);
  const Got r = ReadFile(w.Bytes());
  ASSERT_EQ(r.events.size(), 1u);
  auto& a = r.events[0];
  // A character beyond the BMP (a surrogate pair) survives whole.
  EXPECT_EQ(a.at("TargetUserName"),
            "J\xC3\xBCrgen \xE6\x97\xA5\xE6\x9C\xAC \xF0\x9F\x98\x80");
  EXPECT_EQ(a.at("Long"), long_value + "\xE2\x82\xAC");
  EXPECT_EQ(a.at("Empty"), "");
  EXPECT_EQ(a.count("Absent"), 0u);  // an optional value left out
  EXPECT_EQ(a.at("Quote"), "a\"b\\c\n<&>");
  // Kept as its own bytes, which are no UTF-8: what reads it can say so.
  EXPECT_EQ(a.at("Lone"),
            "a\xED\xA0\x80"
            "b");
  EXPECT_NE(r.json[0].find(R"("Quote":"a\"b\\c\n<&>")"), std::string::npos);
}

// A Data whose value is a string array (MSSQL's 18456, MsiInstaller's
// 1040) is one Data field per string, as Windows shows it; a record's id is
// its EventRecordID, also in an exported log whose record headers count
// from 1.
TEST_F(EvtxReaderTest, StringArraysAreOneDataEachAndIdsAreEventRecordIds) {
  Writer w;
  Event login;
  login.record_id = 8069;
  login.header_id = 1;
  login.provider = "MSSQLSERVER";
  login.event_id = 18456;
  login.channel = "Application";
  login.data_array = {"sa", "Reason: Password did not match",
                      "[CLIENT: 10.0.2.17]"};
  w.Add(login);
  Event mixed = Logon(8070, "bob");
  mixed.header_id = 2;
  mixed.data_array = {"3392", "", "2"};
  w.Add(mixed);
  Event single;
  single.record_id = 8071;
  single.header_id = 3;
  single.data_array = {"only"};
  w.Add(single);
  const Got r = ReadFile(w.Bytes());
  ASSERT_TRUE(r.problems.empty()) << r.problems[0];
  ASSERT_EQ(r.events.size(), 3u);
  EXPECT_EQ(r.events[0].at("Data"), "sa");
  EXPECT_EQ(r.events[0].at("Data_2"), "Reason: Password did not match");
  EXPECT_EQ(r.events[0].at("Data_3"), "[CLIENT: 10.0.2.17]");
  EXPECT_EQ(r.events[0].count("Data_4"), 0u);
  EXPECT_NE(r.json[0].find(R"("Data":"sa","Data_2":"Reason)"),
            std::string::npos)
      << r.json[0];
  // After two unnamed Data of its own: the array's items number on.
  EXPECT_EQ(r.events[1].at("Data"), "first unnamed");
  EXPECT_EQ(r.events[1].at("Data_3"), "3392");
  EXPECT_EQ(r.events[1].at("Data_4"), "");
  EXPECT_EQ(r.events[1].at("Data_5"), "2");
  EXPECT_EQ(r.events[2].at("Data"), "only");
  EXPECT_EQ(r.ids, (std::vector<uint64_t>{8069, 8070, 8071}));
  EXPECT_EQ(r.events[0].at("EventRecordID"), "8069");
}

TEST_F(EvtxReaderTest, ManyChunksSharedTemplatesInOrder) {
  Writer w;
  const std::string bytes = ManyChunks(3000, &w);
  ASSERT_GE(w.chunks(), 5u);
  const Got r = ReadFile(bytes);
  ASSERT_EQ(r.events.size(), 3000u);
  EXPECT_TRUE(r.problems.empty());
  EXPECT_TRUE(r.notes.empty());
  for (size_t i = 0; i < r.events.size(); ++i)
    ASSERT_EQ(r.events[i].at("TargetUserName"), "user" + std::to_string(i + 1));
  // Threads decode chunks ahead and give the same records in order.
  const Got threaded = ReadFile(bytes, 3);
  EXPECT_EQ(threaded.json, r.json);
}

TEST_F(EvtxReaderTest, BadChecksumsSkipTheirChunkOnly) {
  std::string bytes = ManyChunks(3000);
  evtxtest::CorruptChunkRecords(bytes, 1);
  evtxtest::CorruptChunkHeader(bytes, 3);
  for (unsigned threads : {1u, 2u}) {
    const Got r = ReadFile(bytes, threads);
    ASSERT_EQ(r.problems.size(), 2u);
    EXPECT_NE(r.problems[0].find("f: chunk 1"), std::string::npos);
    EXPECT_NE(r.problems[0].find("checksum does not match"), std::string::npos);
    EXPECT_NE(r.problems[0].find("record(s) skipped, EventRecordIDs "),
              std::string::npos)
        << r.problems[0];
    EXPECT_NE(r.problems[1].find("f: chunk 3: the chunk header's checksum"),
              std::string::npos)
        << r.problems[1];
    EXPECT_GT(r.events.size(), 2000u);
    EXPECT_LT(r.events.size(), 3000u);
    EXPECT_EQ(r.events.front().at("EventRecordID"), "1");
    EXPECT_EQ(r.events.back().at("EventRecordID"), "3000");
  }
}

TEST_F(EvtxReaderTest, UnparsableRecordSkippedWithItsId) {
  Writer w;
  for (uint64_t i = 1; i <= 5; ++i) w.Add(Logon(i, "u" + std::to_string(i)));
  std::string bytes = w.Bytes();
  evtxtest::BreakRecord(bytes, 0, 2);  // record 3
  const Got r = ReadFile(bytes);
  ASSERT_EQ(r.problems.size(), 1u);
  EXPECT_EQ(r.problems[0].rfind("f: chunk 0, record 3: ", 0), 0u)
      << r.problems[0];
  EXPECT_NE(r.problems[0].find("record skipped"), std::string::npos);
  ASSERT_EQ(r.events.size(), 4u);
  EXPECT_EQ(r.events[2].at("TargetUserName"), "u4");
}

TEST_F(EvtxReaderTest, DirtyFileReadToItsLastValidRecord) {
  Writer w;
  const std::string clean = ManyChunks(1200, &w);
  std::string bytes = clean;
  // The headers were last written when the file had one chunk, and the
  // last chunk three records.
  evtxtest::SetHeaderChunkCount(bytes, 1);
  evtxtest::RewindChunkHeader(bytes, w.chunks() - 1, 3);
  std::string dirty = bytes;
  evtxtest::SetDirty(dirty, true);
  const Got r = ReadFile(dirty);
  ASSERT_EQ(r.notes.size(), 1u);
  EXPECT_NE(r.notes[0].find("not closed cleanly"), std::string::npos);
  EXPECT_NE(r.notes[0].find("not trusted"), std::string::npos);
  EXPECT_TRUE(r.problems.empty()) << r.problems[0];
  EXPECT_EQ(r.events.size(), 1200u);
  EXPECT_EQ(r.events.back().at("EventRecordID"), "1200");
  // The same file closed cleanly reads what the header counts, and says
  // what it left.
  const Got c = ReadFile(bytes);
  ASSERT_EQ(c.notes.size(), 1u);
  EXPECT_NE(c.notes[0].find(
                "chunk(s) after the 1 the file header counts were not read"),
            std::string::npos)
      << c.notes[0];
  EXPECT_LT(c.events.size(), 1200u);
}

TEST_F(EvtxReaderTest, HeaderThatFailsItsChecksumKeepsTheChunksChecked) {
  std::string bytes = ManyChunks(1200);
  evtxtest::CorruptChunkRecords(bytes, 1);
  bytes[100] ^= 1;  // the file header's checksum fails
  const Got r = ReadFile(bytes);
  ASSERT_EQ(r.notes.size(), 1u);
  EXPECT_NE(r.notes[0].find("file header's checksum does not match"),
            std::string::npos);
  ASSERT_EQ(r.problems.size(), 1u);
  EXPECT_NE(r.problems[0].find("chunk 1: the records' checksum does not match"),
            std::string::npos)
      << r.problems[0];
}

TEST_F(EvtxReaderTest, DirtyFileSaysWhatItsChunkHeaderCountsButCannotRead) {
  Writer w;
  for (uint64_t i = 1; i <= 5; ++i) w.Add(Logon(i, "u" + std::to_string(i)));
  std::string bytes = w.Bytes();
  // The third record's size copy is damaged, well inside what the chunk's
  // header counts.
  size_t at = evtxtest::ChunkOffset(0) + evtxtest::kChunkHeaderSize;
  for (int i = 0; i < 2; ++i)
    at += static_cast<uint8_t>(bytes[at + 4]) |
          static_cast<uint8_t>(bytes[at + 5]) << 8;
  const size_t size = static_cast<uint8_t>(bytes[at + 4]) |
                      static_cast<uint8_t>(bytes[at + 5]) << 8;
  bytes[at + size - 4] ^= 1;
  evtxtest::SetDirty(bytes, true);
  const Got r = ReadFile(bytes);
  // The records after it are found by their signature and read.
  EXPECT_EQ(r.events.size(), 4u);
  ASSERT_EQ(r.problems.size(), 1u);
  EXPECT_NE(r.problems[0].find("f: chunk 0: bytes "), std::string::npos)
      << r.problems[0];
  EXPECT_NE(r.problems[0].find("hold no readable record; read on after them; "
                               "1 record(s) skipped, EventRecordID 3"),
            std::string::npos)
      << r.problems[0];
}

TEST_F(EvtxReaderTest, CutShortFileSaysWhatIsMissing) {
  const std::string bytes = ManyChunks(1200);
  // Cut inside chunk 1: it is reported, and so are the chunks after it.
  const Got r = ReadFile(bytes.substr(0, evtxtest::ChunkOffset(1) + 1000));
  ASSERT_GE(r.problems.size(), 1u);
  EXPECT_NE(r.problems[0].find("chunk 1: cut short at 1000 of its 65536 bytes"),
            std::string::npos)
      << r.problems[0];
  EXPECT_NE(r.problems.back().find("the file ends before it"),
            std::string::npos)
      << r.problems.back();
  EXPECT_GT(r.events.size(), 0u);
  // Its pieces end with its last whole chunk and read without a failure.
  const std::string path =
      File("cut.evtx", bytes.substr(0, evtxtest::ChunkOffset(2) + 1000));
  Input whole(path, std::nullopt);
  auto reader = MakeRecordReader(whole);
  size_t records = 0;
  const InputPieces pieces = DivideAtRecords(
      whole, *reader, 1,
      [&](const Record& rec) { records += rec.problem.empty(); });
  ASSERT_TRUE(pieces.divided);
  size_t in_pieces = 0;
  for (const InputPiece& p : pieces.pieces) {
    EXPECT_LE(p.end, evtxtest::ChunkOffset(2));
    Input piece(path, Format::kEvtx, pieces.header_end, p);
    auto pr = MakeRecordReader(piece);
    in_pieces += ReadAll(*pr).events.size();
  }
  EXPECT_EQ(in_pieces, records);
}

TEST_F(EvtxReaderTest, FilesThatAreNoEventLog) {
  EXPECT_EQ(FailureOf("empty.evtx", ""),
            "empty file (0 bytes), no EVTX file header");
  EXPECT_EQ(FailureOf("text.evtx", "EventID,User\n4624,bob\n"),
            "not an EVTX file (no \"ElfFile\" signature)");
  EXPECT_EQ(FailureOf("binary.evtx", std::string("\x7f"
                                                 "ELF\0\0\0\1",
                                                 8)),
            "not an EVTX file (no \"ElfFile\" signature)");
  const std::string bytes = ManyChunks(10);
  EXPECT_EQ(FailureOf("short.evtx", bytes.substr(0, 100)),
            "cut short: 100 of the 4096 bytes of the file header");
  // Told by its signature whatever its name.
  const std::string path = File("log.bin", bytes);
  Input input(path, std::nullopt);
  EXPECT_EQ(input.format(), Format::kEvtx);
}

TEST_F(EvtxReaderTest, WrappedLogReadFromItsOldestChunk) {
  Writer w;
  ManyChunks(1200, &w);
  std::string bytes = w.Bytes();
  const size_t n = w.chunks();
  ASSERT_GE(n, 3u);
  // Rotate the chunks so that the oldest is in slot 1, as a full log that
  // wrapped round keeps them.
  std::string rotated = bytes.substr(0, evtxtest::kFileHeaderSize);
  rotated += bytes.substr(evtxtest::ChunkOffset(n - 1), evtxtest::kChunkSize);
  rotated +=
      bytes.substr(evtxtest::ChunkOffset(0), (n - 1) * evtxtest::kChunkSize);
  rotated[8] = 1;                      // the first (oldest) chunk
  evtxtest::SetDirty(rotated, false);  // fixes the header's checksum
  const Got r = ReadFile(rotated);
  ASSERT_EQ(r.events.size(), 1200u);
  for (size_t i = 0; i < r.events.size(); ++i)
    ASSERT_EQ(r.events[i].at("EventRecordID"), std::to_string(i + 1));
}

TEST_F(EvtxReaderTest, PiecesAreWholeChunks) {
  Writer w;
  const std::string path = File("log.evtx", ManyChunks(3000, &w));
  Input whole(path, std::nullopt);
  auto reader = MakeRecordReader(whole);
  const InputPieces pieces = DivideAtRecords(
      whole, *reader, 2 * evtxtest::kChunkSize, [](const Record&) {});
  ASSERT_TRUE(pieces.divided);
  ASSERT_GE(pieces.pieces.size(), 2u);
  EXPECT_EQ(pieces.header_end, evtxtest::kFileHeaderSize);
  std::vector<std::string> ids;
  for (const InputPiece& p : pieces.pieces) {
    EXPECT_EQ((p.begin - evtxtest::kFileHeaderSize) % evtxtest::kChunkSize, 0u);
    Input piece(path, Format::kEvtx, pieces.header_end, p);
    ASSERT_TRUE(piece.ok()) << piece.error();
    auto r = MakeRecordReader(piece);
    const Got got = ReadAll(*r);
    EXPECT_TRUE(got.problems.empty());
    for (const auto& e : got.events) ids.push_back(e.at("EventRecordID"));
  }
  ASSERT_EQ(ids.size(), 3000u);
  for (size_t i = 0; i < ids.size(); ++i)
    ASSERT_EQ(ids[i], std::to_string(i + 1));
}

#ifdef HAVE_LIBEVTX
// The writer's files are valid to another reader: libevtx's.
TEST_F(EvtxReaderTest, LibevtxReadsWhatTheWriterWrites) {
  Writer w;
  ManyChunks(1500, &w);
  Event cleared;
  cleared.record_id = 1501;
  cleared.event_id = 1102;
  cleared.user_data_element = "LogFileCleared";
  cleared.user_data = {{"SubjectUserName", "bob"}};
  w.Add(cleared);
  const std::string path = File("log.evtx", w.Bytes());
  libevtx_file_t* file = nullptr;
  libevtx_error_t* error = nullptr;
  ASSERT_EQ(libevtx_file_initialize(&file, &error), 1);
  ASSERT_EQ(libevtx_file_open(file, path.c_str(), LIBEVTX_OPEN_READ, &error),
            1);
  int records = 0;
  ASSERT_EQ(libevtx_file_get_number_of_records(file, &records, &error), 1);
  EXPECT_EQ(records, 1501);
  EXPECT_EQ(libevtx_file_is_corrupted(file, &error), 0);
  for (int i : {0, 777, 1500}) {
    libevtx_record_t* record = nullptr;
    ASSERT_EQ(libevtx_file_get_record_by_index(file, i, &record, &error), 1);
    uint64_t id = 0;
    libevtx_record_get_identifier(record, &id, &error);
    EXPECT_EQ(id, static_cast<uint64_t>(i + 1));
    uint32_t event_id = 0;
    libevtx_record_get_event_identifier(record, &event_id, &error);
    EXPECT_EQ(event_id, i == 1500 ? 1102u : 4624u);
    size_t size = 0;
    ASSERT_EQ(libevtx_record_get_utf8_xml_string_size(record, &size, &error),
              1);
    std::string xml(size, '\0');
    ASSERT_EQ(libevtx_record_get_utf8_xml_string(
                  record, reinterpret_cast<uint8_t*>(xml.data()), size, &error),
              1);
    if (i == 1500) {
      EXPECT_NE(xml.find("<SubjectUserName>bob</SubjectUserName>"),
                std::string::npos)
          << xml;
    } else {
      EXPECT_NE(xml.find("<Data Name=\"TargetUserName\">user" +
                         std::to_string(i + 1) + "</Data>"),
                std::string::npos)
          << xml;
    }
    libevtx_record_free(&record, &error);
  }
  libevtx_file_close(file, &error);
  libevtx_file_free(&file, &error);
}

// libevtx shows a string array as one Data element per string, as the
// reader gives them.
TEST_F(EvtxReaderTest, LibevtxShowsAStringArrayAsOneDataEach) {
  Writer w;
  Event login;
  login.record_id = 4480;
  login.header_id = 1;
  login.data_array = {"sa", "[CLIENT: 10.0.2.17]"};
  w.Add(login);
  const std::string path = File("array.evtx", w.Bytes());
  libevtx_file_t* file = nullptr;
  libevtx_error_t* error = nullptr;
  ASSERT_EQ(libevtx_file_initialize(&file, &error), 1);
  ASSERT_EQ(libevtx_file_open(file, path.c_str(), LIBEVTX_OPEN_READ, &error),
            1);
  libevtx_record_t* record = nullptr;
  ASSERT_EQ(libevtx_file_get_record_by_index(file, 0, &record, &error), 1);
  uint64_t id = 0;
  libevtx_record_get_identifier(record, &id, &error);
  EXPECT_EQ(id, 1u);  // the header's; the XML keeps the EventRecordID
  size_t size = 0;
  ASSERT_EQ(libevtx_record_get_utf8_xml_string_size(record, &size, &error), 1);
  std::string xml(size, '\0');
  ASSERT_EQ(libevtx_record_get_utf8_xml_string(
                record, reinterpret_cast<uint8_t*>(xml.data()), size, &error),
            1);
  EXPECT_NE(xml.find("<Data>sa</Data>"), std::string::npos) << xml;
  EXPECT_NE(xml.find("<Data>[CLIENT: 10.0.2.17]</Data>"), std::string::npos)
      << xml;
  EXPECT_NE(xml.find("<EventRecordID>4480</EventRecordID>"), std::string::npos)
      << xml;
  libevtx_record_free(&record, &error);
  libevtx_file_close(file, &error);
  libevtx_file_free(&file, &error);
  const Got r = ReadFile(w.Bytes());
  ASSERT_EQ(r.events.size(), 1u);
  EXPECT_EQ(r.events[0].at("Data"), "sa");
  EXPECT_EQ(r.events[0].at("Data_2"), "[CLIENT: 10.0.2.17]");
}
#endif

}  // namespace
}  // namespace eventquery
