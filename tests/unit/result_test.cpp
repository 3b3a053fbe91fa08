#include <gtest/gtest.h>

#include "cli/result.h"

using VkSharemapper::BuildListResult;
using VkSharemapper::BuildResult;

TEST(ResultEnvelope, MembersInByteOrderWithoutBlanks) {
  EXPECT_EQ(BuildResult(true, 0, "add success", Poco::JSON::Object(0)),
            R"({"data":{},"errorCode":0,"message":"add success","success":true})");
  EXPECT_EQ(BuildResult(false, 20001, "add failed,mount fault", Poco::JSON::Object(0)),
            R"({"data":{},"errorCode":20001,"message":"add failed,mount fault","success":false})");
  EXPECT_EQ(BuildListResult("query success", Poco::JSON::Array(0)),
            R"({"data":[],"errorCode":0,"message":"query success","success":true})");
}

TEST(ResultEnvelope, QueryRecordWithEscapedBackslashes) {
  Poco::JSON::Object record(0);
  record.set("volumename", std::string("Docs"));
  record.set("userid", std::string("1001"));
  record.set("location", std::string("\\user\\12345"));
  record.set("host", std::string("10.0.0.5"));
  record.set("dsid", std::string("77"));
  record.set("drive", std::string("E:"));
  Poco::JSON::Array records(0);
  records.add(record);
  EXPECT_EQ(BuildListResult("query success", records),
            R"({"data":[{"drive":"E:","dsid":"77","host":"10.0.0.5","location":"\\user\\12345","userid":"1001",)"
            R"("volumename":"Docs"}],"errorCode":0,"message":"query success","success":true})");
}

TEST(ResultEnvelope, EscapesSlashQuoteAndControlBytesButNotHighBytes) {
  const std::string text = BuildResult(false, 20000, "a/b\\c\"d\x01\t\xC3\xA9\xFF//", Poco::JSON::Object(0));
  EXPECT_EQ(text, "{\"data\":{},\"errorCode\":20000,\"message\":\"a\\/b\\\\c\\\"d\\u0001\\t\xC3\xA9\xFF\\/\\/\","
                  "\"success\":false}");
}

TEST(ResultEnvelope, BackslashBeforeSlashStaysOneEscapedBackslash) {
  // "\/" in the message is a backslash then a slash: two escapes, never one.
  EXPECT_EQ(BuildResult(true, 0, "x\\/y", Poco::JSON::Object(0)),
            R"({"data":{},"errorCode":0,"message":"x\\\/y","success":true})");
}
