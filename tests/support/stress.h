// The toolkit of the stress tests: many runs of the program at once, the
// rows of a query and how a row stands against the add that made it, and the
// sizes of a run (small in CI, larger from the environment).
#pragma once

#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "support/runner.h"

namespace testkit {

// The positive number in the environment variable `name`, else `fallback`.
int CountFromEnv(const char* name, int fallback);

// Runs every task on a thread of its own; the threads wait at a start line
// until all of them are there and then go together. Returns when all ended.
void AtOnce(const std::vector<std::function<void()>>& tasks);

// The program once per argument list, all started together (AtOnce), each
// in its working directory of `dirs` when given (the application log is
// emptied at every start: runs that share a directory share one log); the
// results in the order of the lists.
std::vector<Run> RunAtOnce(const Sandbox& box, const std::vector<std::vector<std::string>>& argLists,
                           const std::vector<std::string>& dirs = {});

// Working directories of their own for `count` runs: run0, run1, ... below
// the sandbox (made when missing).
std::vector<std::string> RunDirs(const Sandbox& box, int count);

// The last line of the application log in `dir`, empty when there is none.
std::string LastLogLine(const std::string& dir);

// One add of a stress run: its own remote name, label and identifiers, so
// that every row and record tells which add made it.
struct AddSpec {
  std::string host;
  std::string user;
  std::string password;
  std::string location;  // as given to --location, e.g. "pub\stress\a1"
  std::string drive;     // a letter or "*"
  std::string volume;
  std::string userid;
  std::string dsid;

  // The add's command line, with --outformat=json.
  std::vector<std::string> Args() const;
  // The location as a query row shows it: "\" + location.
  std::string RowLocation() const;
  // The name of its record below MountPoints2: "##host#location" with "#"
  // for every backslash.
  std::string RecordName() const;
};

// The three values of an add under a common name: label V<name>, user id
// U<name>, disk session id D<name>, letter `drive`.
AddSpec NamedAdd(const AddSpec& base, const std::string& name, const std::string& location,
                 const std::string& drive);

struct DriveRow {
  std::string drive;
  std::string host;
  std::string location;
  std::string userid;
  std::string dsid;
  std::string volume;
};

// The rows of a successful JSON query result; false when `out` is anything
// else (a failed query, no JSON, rows without the six texts).
bool ParseQueryRows(const std::string& out, std::vector<DriveRow>& rows);

// A row against the add whose record its remote name names:
//   kWhole     the add's label, user id and disk session id;
//   kFallback  no record value: both ids "dummy" and the label not the add's
//              (the drive's own volume name);
//   kMixed     anything else, e.g. the add's ids beside a "dummy".
enum class RowState { kWhole, kFallback, kMixed };
RowState Classify(const DriveRow& row, const AddSpec& add);

// The JSON envelopes the stress runs compare with (no line end).
std::string Envelope(bool success, int code, const std::string& message);

// The text of a run for a failure message: its output, standard error and
// exit status on one line.
std::string Describe(const Run& run);

// Counts of outcomes by name, printed as one "[stress] ..." line. Threads
// may count at the same time.
class Tally {
 public:
  void Count(const std::string& what, int n = 1);
  int Of(const std::string& what) const;
  // Up to `limit` examples of a fault, for the failure message.
  void Note(const std::string& fault, const std::string& example, std::size_t limit = 5);
  std::string Examples() const;
  // "[stress] <title>: a=1, b=2" on standard output.
  void Print(const std::string& title) const;

 private:
  mutable std::mutex mutex_;
  std::map<std::string, int> counts_;
  std::map<std::string, std::vector<std::string>> examples_;
};

}  // namespace testkit
