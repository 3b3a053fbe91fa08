// The version resource of sharemapper.exe, read back the way Explorer's
// Details tab and installers read it.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "support/runner.h"

namespace {

class VersionResource : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string exe = testkit::BinaryName();
    DWORD ignored = 0;
    const DWORD size = ::GetFileVersionInfoSizeA(exe.c_str(), &ignored);
    ASSERT_NE(size, 0u) << exe << ": error " << ::GetLastError();
    data_.resize(size);
    ASSERT_TRUE(::GetFileVersionInfoA(exe.c_str(), 0, size, data_.data())) << ::GetLastError();
  }

  // A value of the U.S. English, Unicode string table, as the ANSI call gives it.
  std::string Text(const std::string& name) {
    const std::string path = "\\StringFileInfo\\040904B0\\" + name;
    void* value = nullptr;
    UINT length = 0;
    if (!::VerQueryValueA(data_.data(), path.c_str(), &value, &length) || value == nullptr) return "(absent)";
    return static_cast<const char*>(value);
  }

  std::vector<char> data_;
};

TEST_F(VersionResource, StringsNameTheProgramAndItsVersion) {
  const struct {
    const char* name;
    const char* expected;
  } cases[] = {
      {"FileVersion", SM_VERSION},         {"ProductVersion", SM_VERSION},
      {"ProductName", SM_PRODUCT_NAME},    {"FileDescription", SM_DESCRIPTION},
      {"OriginalFilename", "sharemapper.exe"},
  };
  for (const auto& c : cases) EXPECT_EQ(Text(c.name), c.expected) << c.name;
}

TEST_F(VersionResource, FixedPartCarriesTheSameNumbers) {
  void* value = nullptr;
  UINT length = 0;
  ASSERT_TRUE(::VerQueryValueA(data_.data(), "\\", &value, &length));
  ASSERT_EQ(length, sizeof(VS_FIXEDFILEINFO));
  const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(value);
  EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
  EXPECT_EQ(fixed->dwFileVersionMS, static_cast<DWORD>(MAKELONG(SM_VERSION_MINOR, SM_VERSION_MAJOR)));
  EXPECT_EQ(fixed->dwFileVersionLS, static_cast<DWORD>(MAKELONG(0, SM_VERSION_PATCH)));
  EXPECT_EQ(fixed->dwProductVersionMS, fixed->dwFileVersionMS);
  EXPECT_EQ(fixed->dwProductVersionLS, fixed->dwFileVersionLS);
  EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_APP));
}

}  // namespace
