#include "records/InputPieces.h"

#include <algorithm>

namespace eventquery {

InputPieces DivideAtRecords(const Input& input, RecordReader& reader,
                            uint64_t piece_bytes,
                            const std::function<void(const Record&)>& each) {
  InputPieces out;
  // A reader's positions are the file's bytes only when nothing stands
  // between them: no decompression, no transcoding.
  out.divided = !input.compressed() && input.encoding() == Encoding::kUtf8 &&
                input.size() > 0 && input.format() != Format::kJsonArray &&
                reader.divisible();
  out.header_end = reader.position();
  out.header_line = reader.line();
  InputPiece piece{out.header_end, out.header_end, out.header_line};
  piece_bytes = std::max<uint64_t>(piece_bytes, 1);
  Record record;
  while (reader.Next(record)) {
    each(record);
    if (!out.divided || record.fatal) continue;
    const uint64_t at = reader.position();
    if (at - piece.begin >= piece_bytes) {
      piece.end = at;
      out.pieces.push_back(piece);
      piece = {at, at, reader.line()};
    }
  }
  if (!out.divided) {
    out.pieces.clear();
    return out;
  }
  // The rest, blank lines and a record that never ends included.
  piece.end = std::max(reader.position(), piece.begin);
  if (piece.end > piece.begin || out.pieces.empty())
    out.pieces.push_back(piece);
  return out;
}

}  // namespace eventquery
