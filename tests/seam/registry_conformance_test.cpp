// What the portable code relies on from the registry concern, checked
// against every implementation of it: the fake the unit tests use, and this
// build's real layer (the key store on Linux, the registry under Windows or
// Wine). The same cases on each show that the fake answers as the real
// layers do.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "support/fakes.h"
#include "platform/platform.h"
#include "support/seam.h"

namespace {

namespace err = platform::err;
namespace reg = platform::reg;

// Where the cases write: a key of their own, removed after each case.
const std::string kRoot = "Software\\SharemapperSeamTest";

struct FakeLayer {
  static constexpr const char* kName = "Fake";
  platform::Registry& registry() { return fake; }
  fakes::FakeRegistry fake;
};

struct RealLayer {
  static constexpr const char* kName = "Real";
  platform::Registry& registry() {
    seam::UseSandbox();
    return platform::registry();
  }
};

template <typename Layer>
class RegistryConformance : public ::testing::Test {
 protected:
  void TearDown() override { DeleteTree(kRoot); }

  platform::Registry& registry() { return layer_.registry(); }

  platform::KeyHandle Create(const std::string& path) {
    platform::KeyHandle key = 0;
    EXPECT_EQ(registry().CreateKey(path, reg::kKeyAllAccess, key), err::kSuccess) << path;
    return key;
  }

  platform::ErrorCode Open(const std::string& path) {
    platform::KeyHandle key = 0;
    const platform::ErrorCode code = registry().OpenKey(path, reg::kKeyRead, key);
    if (code == err::kSuccess) registry().CloseKey(key);
    return code;
  }

  std::vector<std::string> Subkeys(platform::KeyHandle key) {
    std::vector<std::string> names;
    for (std::uint32_t index = 0;; ++index) {
      char name[256];
      std::uint32_t size = sizeof name;
      const platform::ErrorCode code = registry().EnumKey(key, index, name, size);
      if (code != err::kSuccess) {
        EXPECT_EQ(code, err::kNoMoreItems);
        return names;
      }
      EXPECT_EQ(size, std::strlen(name));
      names.emplace_back(name, size);
    }
  }

  // Deletes a key tree the way the registry helpers do: deepest keys first,
  // always asking for the subkey at index 0.
  bool DeleteTree(const std::string& path) {
    if (registry().DeleteKey(path) == err::kSuccess) return true;
    platform::KeyHandle key = 0;
    const platform::ErrorCode opened = registry().OpenKey(path, reg::kKeyRead, key);
    if (opened != err::kSuccess) return opened == err::kFileNotFound;
    bool ok = true;
    char name[260];
    for (std::uint32_t size = sizeof name; ok && registry().EnumKey(key, 0, name, size) == err::kSuccess;
         size = sizeof name) {
      ok = DeleteTree(path + "\\" + std::string(name, size));
    }
    registry().CloseKey(key);
    return registry().DeleteKey(path) == err::kSuccess;
  }

  // Reads a text value as the registry helpers do: into a buffer of their
  // size, up to the first zero byte (Windows stores a terminator after the
  // bytes of a REG_SZ value, the key store does not).
  platform::ErrorCode Read(platform::KeyHandle key, const std::string& name, std::string& out) {
    std::vector<char> buffer(4096, '\0');
    std::uint32_t type = reg::kTypeNone;
    std::uint32_t size = static_cast<std::uint32_t>(buffer.size());
    const platform::ErrorCode status = registry().QueryValue(key, name, type, buffer.data(), size);
    if (status == err::kSuccess) {
      const std::string bytes(buffer.data(), size);
      out = bytes.substr(0, bytes.find('\0'));
    }
    return status;
  }

  Layer layer_;
};

using Layers = ::testing::Types<FakeLayer, RealLayer>;
TYPED_TEST_SUITE(RegistryConformance, Layers, seam::LayerNames);

TYPED_TEST(RegistryConformance, MissingKeyIsFileNotFound) {
  EXPECT_EQ(this->Open(kRoot + "\\absent"), err::kFileNotFound);
}

TYPED_TEST(RegistryConformance, CreateKeyMakesItsMissingParents) {
  this->registry().CloseKey(this->Create(kRoot + "\\a\\b"));
  EXPECT_EQ(this->Open(kRoot + "\\a"), err::kSuccess);
  EXPECT_EQ(this->Open(kRoot + "\\a\\b"), err::kSuccess);
}

TYPED_TEST(RegistryConformance, KeyAndValueNamesIgnoreCase) {
  const platform::KeyHandle key = this->Create(kRoot + "\\MixedCase");
  ASSERT_EQ(this->registry().SetValue(key, "Label", reg::kTypeSz, "Docs", 5), err::kSuccess);
  this->registry().CloseKey(key);
  platform::KeyHandle again = 0;
  ASSERT_EQ(this->registry().OpenKey(kRoot + "\\MIXEDCASE", reg::kKeyRead, again), err::kSuccess);
  char buffer[16] = {};
  std::uint32_t type = 0;
  std::uint32_t size = sizeof buffer;
  EXPECT_EQ(this->registry().QueryValue(again, "LABEL", type, buffer, size), err::kSuccess);
  EXPECT_STREQ(buffer, "Docs");
  this->registry().CloseKey(again);
}

// A value comes back with its type and the number of bytes stored; a buffer
// too small gets ERROR_MORE_DATA and the size it would need.
TYPED_TEST(RegistryConformance, QueryValueFollowsTheBufferSizeProtocol) {
  const platform::KeyHandle key = this->Create(kRoot);
  ASSERT_EQ(this->registry().SetValue(key, "_LabelFromReg", reg::kTypeSz, "Team\0", 5), err::kSuccess);
  char buffer[64];
  std::uint32_t type = 0;
  std::uint32_t size = sizeof buffer;
  ASSERT_EQ(this->registry().QueryValue(key, "_LabelFromReg", type, buffer, size), err::kSuccess);
  EXPECT_EQ(type, reg::kTypeSz);
  EXPECT_EQ(size, 5u);
  EXPECT_EQ(std::string(buffer, size), std::string("Team\0", 5));

  char small[2];
  size = sizeof small;
  EXPECT_EQ(this->registry().QueryValue(key, "_LabelFromReg", type, small, size), err::kMoreData);
  EXPECT_EQ(size, 5u);

  size = sizeof buffer;
  EXPECT_EQ(this->registry().QueryValue(key, "absent", type, buffer, size), err::kFileNotFound);
  this->registry().CloseKey(key);
}

// Subkeys come in the order of their names, whatever the case and the order
// they were made in; the index past the last gives ERROR_NO_MORE_ITEMS, and
// a name buffer too small ERROR_MORE_DATA.
TYPED_TEST(RegistryConformance, SubkeysEnumerateByName) {
  for (const char* name : {"c", "A", "b"}) this->registry().CloseKey(this->Create(kRoot + "\\" + name));
  const platform::KeyHandle key = this->Create(kRoot);
  EXPECT_EQ(this->Subkeys(key), (std::vector<std::string>{"A", "b", "c"}));
  char name[1];
  std::uint32_t size = sizeof name;
  EXPECT_EQ(this->registry().EnumKey(key, 0, name, size), err::kMoreData);
  this->registry().CloseKey(key);
}

TYPED_TEST(RegistryConformance, DeleteKeyRefusesAKeyWithSubkeys) {
  this->registry().CloseKey(this->Create(kRoot + "\\parent\\child"));
  EXPECT_EQ(this->registry().DeleteKey(kRoot + "\\parent"), err::kAccessDenied);
  EXPECT_EQ(this->Open(kRoot + "\\parent\\child"), err::kSuccess);
  EXPECT_EQ(this->registry().DeleteKey(kRoot + "\\parent\\child"), err::kSuccess);
  EXPECT_EQ(this->registry().DeleteKey(kRoot + "\\parent"), err::kSuccess);
  EXPECT_EQ(this->registry().DeleteKey(kRoot + "\\parent"), err::kFileNotFound);
}

// Once the subkey at index 0 is deleted, index 0 is the next one: a tree
// goes depth first that way.
TYPED_TEST(RegistryConformance, KeyTreeGoesDepthFirst) {
  for (const char* path : {"\\M\\##srv#pub#docs", "\\M\\##srv#pub", "\\M\\##srv#team\\deep"}) {
    this->registry().CloseKey(this->Create(kRoot + path));
  }
  EXPECT_NE(this->registry().DeleteKey(kRoot), err::kSuccess);
  EXPECT_TRUE(this->DeleteTree(kRoot));
  EXPECT_EQ(this->Open(kRoot), err::kFileNotFound);
  EXPECT_EQ(this->registry().DeleteKey(kRoot), err::kFileNotFound);
}

// A value is replaced in place, by a longer or a shorter one, and found
// again by a fresh open.
TYPED_TEST(RegistryConformance, SetValueReplacesInPlace) {
  const platform::KeyHandle key = this->Create(kRoot);
  std::string text;
  for (const std::string value : {"Docs", "Photos 2024", "Old"}) {
    EXPECT_EQ(this->registry().SetValue(key, "_LabelFromReg", reg::kTypeSz, value.data(),
                                        static_cast<std::uint32_t>(value.size())),
              err::kSuccess);
    EXPECT_EQ(this->Read(key, "_LabelFromReg", text), err::kSuccess);
    EXPECT_EQ(text, value);
  }
  EXPECT_EQ(this->Read(key, "_VkUserId", text), err::kFileNotFound);
  EXPECT_EQ(this->registry().CloseKey(key), err::kSuccess);
  platform::KeyHandle again = 0;
  ASSERT_EQ(this->registry().OpenKey(kRoot, reg::kKeyRead, again), err::kSuccess);
  EXPECT_EQ(this->Read(again, "_LabelFromReg", text), err::kSuccess);
  EXPECT_EQ(text, "Old");
  this->registry().CloseKey(again);
}

// In a group, writing or not, every call answers as it would alone, and
// what the calls wrote is there once it ends.
TYPED_TEST(RegistryConformance, CallsInAGroupAnswerAsAlone) {
  for (const bool write : {true, false}) {
    ASSERT_EQ(this->registry().BeginGroup(write), err::kSuccess);
    const platform::KeyHandle key = this->Create(kRoot + "\\Group");
    EXPECT_EQ(this->registry().SetValue(key, "_VkUserId", reg::kTypeSz, "1001", 4), err::kSuccess);
    std::string text;
    EXPECT_EQ(this->Read(key, "_VkUserId", text), err::kSuccess);
    EXPECT_EQ(text, "1001");
    EXPECT_EQ(this->Read(key, "_VkDiskSessionId", text), err::kFileNotFound);
    EXPECT_EQ(this->registry().DeleteKey(kRoot), err::kAccessDenied);
    EXPECT_EQ(this->registry().CloseKey(key), err::kSuccess);
    EXPECT_EQ(this->registry().EndGroup(), err::kSuccess);
    EXPECT_EQ(this->Open(kRoot + "\\Group"), err::kSuccess);
    EXPECT_TRUE(this->DeleteTree(kRoot));
  }
}

// The hive itself is never deleted, whatever path reaches the layer (the
// numbers differ: Windows answers 87, the key store 5).
TYPED_TEST(RegistryConformance, HiveIsNeverDeleted) {
  this->registry().CloseKey(this->Create(kRoot));
  EXPECT_NE(this->registry().DeleteKey(""), err::kSuccess);
  EXPECT_NE(this->registry().DeleteKey("\\"), err::kSuccess);
  EXPECT_EQ(this->Open("Software"), err::kSuccess);
}

}  // namespace
