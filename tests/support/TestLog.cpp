#include "TestLog.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <sys/stat.h>

namespace testlog {

std::string LogPath() {
  const char* folder = std::getenv("KVAL_LOG_FOLDER");
  if (folder == nullptr) {
    // The settings library's default, below the state folder the test main
    // chose.
    return std::string(std::getenv("XDG_STATE_HOME")) +
           "/filtermodule/Filter-Module.csv";
  }
  return std::string(folder) + "/Filter-Module.csv";
}

namespace {

uint64_t LogSize() {
  std::error_code error;
  const auto size = std::filesystem::file_size(LogPath(), error);
  return error ? 0 : static_cast<uint64_t>(size);
}

uint64_t FileId(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 ? static_cast<uint64_t>(st.st_ino) : 0;
}

// The newest rotated file: "Filter-Module.csv" becomes "Filter-Module.1.csv".
std::string RotatedPath() {
  std::string path = LogPath();
  return path.insert(path.size() - 4, ".1");
}

// The records of the file at `path` from byte `offset` on (a record
// boundary).
std::vector<Record> ReadFile(const std::string& path, uint64_t offset) {
  std::ifstream in(path, std::ios::binary);
  in.seekg(static_cast<std::streamoff>(offset));
  std::stringstream buffer;
  buffer << in.rdbuf();
  const std::string text = buffer.str();
  std::vector<Record> records;
  std::vector<std::string> fields;
  std::string field;
  bool quoted = false;
  bool header = true;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (quoted) {
      if (c == '"' && i + 1 < text.size() && text[i + 1] == '"') {
        field.push_back('"');
        ++i;
      } else if (c == '"') {
        quoted = false;
      } else {
        field.push_back(c);
      }
    } else if (c == '"') {
      quoted = true;
    } else if (c == ',') {
      fields.push_back(field);
      field.clear();
    } else if (c == '\n') {
      fields.push_back(field);
      field.clear();
      if (fields.size() == 5 && fields[0] == "Timestamp") {
        header = false;
      } else if (fields.size() == 5) {
        records.push_back(
            {fields[0], fields[1], fields[2], fields[3], fields[4]});
      }
      fields.clear();
    } else {
      field.push_back(c);
    }
  }
  (void)header;
  return records;
}

}  // namespace

std::vector<Record> ReadAll() { return ReadFile(LogPath(), 0); }

// The mark is the file's size: reading back after it costs what was
// written since, not the whole log of the test process.
LogMark::LogMark() : start_(LogSize()), file_(FileId(LogPath())) {}

std::vector<Record> LogMark::Records() const {
  if (FileId(LogPath()) == file_) return ReadFile(LogPath(), start_);
  // The log rotated since the mark: the rest of the old file, then the new.
  std::vector<Record> records = FileId(RotatedPath()) == file_
                                    ? ReadFile(RotatedPath(), start_)
                                    : std::vector<Record>{};
  for (Record& r : ReadFile(LogPath(), 0)) records.push_back(std::move(r));
  return records;
}

std::vector<std::string> LogMark::Messages() const {
  std::vector<std::string> messages;
  for (const Record& r : Records()) messages.push_back(r.message);
  return messages;
}

int LogMark::Count(const std::string& message) const {
  int n = 0;
  for (const Record& r : Records()) n += r.message == message;
  return n;
}

void UseFreshLogFolder() {
  // A test run may ask for a given folder and detail (see CMakeLists.txt).
  if (const char* folder = std::getenv("FM_TEST_LOG_FOLDER")) {
    setenv("KVAL_LOG_FOLDER", folder, 1);
  } else {
    std::string base = std::filesystem::temp_directory_path() / "fmtest.XXXXXX";
    if (char* made = mkdtemp(base.data())) {
      if (std::getenv("FM_TEST_DEFAULT_LOG_FOLDER") != nullptr) {
        unsetenv("KVAL_LOG_FOLDER");
        setenv("XDG_STATE_HOME", made, 1);
      } else {
        setenv("KVAL_LOG_FOLDER", made, 1);
      }
    }
  }
  const char* debug = std::getenv("FM_TEST_DEBUG_LOG");
  setenv("KVAL_DEBUG_LOG", debug != nullptr ? debug : "1", 1);
}

}  // namespace testlog
