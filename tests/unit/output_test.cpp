#include <gtest/gtest.h>

#include <sstream>

#include "cli/commands.h"
#include "cli/drive_list_output.h"
#include "cli/result.h"
#include "disk/mapping_record.h"
#include "support/fakes.h"
#include "support/golden.h"

using namespace VkSharemapper;

namespace {

std::unique_ptr<SambaDisk> Entry(const std::string& drive, const std::string& host, const std::string& userid,
                                 const std::string& dsid, const std::string& location, const std::string& volume) {
  auto disk = std::make_unique<SambaDisk>();
  disk->drive = drive;
  disk->host = host;
  disk->userid = userid;
  disk->dsid = dsid;
  disk->location = location;
  disk->volume = volume;
  disk->mounted = true;
  return disk;
}


}  // namespace

TEST(FormTable, ColumnFill) {
  EXPECT_EQ(ColumnFill(0, 24), "\t\t\t");
  EXPECT_EQ(ColumnFill(7, 24), "\t\t\t");
  EXPECT_EQ(ColumnFill(8, 24), "\t\t");
  EXPECT_EQ(ColumnFill(16, 24), "\t");
  EXPECT_EQ(ColumnFill(24, 24), "");
  EXPECT_EQ(ColumnFill(40, 24), "");
  EXPECT_EQ(ColumnFill(2, 8), "\t");
}

TEST(FormTable, RowsBetweenHeaderAndDot) {
  DriveList list;
  list.push_back(Entry("E:", "10.0.0.5", "1001", "77", "\\user\\12345", "Docs"));
  list.push_back(Entry("F:", std::string(24, 'h'), "dummy", "dummy", "\\pub", "caf\x82"));
  std::ostringstream out;
  PrintFormTable(out, list);
  EXPECT_EQ(out.str(), golden::QueryHeader() +
                           "E:\t10.0.0.5\t\t1001\t\t\t77\t\t\t\t\\user\\12345\t\t\t\t\tDocs\n"
                           "F:\t" + std::string(24, 'h') + "dummy\t\t\tdummy\t\t\t\t\\pub\t\t\t\t\t\tcaf\x82\n"
                           ".\n");

  std::ostringstream empty;
  PrintFormTable(empty, DriveList());
  EXPECT_EQ(empty.str(), golden::EmptyQuery());
}

TEST(QueryRecords, MembersSortedAndVolumeConverted) {
  fakes::Installed fake;
  DriveList list;
  list.push_back(Entry("E:", "10.0.0.5", "1001", "77", "\\user\\12345", std::string("Caf\x82\0junk", 9)));
  EXPECT_EQ(BuildListResult("query success", BuildQueryRecords(list)),
            "{\"data\":[{\"drive\":\"E:\",\"dsid\":\"77\",\"host\":\"10.0.0.5\",\"location\":\"\\\\user\\\\12345\","
            "\"userid\":\"1001\",\"volumename\":\"Caf\xC3\xA9\"}],\"errorCode\":0,\"message\":\"query success\","
            "\"success\":true}");
}

// Every text of a record is converted, so that the JSON line is UTF-8.
TEST(QueryRecords, EveryTextIsConverted) {
  fakes::Installed fake;
  DriveList list;
  list.push_back(Entry("E:", "h\x82", "u\x82", "s\x81", "\\p\x81", "v"));
  EXPECT_EQ(BuildListResult("query success", BuildQueryRecords(list)),
            "{\"data\":[{\"drive\":\"E:\",\"dsid\":\"s\xC3\xBC\",\"host\":\"h\xC3\xA9\",\"location\":\"\\\\p\xC3\xBC\","
            "\"userid\":\"u\xC3\xA9\",\"volumename\":\"v\"}],\"errorCode\":0,\"message\":\"query success\","
            "\"success\":true}");
}

namespace {

SmOption AddOptions(bool form) {
  SmOption options;
  options.add = true;
  options.form = form;
  options.drive = "E:";
  options.host = "srv";
  options.location = "pub";
  options.user = "bob";
  options.password = "pw";
  options.volume = "Docs";
  options.userid = "1";
  options.dsid = "2";
  return options;
}

}  // namespace

TEST(AddCommand, OutcomesInBothFormats) {
  fakes::Installed fake;
  int status = 0;
  std::ostringstream ok;
  status = RunAddCommand(AddOptions(false), ok);
  EXPECT_EQ(ok.str(), golden::Envelope("add_success"));
  EXPECT_EQ(status, 0);

  fake.network.addResult = 1219;
  std::ostringstream conflict;
  status = RunAddCommand(AddOptions(false), conflict);
  EXPECT_EQ(conflict.str(), golden::Envelope("add_conflict"));
  EXPECT_EQ(status, 20000);

  fake.network.addResult = 1326;
  std::ostringstream other;
  status = RunAddCommand(AddOptions(false), other);
  EXPECT_EQ(other.str(), golden::Envelope("add_failed"));

  fake.network.addResult = 1219;
  std::ostringstream form;
  int formStatus = 0;
  formStatus = RunAddCommand(AddOptions(true), form);
  EXPECT_EQ(form.str(), golden::FormLine("add_failed"));
  EXPECT_EQ(formStatus, 20000);
}

namespace {

SmOption DeleteOptions(const std::string& drive, bool driveGiven, const std::string& volume) {
  SmOption options;
  options.del = true;
  options.form = true;
  options.drive = drive;
  options.driveGiven = driveGiven;
  options.volume = volume;
  return options;
}

std::string Delete(const SmOption& options, int& status) {
  std::ostringstream out;
  status = RunDeleteCommand(options, out);
  return out.str();
}

}  // namespace

TEST(DeleteCommand, MatchesByLetterOrByNamedVolumeOnly) {
  fakes::Installed fake;
  const std::string parent = kMountPoints2;
  fake.network.connections["A:"] = "\\\\srv\\a";  // no record: empty volume name
  fake.network.connections["E:"] = "\\\\srv\\e";
  fake.registry.keys[parent + "##srv#e"][kValueLabel] = "Docs";
  fake.network.connections["F:"] = "\\\\srv\\f";
  fake.registry.keys[parent + "##srv#f"][kValueLabel] = "Docs";

  int status = 0;
  // A letter that is not mapped never falls back to a drive with an empty label.
  EXPECT_EQ(Delete(DeleteOptions("X:", true, ""), status), golden::FormLine("delete_not_found"));
  EXPECT_EQ(status, 20000);
  EXPECT_EQ(fake.network.connections.size(), 3u);

  // By volume: the first drive in letter order with that exact name, never A: by default.
  status = 0;
  EXPECT_EQ(Delete(DeleteOptions("A:", false, "Docs"), status), golden::FormLine("delete_success"));
  EXPECT_EQ(status, 0);
  EXPECT_EQ(fake.network.connections.count("E:"), 0u);
  EXPECT_EQ(fake.network.connections.count("A:"), 1u);
  EXPECT_EQ(fake.registry.keys.count(parent + "##srv#e"), 0u);

  EXPECT_EQ(Delete(DeleteOptions("A:", false, "docs"), status), golden::FormLine("delete_not_found"));

  // A letter not mapped, but a named volume that is.
  status = 0;
  EXPECT_EQ(Delete(DeleteOptions("Q:", true, "Docs"), status), golden::FormLine("delete_success"));
  EXPECT_EQ(fake.network.connections.count("F:"), 0u);

  // A: named by letter.
  EXPECT_EQ(Delete(DeleteOptions("A:", true, ""), status), golden::FormLine("delete_success"));
  EXPECT_TRUE(fake.network.connections.empty());
}

TEST(DeleteCommand, UnmountFailureInJson) {
  fakes::Installed fake;
  fake.network.connections["E:"] = "\\\\srv\\e";
  fake.network.cancelResult = 2250;
  SmOption options = DeleteOptions("E:", true, "");
  options.form = false;
  int status = 0;
  EXPECT_EQ(Delete(options, status),
            golden::Envelope("delete_unmount_fault"));
  EXPECT_EQ(status, 20000);

  fake.network.connections.clear();
  EXPECT_EQ(Delete(options, status),
            golden::Envelope("delete_not_found"));
}

TEST(QueryCommand, EmptyListInBothFormats) {
  fakes::Installed fake;
  SmOption options;
  options.query = true;
  int status = 0;
  std::ostringstream json;
  status = RunQueryCommand(options, json);
  EXPECT_EQ(json.str(), golden::Envelope("query_empty"));
  options.form = true;
  std::ostringstream form;
  status = RunQueryCommand(options, form);
  EXPECT_EQ(form.str(), golden::EmptyQuery());
  EXPECT_EQ(status, 0);
}
