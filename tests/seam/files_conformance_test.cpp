// What the portable code relies on from the files concern (the application
// log's folder, the recycle bin's walk), checked against the fake the unit
// tests use and this build's real layer on a local folder shaped like a
// recycle bin. The same calls on a drive over SMB are the Samba tests' part.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "platform/platform.h"
#include "support/fakes.h"
#include "support/runner.h"
#include "support/seam.h"

namespace {

namespace attr = platform::attr;
namespace err = platform::err;
namespace fs = std::filesystem;

// Each layer makes the tree itself, never through the layer under test.
struct FakeLayer {
  static constexpr const char* kName = "Fake";
  static constexpr char kSeparator = '\\';
  FakeLayer() { MakeDir(root); }
  platform::Files& files() { return fake; }
  void MakeDir(const std::string& path) {
    fake.AddDir(path);
    fake.nodes[path].fileId = ++lastId;
  }
  void MakeFile(const std::string& path, bool readOnly) {
    fake.AddFile(path, attr::kArchive | (readOnly ? attr::kReadOnly : 0));
    fake.nodes[path].fileId = ++lastId;
  }
  fakes::FakeFiles fake;
  std::uint64_t lastId = 0;
  const std::string root = "E:\\seam";
};

struct RealLayer {
  static constexpr const char* kName = "Real";
  static constexpr char kSeparator = testkit::TempDir::kSeparator;
  platform::Files& files() { return platform::files(); }
  void MakeDir(const std::string& path) { fs::create_directory(path); }
  void MakeFile(const std::string& path, bool readOnly) {
    testkit::WriteFile(path, "x");
    // On Windows the write bits are the read-only attribute.
    if (readOnly) {
      fs::permissions(path, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                      fs::perm_options::remove);
    }
  }
  testkit::TempDir dir{"seam-files"};
  const std::string root = dir.path();
};

template <typename Layer>
class FilesConformance : public ::testing::Test {
 protected:
  void SetUp() override {
    layer_.MakeDir(bin_);
    layer_.MakeDir(sub_);
    layer_.MakeFile(plain_, false);
    layer_.MakeFile(locked_, true);
  }

  static std::string In(const std::string& dir, const std::string& name) { return dir + Layer::kSeparator + name; }
  platform::Files& files() { return layer_.files(); }

  // Every entry of a folder's listing, name -> attributes, and the listing's result.
  std::map<std::string, std::uint32_t> List(const std::string& dir, platform::ErrorCode& result) {
    std::vector<platform::FileIdEntry> found;
    result = files().ListFileIds(dir, found);
    std::map<std::string, std::uint32_t> entries;
    for (const auto& entry : found) entries[entry.name] = entry.attributes;
    return entries;
  }

  Layer layer_;
  const std::string bin_ = In(layer_.root, "$RECYCLE.BIN");
  const std::string sub_ = In(bin_, "S-1-5-21");
  const std::string plain_ = In(bin_, ".keep");
  const std::string locked_ = In(bin_, "readonly.txt");
};

using Layers = ::testing::Types<FakeLayer, RealLayer>;
TYPED_TEST_SUITE(FilesConformance, Layers, seam::LayerNames);

// The walk tells folders by the directory bit and clears the read-only bit
// before a removal; one listing gives every entry.
TYPED_TEST(FilesConformance, ListingGivesEveryEntry) {
  platform::ErrorCode result = 1;
  std::map<std::string, std::uint32_t> kinds;
  for (const auto& entry : this->List(this->bin_, result)) {
    kinds[entry.first] = entry.second & (attr::kDirectory | attr::kReadOnly);
  }
  EXPECT_EQ(result, err::kSuccess);
  EXPECT_EQ(kinds, (std::map<std::string, std::uint32_t>{{".", attr::kDirectory},
                                                         {"..", attr::kDirectory},
                                                         {".keep", 0},
                                                         {"S-1-5-21", attr::kDirectory},
                                                         {"readonly.txt", attr::kReadOnly}}));
  EXPECT_EQ(this->List(this->sub_, result).size(), 2u);
  EXPECT_EQ(result, err::kSuccess);
}

// Windows opens the folder to list it and names a missing last component 2,
// Linux 3; the walk only needs the failure.
TYPED_TEST(FilesConformance, MissingFolderIsNotListed) {
  std::vector<platform::FileIdEntry> none{{}};
  const platform::ErrorCode code = this->files().ListFileIds(this->In(this->bin_, "absent"), none);
  EXPECT_TRUE(code == err::kFileNotFound || code == err::kPathNotFound) << code;
  EXPECT_TRUE(none.empty());
}

// The ids the walk compares: a folder's entry in its parent and its own "."
// carry one id, and its ".." carries the parent's.
TYPED_TEST(FilesConformance, FileIdsTieEveryFolderToItsParent) {
  platform::Files& files = this->files();
  std::vector<platform::FileIdEntry> top;
  ASSERT_EQ(files.ListFileIds(this->bin_, top), err::kSuccess);
  std::vector<platform::FileIdEntry> inner;
  ASSERT_EQ(files.ListFileIds(this->sub_, inner), err::kSuccess);
  auto id = [](const std::vector<platform::FileIdEntry>& in, const std::string& name) {
    for (const auto& e : in) {
      if (e.name == name) return e.fileId;
    }
    return std::uint64_t{0};
  };
  ASSERT_NE(id(top, "S-1-5-21"), 0u);
  EXPECT_EQ(id(inner, "."), id(top, "S-1-5-21"));
  EXPECT_EQ(id(inner, ".."), id(top, "."));
  EXPECT_NE(id(top, "readonly.txt"), id(top, ".keep"));
  for (const auto& e : top) EXPECT_EQ(e.reparseTag, 0u) << e.name;
}

TYPED_TEST(FilesConformance, AccessTellsWhetherAnEntryExists) {
  for (const std::string& path : {this->bin_, this->sub_, this->plain_, this->locked_}) {
    EXPECT_EQ(this->files().Access(path, 0), err::kSuccess) << path;
  }
  EXPECT_EQ(this->files().Access(this->In(this->bin_, "absent"), 0), err::kFileNotFound);
}

// What the application log does at start-up: test, create, test again.
// Only the last component is made (a missing parent is 3 on Windows, 2 on
// Linux: the log only needs to know it failed).
TYPED_TEST(FilesConformance, MakeDirectoryMakesOnlyTheLastComponent) {
  platform::Files& files = this->files();
  const std::string logDir = this->In(this->layer_.root, "Applog");
  EXPECT_EQ(files.Access(logDir, 0), err::kFileNotFound);
  EXPECT_EQ(files.MakeDirectory(logDir), err::kSuccess);
  EXPECT_EQ(files.Access(logDir, 0), err::kSuccess);
  EXPECT_EQ(files.MakeDirectory(logDir), err::kAlreadyExists);
  EXPECT_NE(files.MakeDirectory(this->In(this->In(this->layer_.root, "missing"), "Applog")), err::kSuccess);
}

// Files go with RemoveFile, folders with RemoveDir once empty; a dot name
// does not stop it.
TYPED_TEST(FilesConformance, RemovalsFollowTheWindowsRules) {
  platform::Files& files = this->files();
  const std::string inner = this->In(this->sub_, "$I123.txt");
  this->layer_.MakeFile(inner, false);
  EXPECT_EQ(files.RemoveFile(this->sub_), err::kAccessDenied);
  EXPECT_EQ(files.RemoveDir(this->sub_), err::kDirNotEmpty);
  EXPECT_EQ(files.RemoveFile(this->In(this->bin_, "absent")), err::kFileNotFound);
  EXPECT_EQ(files.SetAttributes(this->In(this->bin_, "absent"), attr::kNormal), err::kFileNotFound);

  EXPECT_EQ(files.SetAttributes(this->locked_, attr::kNormal), err::kSuccess);
  EXPECT_EQ(files.RemoveFile(this->locked_), err::kSuccess);
  EXPECT_EQ(files.Access(this->locked_, 0), err::kFileNotFound);
  EXPECT_EQ(files.RemoveFile(inner), err::kSuccess);
  EXPECT_EQ(files.RemoveDir(this->sub_), err::kSuccess);
  EXPECT_EQ(files.RemoveDir(this->bin_), err::kDirNotEmpty);  // .keep is still there
  EXPECT_EQ(files.RemoveFile(this->plain_), err::kSuccess);
  EXPECT_EQ(files.RemoveDir(this->bin_), err::kSuccess);
  EXPECT_EQ(files.Access(this->bin_, 0), err::kFileNotFound);
}

// Removals of one folder's entries from several threads at once, as the
// walk makes them where the layer carries more than one call at a time.
TYPED_TEST(FilesConformance, RemovalsFromSeveralThreadsAtOnce) {
  platform::Files& files = this->files();
  std::vector<std::string> paths;
  for (int i = 0; i < 16; ++i) {
    paths.push_back(this->In(this->sub_, "f" + std::to_string(i)));
    this->layer_.MakeFile(paths.back(), i % 4 == 0);
  }
  std::vector<platform::ErrorCode> results(paths.size(), 1);
  std::vector<std::thread> threads;
  for (unsigned t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (std::size_t i = t; i < paths.size(); i += 4) {
        if (i % 4 == 0) files.SetAttributes(paths[i], attr::kNormal);
        results[i] = files.RemoveFile(paths[i]);
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(results, std::vector<platform::ErrorCode>(paths.size(), err::kSuccess));
  EXPECT_EQ(files.RemoveDir(this->sub_), err::kSuccess);
  EXPECT_GE(files.Overlap(), 1u);
}

}  // namespace
