// Opening evfilter's inputs and telling their formats.
//
// An input is a file or "-" (standard input). A gzip stream (told by its
// magic bytes, whatever the name) is decompressed on the fly, member after
// member; the format then comes from the name without ".gz". The first
// bytes of the text are read ahead, to refuse what is not text (NUL bytes)
// and to tell the format when neither the option nor the extension does:
// after any byte-order mark, "[" starts a JSON array, "{" JSON Lines,
// anything else CSV. A ".json" file is told the same way. A Windows event
// log file is told by its signature ("ElfFile") or its name (".evtx"),
// and read as bytes: no text checks, no transcoding; it is read as a
// stream, in one pass, so standard input and gzip serve as well as a
// file.
//
// A read that fails later (a corrupt or truncated gzip stream) makes the
// stream's reads fail; `stream_error()` then says why.
//
// Thread safety: one thread per input.

#ifndef RECORDS_INPUTS_H_
#define RECORDS_INPUTS_H_

#include <sys/types.h>
#include <cstdint>

#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace eventquery {

enum class Format { kCsv, kTsv, kJsonLines, kJsonArray, kEvtx };

// The input format named on the command line ("csv", "tsv", "jsonl",
// "json" for a JSON array, "evtx" for a Windows event log file), or
// nothing.
std::optional<Format> FormatNamed(const std::string& name);
// The name of `format` ("csv", "tsv", "jsonl", "json", "evtx").
const char* FormatName(Format format);
// The output format named on the command line ("csv", "tsv", "jsonl").
std::optional<Format> OutputFormatNamed(const std::string& name);

// The encoding of an input's text. Latin-1 and Windows-1252 are read as
// UTF-8, byte for character; UTF-8 is read as it stands.
enum class Encoding { kUtf8, kLatin1, kCp1252 };
// The encoding named on the command line ("utf-8", "latin1", "cp1252" and
// their other usual names, in any case), or nothing.
std::optional<Encoding> EncodingNamed(const std::string& name);
inline constexpr char kEncodingNames[] = "utf-8, latin1, cp1252";

// The format records of `input` are written in by default: their own, but
// JSON Lines for the objects of a JSON array and the events of EVTX.
Format OutputFormatOf(Format input);

// The inputs `paths` name, with each folder replaced by the event files in
// it and below it: files named .csv, .tsv, .tab, .jsonl, .ndjson, .json,
// .evtx or .log (Zeek's), also with .gz, in the order of their paths
// (bytewise), so that every run reads them alike. Symbolic links to folders
// are not followed; a link to a file is read as that file. The other files
// of a folder are not read: `notes` gets one line per folder that had any,
// with their count and the first, and one per subfolder that cannot be
// listed or entry that cannot be looked at. Other paths stay as they are
// (one that is no folder fails when opened).
std::vector<std::string> ExpandFolders(const std::vector<std::string>& paths,
                                       std::vector<std::string>* notes);

// Reads up to `size` bytes of `file` into `buffer`, returning as soon as
// there are any: from a stream an Input opened, what its source has (a
// slow writer's record is not held back until a block fills); from any
// other, as fread reads. 0 at the end; -1 when the stream fails (an
// Input's stream_error() says why).
ssize_t ReadReady(std::FILE* file, char* buffer, size_t size);

// Has `hook` called whenever an input waits for its writer (a pipe or
// terminal with nothing to read: once the wait lasts 25 ms, or at once
// when none was told for 25 ms; a followed file at its end), and again
// while it waits (every 20 to 250 ms): a program flushes what it wrote
// then, so that a reader downstream sees each record within about 25 ms
// of its arrival, and may write what it writes on a clock (running
// totals). Output is so written in blocks as long as the input keeps up.
// The hook may be called from inside stdio (a Windows event log's reads):
// it must not throw. Null: none.
// Thread safety: the hook may be called from any thread reading an input.
void SetWhileWaiting(void (*hook)());

// Has `note` called with what a followed input saw: a new file under its
// name (rotation), the file cut short (truncation). Null: none. Thread
// safety: called from the thread reading the input.
void SetFollowNotes(void (*note)(const std::string& message));

// A piece of a regular file's records: the bytes [begin, end), whose first
// byte is on line `first_line` (see InputPieces.h).
struct InputPiece {
  uint64_t begin = 0;
  uint64_t end = 0;
  uint64_t first_line = 1;
};

// An open input; closes its stream when it ends.
class Input {
 public:
  // Opens `path` ("-": standard input). On failure `error()` says why, in
  // words for a person ("No such file or directory", "is a directory").
  // With `follow`, a regular file of text is read as it grows and never
  // ends (see SetFollowNotes); a stop ends it as "interrupted".
  Input(const std::string& path, std::optional<Format> format,
        Encoding encoding = Encoding::kUtf8, bool follow = false);
  // Opens the first `header_end` bytes of the regular, uncompressed file
  // `path` (its header row) followed by `piece`, as one stream: a reader
  // then reads the header and the piece's records. A compressed file or
  // one that is not regular is an error.
  Input(const std::string& path, Format format, uint64_t header_end,
        const InputPiece& piece, Encoding encoding = Encoding::kUtf8);
  ~Input();
  Input(const Input&) = delete;
  Input& operator=(const Input&) = delete;

  bool ok() const { return file_ != nullptr; }
  const std::string& error() const { return error_; }
  // The name to use in messages.
  const std::string& name() const { return name_; }
  std::FILE* file() const { return file_; }
  Format format() const { return format_; }
  // The size in bytes of a regular file; 0 when not known (a pipe).
  uint64_t size() const { return size_; }
  bool compressed() const { return compressed_; }
  Encoding encoding() const { return encoding_; }
  // False for a piece whose stream begins inside the file (no header
  // bytes before it): a byte-order mark there is no file's mark.
  bool at_file_start() const { return at_file_start_; }
  // True for a piece (the piece constructor); its first line (EVTX: the
  // number of its first chunk) is first_line().
  bool piece() const { return piece_; }
  uint64_t first_line() const { return first_line_; }
  // Why a read of file() failed, or "" (then errno's text applies).
  const std::string& stream_error() const { return *stream_error_; }

 private:
  // Opens `path` as the constructors say; `ranges` (or null for all of
  // it) are the byte ranges of a regular file to read, in order.
  void Open(const std::string& path, std::optional<Format> format,
            const std::vector<std::pair<uint64_t, uint64_t>>* ranges);

  bool follow_ = false;
  std::string name_;
  std::string error_;
  std::shared_ptr<std::string> stream_error_ = std::make_shared<std::string>();
  bool compressed_ = false;
  bool at_file_start_ = true;
  bool piece_ = false;
  uint64_t first_line_ = 1;
  Encoding encoding_ = Encoding::kUtf8;
  std::FILE* file_ = nullptr;
  Format format_ = Format::kCsv;
  uint64_t size_ = 0;
};

}  // namespace eventquery

#endif  // RECORDS_INPUTS_H_
