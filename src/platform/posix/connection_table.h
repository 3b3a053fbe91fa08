// The per-user, per-session table of network drive connections.
//
// Windows keeps a user's temporary drive connections for the logon session.
// Here they live in a small SQLite database in the user's runtime folder:
//   $XDG_RUNTIME_DIR/sharemapper/connections.db  when XDG_RUNTIME_DIR names a
//                                                 folder owned by the user;
//   ${TMPDIR:-/tmp}/sharemapper-<uid>/connections.db  otherwise.
// Folder and file are private (private_files.h); a refusal is described on
// the "Sharemapper.Connections" logger. A row holds the drive letter, the
// remote name, the host and share and the account, never a password.
//
// Reading never creates anything: with no folder or no file there are simply
// no connections. Writes run in immediate transactions, so two processes
// cannot both take one letter.
#pragma once

#include <cstdint>
#include <string>

#include "platform/errors.h"

namespace platform {
namespace posix {

struct ConnectionRow {
  char letter = 0;          // 'A'..'Z'
  std::string remoteName;   // as the caller gave it, "\\host\share\path"
  std::string host;         // as given; compared without regard to case
  std::string share;        // the volume name reported for the drive
  std::string account;      // "DOMAIN\user" or "user", as given
};

// Table failures are Windows numbers: kAccessDenied (5) for a folder or file
// refused (private_files.h), an errno's number when it cannot be looked at
// or made, SQLite's as SqliteError maps them (sqlite_util.h; kBusy (170)
// when another process held it past the busy timeout), and kCantOpen (1011)
// for a file that is no sound database.

// Bit mask of the drive letters that have a connection (bit 0 is A:); 0 when
// the table is absent or cannot be read.
std::uint32_t ConnectedLetterMask();

// The row of `letter`: 0 with `row` filled, kNotConnected (2250) when there
// is none, or a table failure.
ErrorCode FindConnection(char letter, ConnectionRow& row);

// The checks a new connection must pass, read-only, made before any network
// traffic: kAlreadyAssigned (85) when the letter has a row,
// kSessionCredentialConflict (1219) when a row for the same host carries
// another account (both compared without regard to case), else 0 (or a
// table failure). InsertConnection makes them again and writes the row, in
// one immediate transaction; the table is left unchanged on any failure.
ErrorCode CheckNewConnection(const ConnectionRow& row);
ErrorCode InsertConnection(const ConnectionRow& row);

// Deletes the row of `letter`: 0, kNotConnected (2250) when there is none, or
// a table failure.
ErrorCode DeleteConnection(char letter);

// The folder that holds (or would hold) the table in this environment.
std::string ConnectionTableFolder();

// Closes the database and forgets its location, so that the next call looks
// at the environment again. For tests that change XDG_RUNTIME_DIR or TMPDIR.
void ResetConnectionTableForTests();

}  // namespace posix
}  // namespace platform
