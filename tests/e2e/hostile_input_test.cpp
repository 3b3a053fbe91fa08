// Hostile input, running the real binary against the loopback Samba server:
// over-long, control, non-ASCII and path-like values in every text option,
// and locations spelled in every way. Each case must give one clear result
// and the documented exit status, and reach no server but the one named.
#include <gtest/gtest.h>

#include <Poco/JSON/Object.h>

#include <functional>
#include <string>
#include <vector>

#include "disk/mapping_record.h"
#include "platform/errors.h"
#include "samba/connect_trace.h"
#include "samba/samba_sandbox.h"
#include "support/envelope.h"
#include "support/golden.h"
#include "support/runner.h"

using smtest::AddValues;
using smtest::ExpectDocsOnE;
using smtest::AskedTheServerOnlyIf;
using smtest::NoNetworkAtAll;
using smtest::On;
using smtest::OnlyLoopbackServer;
using smtest::RunTraced;
using smtest::Traced;
using testkit::Envelope;
using testkit::Exists;
using testkit::FindDrive;
using testkit::IsUtf8;
using testkit::kFailureStatus;
using testkit::Letters;
using testkit::Listed;
using testkit::QueryList;
using VkSharemapper::kValueLabel;
using VkSharemapper::kValueUserId;
namespace err = platform::err;

// The suite runs in the end-to-end fixture: the server and a sandbox per test.
using Robustness = smtest::SambaSandbox;

TEST_F(Robustness, OverlongValues) {
  struct Case {
    const char* what;
    std::function<void(AddValues&)> change;
    unsigned long error;
    bool network;  // whether the server is asked at all
  };
  // "\\127.0.0.1\" is 12 characters: a location of 247 gives a remote name of
  // 259 characters, the longest there is.
  const std::vector<Case> cases = {
      {"host of 300", [](AddValues& v) { v.host = std::string(300, 'h'); }, err::kFilenameExcedRange, false},
      {"location of 300", [](AddValues& v) { v.location = "pub\\" + std::string(296, 'l'); },
       err::kFilenameExcedRange, false},
      {"remote name of 260", [](AddValues& v) { v.location = "pub\\" + std::string(244, 'l'); },
       err::kFilenameExcedRange, false},
      {"remote name of 259", [](AddValues& v) { v.location = "pub\\" + std::string(243, 'l'); },
       err::kBadNetName, true},
      {"share name of 247", [](AddValues& v) { v.location = std::string(247, 's'); }, err::kBadNetName, true},
      {"user of 300", [](AddValues& v) { v.user = std::string(300, 'u'); }, err::kInvalidParameter, false},
      {"password of 300", [](AddValues& v) { v.password = std::string(300, 'p'); }, err::kInvalidParameter, false},
      {"domain of 300", [](AddValues& v) { v.domain = std::string(300, 'd'); }, err::kInvalidParameter, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    AddValues values;
    c.change(values);
    const Traced add = RunTraced(*box_, values.Args());
    ExpectAddFailed(add.run, c.error);
    EXPECT_TRUE(AskedTheServerOnlyIf(add, c.network));
  }
  EXPECT_EQ(Letters(Query()), "");
  EXPECT_FALSE(Exists(StoreFile()));

  // Long label and identifiers: the record takes them; the query reads values
  // of up to 4096 bytes and lists the drive with the defaults beyond that.
  AddValues fits = On("e", "pub\\docs", std::string(4096, 'v'));
  fits.userid = std::string(4096, 'u');
  fits.dsid = std::string(4096, 'd');
  AddValues beyond = On("f", "team", std::string(5000, 'V'));
  beyond.userid = std::string(5000, 'U');
  beyond.dsid = std::string(5000, 'D');
  for (const AddValues* values : {&fits, &beyond}) {
    const testkit::Run add = Run(values->Args());
    EXPECT_EQ(add.out, golden::Envelope("add_success")) << values->drive;
    EXPECT_EQ(add.status, 0);
  }
  std::vector<Listed> drives = Query();
  ASSERT_EQ(Letters(drives), "EF");
  EXPECT_EQ(drives[0].volumename, fits.volume);
  EXPECT_EQ(drives[0].userid, fits.userid);
  EXPECT_EQ(drives[0].dsid, fits.dsid);
  EXPECT_EQ(drives[1].volumename, "team");
  EXPECT_EQ(drives[1].userid, "dummy");
  EXPECT_EQ(drives[1].dsid, "dummy");
  EXPECT_EQ(Read("##127.0.0.1#team", kValueUserId), "<none>");  // stored, but too long to read back
  const testkit::Run form = Run({});
  EXPECT_EQ(form.status, 0);
  EXPECT_EQ(testkit::Lines(form.out).size(), 4u);

  // A label too long to be read back is not one to delete by.
  const testkit::Run byVolume = Run({"--del", "--volume", beyond.volume});
  EXPECT_EQ(byVolume.out, golden::FormLine("delete_not_found"));
  EXPECT_TRUE(Deleted("e"));
  EXPECT_TRUE(Deleted("f"));
  EXPECT_EQ(Read("##127.0.0.1#pub#docs", kValueUserId), "<none>");

  // The same long value written into its option word: taken, or refused by the
  // command line parser, but either way one clear envelope.
  const testkit::Run oneWord = Run({"--add", "--domain=", "--user=" + fits.user, "--password=" + fits.password,
                                "--host=127.0.0.1", "--location=team", "--drive=g", "--volume=V",
                                "--userid=" + std::string(5000, 'U'), "--dsid=1", "--outformat=json"});
  Poco::JSON::Object::Ptr envelope;
  ASSERT_TRUE(Envelope(oneWord.out, envelope));
  const std::string message = envelope->getValue<std::string>("message");
  EXPECT_TRUE(message == "add success" || message.rfind("error parsing options: ", 0) == 0) << message;
  EXPECT_EQ(oneWord.status, envelope->getValue<bool>("success") ? 0 : kFailureStatus);
  if (oneWord.status == 0) {
    EXPECT_TRUE(Deleted("g"));
  }
  EXPECT_EQ(Letters(Query()), "");
}

TEST_F(Robustness, ControlAndHighBytesInEveryTextOption) {
  const std::vector<std::pair<const char*, std::string>> texts = {
      {"tab", "\t"},       {"line end", "\n"},          {"SOH", "\x01"},
      {"DEL", "\x7f"},     {"UTF-8 e acute", "\xC3\xA9"}, {"not UTF-8", "\xFF\xFE"},
  };
  using Field = std::string AddValues::*;
  const std::vector<std::pair<const char*, Field>> fields = {
      {"domain", &AddValues::domain},     {"user", &AddValues::user},     {"password", &AddValues::password},
      {"host", &AddValues::host},         {"location", &AddValues::location}, {"drive", &AddValues::drive},
      {"volume", &AddValues::volume},     {"userid", &AddValues::userid}, {"dsid", &AddValues::dsid},
  };
  for (const auto& field : fields) {
    for (const auto& text : texts) {
      SCOPED_TRACE(std::string(field.first) + " with " + text.first);
      AddValues values;
      std::string& value = values.*field.second;
      // The drive's first character decides; elsewhere the bytes sit inside.
      value = field.second == &AddValues::drive ? text.second + "e" : value + text.second + "x";
      const bool utf8 = IsUtf8(value);

      const Traced add = RunTraced(*box_, values.Args());
      Poco::JSON::Object::Ptr envelope;
      ASSERT_TRUE(Envelope(add.run.out, envelope));
      EXPECT_EQ(add.run.err, "");
      const bool success = envelope->getValue<bool>("success");
      EXPECT_EQ(add.run.status, success ? 0 : kFailureStatus);
      const std::string message = envelope->getValue<std::string>("message");
      if (field.second == &AddValues::drive) {
        EXPECT_EQ(message, "drive arg wrong");
      } else {
        EXPECT_EQ(message, success ? "add success" : golden::Message("add_failed"));
      }
      if (add.traced) {
        EXPECT_TRUE(OnlyLoopbackServer(add));
      }
      // Never a host or path that holds a control character or other bytes:
      // refused before anything reaches the network.
      const unsigned char first = static_cast<unsigned char>(text.second[0]);
      const bool control = first < 0x20 || first == 0x7F;
      if (field.second == &AddValues::host || field.second == &AddValues::drive ||
          (control && (field.second == &AddValues::location || field.second == &AddValues::user ||
                       field.second == &AddValues::domain))) {
        EXPECT_FALSE(success);
        if (add.traced) {
          EXPECT_TRUE(NoNetworkAtAll(add));
        }
      }
      // The label and the identifiers only ride along: the add works whatever
      // their bytes.
      if (field.second == &AddValues::volume || field.second == &AddValues::userid ||
          field.second == &AddValues::dsid) {
        EXPECT_TRUE(success) << box_->AppLog();
      }

      // The list holds the drive exactly when the add succeeded, as strict
      // UTF-8 whatever the bytes given: those that are not UTF-8 in this
      // locale become U+FFFD.
      std::vector<Listed> drives;
      const testkit::Run query = Run({"--outformat=json"});
      ASSERT_TRUE(QueryList(query, drives)) << query.out;
      if (!success) {
        EXPECT_EQ(Letters(drives), "");
        continue;
      }
      ASSERT_EQ(Letters(drives), "E");
      if (field.second == &AddValues::userid || field.second == &AddValues::dsid) {
        const std::string replaced = value.substr(0, value.size() - 3) + "\xEF\xBF\xBD\xEF\xBF\xBDx";
        EXPECT_EQ(field.second == &AddValues::userid ? drives[0].userid : drives[0].dsid, utf8 ? value : replaced);
      }
      if (field.second == &AddValues::volume) {
        EXPECT_EQ(drives[0].volumename, utf8 ? value : "Docs\xEF\xBF\xBD\xEF\xBF\xBDx");
      }
      const testkit::Run form = Run({});
      EXPECT_EQ(form.status, 0);
      EXPECT_EQ(form.out.substr(0, golden::QueryHeader().size()), golden::QueryHeader());
      EXPECT_EQ(form.out.substr(form.out.size() - 3), "\n.\n");

      // Delete by the very same label, bytes and all.
      const testkit::Run del = Run({"--del", "--volume", values.volume, "--outformat=json"});
      EXPECT_EQ(del.out, golden::Envelope("delete_success"));
      EXPECT_EQ(del.status, 0);
      EXPECT_EQ(Letters(Query()), "");
    }
  }

  // Delete and query given such bytes, with a drive in place.
  ASSERT_TRUE(Added(On("e", "pub\\docs")));
  for (const auto& text : texts) {
    SCOPED_TRACE(text.first);
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"--del", "--volume", "Docs" + text.second},
          std::vector<std::string>{"--del", "--drive", text.second + "e"},
          std::vector<std::string>{"--del", "--drive", text.second, "--volume", text.second}}) {
      std::vector<std::string> json = args;
      json.push_back("--outformat=json");
      const testkit::Run del = Run(json);
      Poco::JSON::Object::Ptr envelope;
      ASSERT_TRUE(Envelope(del.out, envelope));
      EXPECT_EQ(envelope->getValue<std::string>("message"), "delete failed ,not found drive");
      EXPECT_EQ(del.status, kFailureStatus);
    }
    const testkit::Run query = Run({"--volume", text.second, "--host", text.second, "--outformat=json"});
    std::vector<Listed> drives;
    ASSERT_TRUE(QueryList(query, drives));
    ExpectDocsOnE(drives);
  }
  // An option word with a line end in it is not one the parser matches: a
  // parse error, with the line end escaped in the envelope.
  const testkit::Run split = Run({"--del", "--volume=Do\ncs", "--outformat=json"});
  Poco::JSON::Object::Ptr envelope;
  ASSERT_TRUE(Envelope(split.out, envelope));
  EXPECT_EQ(envelope->getValue<std::string>("message").rfind("error parsing options: ", 0), 0u) << split.out;
  EXPECT_EQ(split.status, kFailureStatus);
  EXPECT_TRUE(Deleted("e"));
}

TEST_F(Robustness, HostWithPortPathOrAccountAndLocationsThatClimb) {
  struct Case {
    std::string host;
    std::string location;
    unsigned long error;
    bool network;
  };
  const std::vector<Case> cases = {
      {"127.0.0.1:445", "pub", err::kBadNetPath, false},
      {"127.0.0.1:139", "pub", err::kBadNetPath, false},
      {"smtest@127.0.0.1", "pub", err::kBadNetPath, false},
      {"smtest:Sm-Test-Pass1@127.0.0.1", "pub", err::kBadNetPath, false},
      {"[::1]", "pub", err::kBadNetPath, false},
      {"::1", "pub", err::kBadNetPath, false},
      {"127.0.0.1 ", "pub", err::kBadNetPath, false},
      {"smb://127.0.0.1", "pub", err::kBadNetPath, false},
      {"..", "pub", err::kBadNetPath, false},
      // A path in the host is a path on that host: here a share "x" it lacks.
      {"127.0.0.1/x", "pub", err::kBadNetName, true},
      {"127.0.0.1\\x", "pub", err::kBadNetName, true},
      // A location never leads to another server.
      {"127.0.0.1", "\\\\10.0.0.1\\pub", err::kBadNetName, true},
      {"127.0.0.1", "//10.0.0.1/pub", err::kBadNetName, true},
      {"127.0.0.1", "pub\\..\\team", err::kBadNetName, false},
      {"127.0.0.1", "pub/../team", err::kBadNetName, false},
      {"127.0.0.1", "..\\..\\etc", err::kBadNetName, false},
      {"127.0.0.1", "pub\\docs\\..", err::kBadNetName, false},
      {"127.0.0.1", "..", err::kBadNetName, false},
      {"127.0.0.1", "pub\\docs:stream", err::kBadNetName, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.host + " " + c.location);
    AddValues values;
    values.host = c.host;
    values.location = c.location;
    const Traced add = RunTraced(*box_, values.Args());
    ExpectAddFailed(add.run, c.error);
    EXPECT_TRUE(AskedTheServerOnlyIf(add, c.network));
  }
  EXPECT_EQ(Letters(Query()), "");
  EXPECT_FALSE(Exists(StoreFile()));

  // A host written with the share in it connects to that share on that host,
  // and only there; its record is found, listed and deleted like any other.
  AddValues values;
  values.host = "127.0.0.1\\pub";
  values.location = "docs";
  const Traced add = RunTraced(*box_, values.Args());
  EXPECT_EQ(add.run.out, golden::Envelope("add_success"));
  if (add.traced) {
    EXPECT_TRUE(OnlyLoopbackServer(add));
  }
  std::vector<Listed> drives = Query();
  ExpectDocsOnE(drives);
  EXPECT_TRUE(Deleted("e"));
  EXPECT_EQ(Read("##127.0.0.1#pub#docs", kValueLabel), "<none>");
}

// However the location is spelled, a delete removes that drive's record and
// no other, and a later add of the share starts without stale values.
TEST_F(Robustness, DeleteRemovesTheRecordOfEverySpelling) {
  AddValues other = On("f", "pub\\docs", "Other");
  other.dsid = "88";
  for (const char* spelling :
       {"pub/docs", "pub\\.\\docs", "pub\\\\docs", "pub\\docs\\", "pub//docs", "pub\\docs/", "pub\\docs\\."}) {
    ASSERT_TRUE(Added(other));
    ASSERT_TRUE(Added(On("e", spelling))) << spelling;
    ASSERT_TRUE(Deleted("e")) << spelling;
    std::vector<Listed> drives = Query();
    ASSERT_EQ(Letters(drives), "F") << spelling;
    EXPECT_EQ(drives[0].volumename, "Other") << spelling;
    EXPECT_EQ(drives[0].dsid, "88") << spelling;

    // An empty dsid connects but writes no dsid: nothing older may show.
    AddValues again = On("e", spelling);
    again.dsid = "";
    Run(again.Args());
    drives = Query();
    const Listed* e = FindDrive(drives, "E:");
    ASSERT_NE(e, nullptr) << spelling;
    EXPECT_EQ(e->dsid, "dummy") << spelling;
    EXPECT_TRUE(Deleted("e"));
    EXPECT_TRUE(Deleted("f"));
  }
}
