// The user's drives: the connection table, shared by the user's processes,
// and the SMB sessions of this process by drive letter (README, "The Linux
// network and files layer" and "Where Linux keeps its state").
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "platform/posix/private_files.h"
#include "platform/posix/smb_session.h"
#include "platform/posix/sqlite_util.h"

namespace platform {
namespace posix {

// A row of the table; never a password.
struct ConnectionRow {
  char letter = 0;          // 'A'..'Z'
  std::string remoteName;   // as the caller gave it, "\\host\share\path"
  std::string host;         // as given; compared without regard to case
  std::string share;        // the volume name reported for the drive
  std::string account;      // "DOMAIN\user" or "user", as given
};

// The table's failures are 5 for a folder or file refused (private_files.h),
// an errno's number, SQLite's (sqlite_util.h; 170 when another process held
// it past the busy timeout) and 1011 for a file that is no sound database.
// Reading never creates anything: with no table there are no connections.
class Drives {
 public:
  // Bit 0 is A:; 0 when the table is absent or cannot be read.
  std::uint32_t LetterMask();
  // 0 with `row` filled, 2250 when the letter has no row, or a failure.
  ErrorCode Find(char letter, ConnectionRow& row);
  // The checks of a new row, made before any network traffic: 85 when the
  // letter has a row, 1219 when one for the same host carries another
  // account (both without regard to case). Insert makes them again as it
  // writes the row, in one immediate transaction.
  ErrorCode Check(const ConnectionRow& row);
  ErrorCode Insert(const ConnectionRow& row);
  // Deletes the letter's row if it holds `remoteName` (any row when that is
  // empty): 0, 2250 when there is no such row, or a failure.
  ErrorCode Delete(char letter, const std::string& remoteName);

  // The session of a drive this process connected, if it is still the
  // drive's connection (one cancelled or replaced elsewhere ends here).
  // The files calls ask from several threads at once.
  std::shared_ptr<SmbSession> Session(char letter);
  void Attach(char letter, std::shared_ptr<SmbSession> session) {
    const std::lock_guard<std::mutex> lock(sessionsMutex_);
    sessions_[letter] = std::move(session);
  }
  void Detach(char letter) {
    const std::lock_guard<std::mutex> lock(sessionsMutex_);
    sessions_.erase(letter);
  }
  void DetachAll() {
    const std::lock_guard<std::mutex> lock(sessionsMutex_);
    sessions_.clear();
  }

  // The folder of the table in this environment.
  static std::string TableFolder() { return PrivateFolderPath(PrivateFolder::kRuntime); }
  // The next call looks at the environment again.
  void CloseTableForTests() { db_.Close(); }

 private:
  Database* Open(bool create, ErrorCode& code);
  ErrorCode Conflicts(const ConnectionRow& row);

  Database db_;  // opened on first use
  std::mutex sessionsMutex_;  // for sessions_, and the table while a session is looked up
  std::map<char, std::shared_ptr<SmbSession>> sessions_;
};

// The one Drives of the process, made on first use and never destroyed.
Drives& UserDrives();

}  // namespace posix
}  // namespace platform
