// Names that reach the SMB library: what is accepted, what is refused before
// any traffic, and how URLs are encoded.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/posix/net_remote_name.h"

namespace {

using platform::ErrorCode;
using platform::posix::Account;
using platform::posix::RemoteName;
namespace err = platform::err;

TEST(RemoteNameTest, SplitsHostShareAndFolders) {
  RemoteName name;
  ASSERT_EQ(err::kSuccess, platform::posix::ParseRemoteName("\\\\srv\\pub\\docs\\2024", name));
  EXPECT_EQ("srv", name.host);
  EXPECT_EQ("pub", name.share);
  EXPECT_EQ((std::vector<std::string>{"docs", "2024"}), name.components);

  // Forward slashes, doubled and trailing separators and "." as Windows takes them.
  ASSERT_EQ(err::kSuccess, platform::posix::ParseRemoteName("//srv/pub//./docs/", name));
  EXPECT_EQ("pub", name.share);
  EXPECT_EQ((std::vector<std::string>{"docs"}), name.components);

  // Spaces, '$' and non-ASCII bytes are ordinary name characters.
  ASSERT_EQ(err::kSuccess, platform::posix::ParseRemoteName("\\\\file-01.corp_x\\home$\\Fr\xC3\xA9""d\\my docs", name));
  EXPECT_EQ("file-01.corp_x", name.host);
  EXPECT_EQ("home$", name.share);
  EXPECT_EQ((std::vector<std::string>{"Fr\xC3\xA9""d", "my docs"}), name.components);
}

TEST(RemoteNameTest, RefusesUnsafeOrMalformedNames) {
  struct Case {
    std::string name;
    ErrorCode expected;
  };
  const std::vector<Case> cases = {
      {"", err::kBadNetPath},
      {"srv\\pub", err::kBadNetPath},            // no leading "\\"
      {"\\\\\\pub", err::kBadNetPath},           // empty host
      {"\\\\srv:445\\pub", err::kBadNetPath},    // port syntax
      {"\\\\bob@srv\\pub", err::kBadNetPath},    // user info
      {"\\\\bob;x@srv\\pub", err::kBadNetPath},
      {"\\\\[::1]\\pub", err::kBadNetPath},
      {"\\\\s%72v\\pub", err::kBadNetPath},      // would be decoded by the library
      {"\\\\srv?x\\pub", err::kBadNetPath},
      {"\\\\..\\pub", err::kBadNetPath},
      {"\\\\srv", err::kBadNetName},             // no share
      {"\\\\srv\\", err::kBadNetName},
      {"\\\\srv\\..\\etc", err::kBadNetName},
      {"\\\\srv\\pub\\a\\..\\..\\b", err::kBadNetName},
      {"\\\\srv\\pub\\a\x01" "b", err::kBadNetName},
      {"\\\\srv\\pub\\a\nb", err::kBadNetName},
      {"\\\\srv\\pu?b", err::kBadNetName},
      {"\\\\srv\\pub\\x:y", err::kBadNetName},
  };
  for (const Case& c : cases) {
    RemoteName name;
    EXPECT_EQ(c.expected, platform::posix::ParseRemoteName(c.name, name)) << c.name;
  }
}

TEST(RemoteNameTest, LengthLimitIsTheMaxPathBuffer) {
  RemoteName name;
  const std::string prefix = "\\\\srv\\pub\\";
  const std::string longest = prefix + std::string(259 - prefix.size(), 'a');
  EXPECT_EQ(err::kSuccess, platform::posix::ParseRemoteName(longest, name));
  EXPECT_EQ(err::kFilenameExcedRange, platform::posix::ParseRemoteName(longest + "a", name));
}

TEST(RemoteNameTest, UrlSegmentsCannotChangeTheUrlsMeaning) {
  EXPECT_EQ("%24RECYCLE.BIN", platform::posix::EncodeUrlSegment("$RECYCLE.BIN"));
  EXPECT_EQ("a%20b%2Fc%3Fd%25e%40f%3Bg%23h%5C", platform::posix::EncodeUrlSegment("a b/c?d%e@f;g#h\\"));
  EXPECT_EQ("caf%C3%A9-_.~", platform::posix::EncodeUrlSegment("caf\xC3\xA9-_.~"));
  EXPECT_EQ("smb://10.0.0.5/home%24/my%20docs/x", platform::posix::BuildSmbUrl("10.0.0.5", "home$", {"my docs", "x"}));
}

TEST(RemoteNameTest, DrivePathsStayBelowTheDriveRoot) {
  char letter = 0;
  std::vector<std::string> parts;
  ErrorCode error = 0;
  ASSERT_TRUE(platform::posix::ParseDrivePath("e:\\$RECYCLE.BIN\\x", letter, parts, error));
  EXPECT_EQ('E', letter);
  EXPECT_EQ((std::vector<std::string>{"$RECYCLE.BIN", "x"}), parts);

  ASSERT_TRUE(platform::posix::ParseDrivePath("Z:/a/./b/../c/", letter, parts, error));
  EXPECT_EQ((std::vector<std::string>{"a", "c"}), parts);
  ASSERT_TRUE(platform::posix::ParseDrivePath("E:\\..\\..\\x", letter, parts, error));
  EXPECT_EQ((std::vector<std::string>{"x"}), parts);
  ASSERT_TRUE(platform::posix::ParseDrivePath("E:", letter, parts, error));
  EXPECT_TRUE(parts.empty());

  // Not drive paths: local files.
  EXPECT_FALSE(platform::posix::ParseDrivePath("E:foo", letter, parts, error));
  EXPECT_EQ(err::kSuccess, error);
  EXPECT_FALSE(platform::posix::ParseDrivePath("/tmp/E:\\x", letter, parts, error));
  EXPECT_FALSE(platform::posix::ParseDrivePath("1:\\x", letter, parts, error));

  // No wildcards, no control characters.
  EXPECT_FALSE(platform::posix::ParseDrivePath("E:\\a*\\b", letter, parts, error));
  EXPECT_EQ(err::kInvalidName, error);
  EXPECT_FALSE(platform::posix::ParseDrivePath("E:\\a\\*", letter, parts, error));
  EXPECT_EQ(err::kInvalidName, error);
  EXPECT_FALSE(platform::posix::ParseDrivePath("E:\\a\tb", letter, parts, error));
  EXPECT_EQ(err::kInvalidName, error);
}

TEST(RemoteNameTest, AccountsAndDriveLetters) {
  Account account;
  ASSERT_TRUE(platform::posix::ParseAccount("CORP\\bob", account));
  EXPECT_EQ("CORP", account.domain);
  EXPECT_EQ("bob", account.user);
  ASSERT_TRUE(platform::posix::ParseAccount("bob", account));
  EXPECT_EQ("", account.domain);
  EXPECT_EQ("bob", account.user);
  EXPECT_FALSE(platform::posix::ParseAccount("", account));
  EXPECT_FALSE(platform::posix::ParseAccount("CORP\\", account));
  EXPECT_FALSE(platform::posix::ParseAccount("a\\b\\c", account));
  EXPECT_FALSE(platform::posix::ParseAccount("bo\nb", account));

  EXPECT_EQ('E', platform::posix::DriveLetterOf("e:"));
  EXPECT_EQ('Z', platform::posix::DriveLetterOf("Z:"));
  EXPECT_EQ(0, platform::posix::DriveLetterOf("E"));
  EXPECT_EQ(0, platform::posix::DriveLetterOf("E:\\"));
  EXPECT_EQ(0, platform::posix::DriveLetterOf("1:"));
  EXPECT_EQ(0, platform::posix::DriveLetterOf("\xC3:"));
}

}  // namespace
