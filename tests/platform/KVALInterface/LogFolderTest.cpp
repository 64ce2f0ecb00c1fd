// The settings library's default log folder: private to the user, and
// refused when someone else prepared it.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "KVALInterface/GeneralSettings.h"
#include "PrivateFolder.h"
#include "common/Utf8.h"

namespace {

namespace fs = std::filesystem;

// A private folder standing in for the shared temporary folder.
fs::path FreshBase() {
  std::string base = fs::temp_directory_path() / "kvaltest.XXXXXX";
  return mkdtemp(base.data());
}

std::string FallbackIn(const fs::path& base) {
  return (base / ("filtermodule-" + std::to_string(::geteuid()))).string();
}

TEST(LogFolderTest, FallbackIsCreatedOpenToTheOwnerOnly) {
  const fs::path base = FreshBase();
  const std::string folder =
      kval::DefaultLogFolder(nullptr, nullptr, base.string(), ::geteuid());
  EXPECT_EQ(folder, FallbackIn(base));
  struct stat st {};
  ASSERT_EQ(::lstat(folder.c_str(), &st), 0);
  EXPECT_TRUE(S_ISDIR(st.st_mode));
  EXPECT_EQ(st.st_mode & 07777, 0700u);
  // A second process finds it and takes it.
  EXPECT_EQ(
      kval::DefaultLogFolder(nullptr, nullptr, base.string(), ::geteuid()),
      folder);
}

TEST(LogFolderTest, FallbackOpenToOthersIsRefused) {
  const fs::path base = FreshBase();
  const std::string folder = FallbackIn(base);
  ASSERT_EQ(::mkdir(folder.c_str(), 0700), 0);
  for (mode_t mode : {0777, 0755, 0750, 0701, 0710, 01777}) {
    ASSERT_EQ(::chmod(folder.c_str(), mode), 0);
    EXPECT_EQ(
        kval::DefaultLogFolder(nullptr, nullptr, base.string(), ::geteuid()),
        "")
        << std::oct << mode;
  }
  // Refused, not repaired: the mode is left as it was found.
  struct stat st {};
  ASSERT_EQ(::lstat(folder.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 01777u);
}

TEST(LogFolderTest, FallbackOwnedByAnotherUserIsRefused) {
  const fs::path base = FreshBase();
  const std::string folder = FallbackIn(base);
  ASSERT_EQ(::mkdir(folder.c_str(), 0700), 0);
  // As seen by another user: the folder is not theirs.
  EXPECT_FALSE(kval::EnsurePrivateFolder(folder, ::geteuid() + 1));
  if (::geteuid() != 0) GTEST_SKIP() << "chown to another user needs root";
  ASSERT_EQ(::chown(folder.c_str(), 65534, 65534), 0);
  EXPECT_EQ(
      kval::DefaultLogFolder(nullptr, nullptr, base.string(), ::geteuid()), "");
}

TEST(LogFolderTest, FallbackThatIsALinkOrAFileIsRefused) {
  const fs::path base = FreshBase();
  const std::string folder = FallbackIn(base);
  // A link to a folder that would pass every other check.
  const fs::path elsewhere = base / "elsewhere";
  ASSERT_EQ(::mkdir(elsewhere.c_str(), 0700), 0);
  fs::create_symlink(elsewhere, folder);
  EXPECT_EQ(
      kval::DefaultLogFolder(nullptr, nullptr, base.string(), ::geteuid()), "");
  fs::remove(folder);
  std::ofstream(folder) << "";
  ASSERT_EQ(::chmod(folder.c_str(), 0600), 0);
  EXPECT_EQ(
      kval::DefaultLogFolder(nullptr, nullptr, base.string(), ::geteuid()), "");
  // A base that cannot hold a folder gives none.
  EXPECT_EQ(kval::DefaultLogFolder(nullptr, nullptr, "/dev/null", ::geteuid()),
            "");
}

TEST(LogFolderTest, StateHomeThenHomeThenFallback) {
  const fs::path base = FreshBase();
  const uid_t uid = ::geteuid();
  EXPECT_EQ(kval::DefaultLogFolder("/x/state", "/home/u", base, uid),
            "/x/state/filtermodule");
  EXPECT_EQ(kval::DefaultLogFolder("", "/home/u", base, uid),
            "/home/u/.local/state/filtermodule");
  // Relative paths are ignored: they would name a folder in the host's
  // working directory.
  EXPECT_EQ(kval::DefaultLogFolder("state", "/home/u", base, uid),
            "/home/u/.local/state/filtermodule");
  EXPECT_EQ(kval::DefaultLogFolder(nullptr, "home", base, uid),
            FallbackIn(base));
  // Nothing is created in the user's home by the choice itself.
  EXPECT_FALSE(fs::exists("/x/state"));
}

// The settings library as the module sees it.
std::string FolderFromSettings() {
  IGeneralSettings* settings = CreateGeneralSettings();
  EXPECT_NE(settings, nullptr);
  const char16_t* folder = settings->GetLogFolder();
  std::string result = folder ? common::ToUtf8(folder) : "(null)";
  settings->Release();
  return result;
}

class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old, had_ = true;
    if (value)
      setenv(name, value, 1);
    else
      unsetenv(name);
  }
  ~ScopedEnv() {
    if (had_)
      setenv(name_, old_.c_str(), 1);
    else
      unsetenv(name_);
  }

 private:
  const char* name_;
  std::string old_;
  bool had_ = false;
};

TEST(LogFolderTest, SettingsGiveTheHostsFolderElseThePrivateDefault) {
  const fs::path base = FreshBase();
  ScopedEnv state("XDG_STATE_HOME", base.c_str());
  {
    ScopedEnv folder("KVAL_LOG_FOLDER", "/some/folder");
    EXPECT_EQ(FolderFromSettings(), "/some/folder");
  }
  {
    ScopedEnv folder("KVAL_LOG_FOLDER", "");
    EXPECT_EQ(FolderFromSettings(), (base / "filtermodule").string());
  }
  {
    ScopedEnv folder("KVAL_LOG_FOLDER", nullptr);
    ScopedEnv tmpdir("TMPDIR", base.c_str());  // no longer consulted
    EXPECT_EQ(FolderFromSettings(), (base / "filtermodule").string());
  }
}

}  // namespace
