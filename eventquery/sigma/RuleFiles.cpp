// Finding and reading rule files: files as named, folders recursively
// (.yml and .yaml, in path order).

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "sigma/SigmaRule.h"

namespace eventquery::sigma {
namespace {

namespace fs = std::filesystem;

void Unreadable(RuleLoad& load, const std::string& path,
                const std::string& why) {
  RejectedRule r;
  r.meta.file = path;
  r.reason = why;
  r.unreadable = true;
  load.rejected.push_back(std::move(r));
}

void Append(RuleLoad& into, RuleLoad&& from) {
  for (CompiledRule& r : from.loaded) into.loaded.push_back(std::move(r));
  for (RejectedRule& r : from.rejected) into.rejected.push_back(std::move(r));
  into.files += from.files;
}

void LoadFile(RuleLoad& load, const std::string& path,
              const CompileOptions& options) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  if (in) text << in.rdbuf();
  if (!in || in.bad()) {
    ++load.files;
    Unreadable(load, path, "cannot be read");
    return;
  }
  Append(load, CompileRules(text.str(), path, options));
}

bool IsRuleFile(const fs::path& p) {
  const std::string ext = p.extension().string();
  return ext == ".yml" || ext == ".yaml";
}

}  // namespace

RuleLoad LoadRules(const std::vector<std::string>& paths,
                   const CompileOptions& options) {
  RuleLoad load;
  for (const std::string& path : paths) {
    std::error_code ec;
    const fs::file_status status = fs::status(path, ec);
    if (ec || !fs::exists(status)) {
      ++load.files;
      Unreadable(load, path, "no such file or folder");
      continue;
    }
    if (!fs::is_directory(status)) {
      LoadFile(load, path, options);
      continue;
    }
    std::vector<std::string> files;
    fs::recursive_directory_iterator it(path, ec), end;
    for (; !ec && it != end; it.increment(ec)) {
      std::error_code kind;
      if (it->is_regular_file(kind) && IsRuleFile(it->path()))
        files.push_back(it->path().string());
    }
    if (ec) {
      ++load.files;
      Unreadable(load, path, "cannot be listed: " + ec.message());
    }
    std::sort(files.begin(), files.end());
    for (const std::string& f : files) LoadFile(load, f, options);
  }
  return load;
}

}  // namespace eventquery::sigma
