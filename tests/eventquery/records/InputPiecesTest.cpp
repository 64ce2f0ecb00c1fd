// Dividing a file at record boundaries: every piece read with the header
// gives the whole file's records, lines included, and only inputs that can
// be read by position are divided.

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdio>
#include <string>
#include <tuple>
#include <vector>

#include "ScratchFolder.h"
#include "records/InputPieces.h"
#include "records/Inputs.h"
#include "records/RecordReader.h"

namespace eventquery {
namespace {

class InputPiecesTest : public ScratchFolder {
 protected:
  // "line: raw" of every record of `input`, lines counted from `offset`.
  static std::vector<std::string> Records(Input& input, uint64_t offset = 0) {
    auto reader = MakeRecordReader(input);
    std::vector<std::string> out;
    Record r;
    while (reader->Next(r))
      out.push_back(std::to_string(r.line + offset) + ": " +
                    std::string(r.raw));
    return out;
  }

  static InputPieces Divide(Input& input, uint64_t bytes,
                            std::vector<std::string>* seen) {
    auto reader = MakeRecordReader(input);
    return DivideAtRecords(input, *reader, bytes, [&](const Record& r) {
      seen->push_back(std::to_string(r.line) + ": " + std::string(r.raw));
    });
  }
};

TEST_F(InputPiecesTest, PiecesReadAsTheWhole) {
  // A byte-order mark, PowerShell's type line, quoted line breaks, blank
  // lines and a last record without its break.
  std::string csv = "\xEF\xBB\xBF#TYPE x\n\"a\",\"b\"\n";
  for (int i = 0; i < 200; ++i)
    csv += std::to_string(i) + ",\"line\n" + std::to_string(i) + "\"\n" +
           (i % 50 == 0 ? "\n" : "");
  csv += "last,1";
  const std::string path = File("multi.csv", csv);
  for (const uint64_t bytes : {1u, 7u, 100u, 1000u, 100000u}) {
    std::vector<std::string> whole;
    Input input(path, Format::kCsv);
    const InputPieces pieces = Divide(input, bytes, &whole);
    ASSERT_TRUE(pieces.divided);
    EXPECT_EQ(pieces.header_line, 3u);
    EXPECT_EQ(pieces.pieces.front().begin, pieces.header_end);
    EXPECT_EQ(pieces.pieces.back().end, csv.size());
    std::vector<std::string> parts;
    for (size_t k = 0; k < pieces.pieces.size(); ++k) {
      const InputPiece& piece = pieces.pieces[k];
      if (k > 0) {
        EXPECT_EQ(piece.begin, pieces.pieces[k - 1].end);
      }
      Input part(path, Format::kCsv, pieces.header_end, piece);
      ASSERT_TRUE(part.ok()) << part.error();
      for (const std::string& r :
           Records(part, piece.first_line - pieces.header_line))
        parts.push_back(r);
    }
    EXPECT_EQ(parts, whole) << bytes;
    EXPECT_EQ(whole.size(), 201u);
    if (bytes == 100000u) {
      EXPECT_EQ(pieces.pieces.size(), 1u);
    }
    if (bytes == 1u) {
      EXPECT_EQ(pieces.pieces.size(), 201u);  // a piece a record
    }
  }
}

TEST_F(InputPiecesTest, JsonLinesAndTsvDivideAtLines) {
  // The file's byte-order mark is skipped; one at the start of a later
  // line is that record's content, also where a piece begins with it.
  std::string jsonl = "\xEF\xBB\xBF", tsv = "a\tb\n";
  for (int i = 0; i < 50; ++i) {
    jsonl += (i == 30 ? "\xEF\xBB\xBF{\"n\": " : "{\"n\": ") +
             std::to_string(i) + "}\n" + (i == 20 ? "oops\n" : "");
    tsv += std::to_string(i) + "\tx\\ty\n";
  }
  for (const auto& [name, text, format] :
       {std::tuple{"a.jsonl", jsonl, Format::kJsonLines},
        std::tuple{"b.jsonl", jsonl.substr(3), Format::kJsonLines},
        std::tuple{"a.tsv", tsv, Format::kTsv}}) {
    const std::string path = File(name, text);
    for (const uint64_t bytes : {1u, 40u}) {  // a piece a line, or more
      std::vector<std::string> whole;
      Input input(path, format);
      const InputPieces pieces = Divide(input, bytes, &whole);
      ASSERT_TRUE(pieces.divided);
      EXPECT_GE(pieces.pieces.size(), 8u);
      std::vector<std::string> parts;
      for (const InputPiece& piece : pieces.pieces) {
        Input part(path, format, pieces.header_end, piece);
        for (const std::string& r :
             Records(part, piece.first_line - pieces.header_line))
          parts.push_back(r);
      }
      EXPECT_EQ(parts, whole) << name << " in pieces of " << bytes;
      EXPECT_EQ(whole.front(),
                format == Format::kTsv ? "2: 0\tx\\ty" : "1: {\"n\": 0}");
    }
  }
}

TEST_F(InputPiecesTest, WhatCannotBeReadByPositionIsOnePiece) {
  const std::string array = File("a.json", "[{\"a\": 1},\n {\"a\": 2}]\n");
  std::vector<std::string> seen;
  Input input(array, std::nullopt);
  InputPieces pieces = Divide(input, 1, &seen);
  EXPECT_FALSE(pieces.divided);
  EXPECT_TRUE(pieces.pieces.empty());
  EXPECT_EQ(seen.size(), 2u);

  // A gzip file: its offsets are not those of the text.
  std::string gz(256, '\0');
  uLongf size = gz.size();
  const std::string text = "a\n1\n2\n";
  z_stream z{};
  deflateInit2(&z, 6, Z_DEFLATED, 16 + 15, 8, Z_DEFAULT_STRATEGY);
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
  z.avail_in = static_cast<uInt>(text.size());
  z.next_out = reinterpret_cast<Bytef*>(gz.data());
  z.avail_out = static_cast<uInt>(size);
  deflate(&z, Z_FINISH);
  gz.resize(z.total_out);
  deflateEnd(&z);
  const std::string compressed = File("a.csv.gz", gz);
  Input zipped(compressed, std::nullopt);
  seen.clear();
  pieces = Divide(zipped, 1, &seen);
  EXPECT_FALSE(pieces.divided);
  EXPECT_EQ(seen.size(), 2u);
  Input piece(compressed, Format::kCsv, 0, InputPiece{0, 4, 1});
  EXPECT_FALSE(piece.ok());
  EXPECT_EQ(piece.error(), "is compressed, so it cannot be read in pieces");
  Input pipe("/dev/null", Format::kCsv, 0, InputPiece{0, 4, 1});
  EXPECT_EQ(pipe.error(),
            "is not a regular file, so it cannot be read in pieces");
}

// A file cut shorter after it was divided: the piece fails to open or to
// read, it does not come out short.
TEST_F(InputPiecesTest, AFileThatShrankFailsToRead) {
  const std::string small = File("s.csv", "a\n1\n2\n3\n");
  Input opened(small, Format::kCsv, 2, InputPiece{2, 40, 2});
  EXPECT_FALSE(opened.ok());
  EXPECT_EQ(opened.error(), "the file is shorter than when it was divided");
  // Past what is read ahead when it opens, the read itself fails.
  const std::string large = File("l.csv", "a\n" + std::string(100000, '\n'));
  Input part(large, Format::kCsv, 2, InputPiece{2, 200000, 2});
  ASSERT_TRUE(part.ok());
  auto reader = MakeRecordReader(Format::kCsv, part.file());
  Record r;
  EXPECT_THROW(
      {
        while (reader->Next(r)) {
        }
      },
      InputError);
  EXPECT_EQ(part.stream_error(),
            "the file is shorter than when it was divided");
}

}  // namespace
}  // namespace eventquery
