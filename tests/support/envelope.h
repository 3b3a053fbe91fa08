// The JSON output read back: one result envelope per run, and the query's
// list of drives in it.
#pragma once

#include <Poco/JSON/Object.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/runner.h"

namespace testkit {

// Texts go into the JSON as the bytes they are, so a sequence that is not
// UTF-8 reaches the output unchanged and a strict parser stops at it. The
// structure around such bytes is what can be checked: this replaces every
// byte of an ill-formed sequence by '?'.
std::string MaskInvalidUtf8(const std::string& in);
bool IsUtf8(const std::string& text);

// One line of output holding one result envelope. `masked` parses with the
// non-UTF-8 bytes masked (see MaskInvalidUtf8); otherwise the line must be
// valid JSON as it is.
::testing::AssertionResult Envelope(const std::string& out, Poco::JSON::Object::Ptr& envelope, bool masked = false);

// A query record as the JSON output gave it.
struct Listed {
  std::string drive, host, location, userid, dsid, volumename;
};

// The drives of a successful JSON query.
::testing::AssertionResult QueryList(const Run& run, std::vector<Listed>& drives, bool masked = false);

// The drive letters listed, in order ("EF").
std::string Letters(const std::vector<Listed>& drives);
// The drive listed as `drive` ("E:"), null when there is none.
const Listed* FindDrive(const std::vector<Listed>& drives, const std::string& drive);

}  // namespace testkit
