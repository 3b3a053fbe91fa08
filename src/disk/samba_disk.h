// One share mapping: the share, the account that connects it, the drive
// letter it goes to and what is recorded beside the drive.
#pragma once

#include <string>

#include "platform/errors.h"

namespace VkSharemapper {

class SambaDisk {
 public:
  std::string drive;     // "E:"
  std::string host;      // server name or address
  std::string location;  // share path below the server, backslash separated
  std::string domain;
  std::string user;
  std::string password;
  std::string userid;
  std::string volume;    // Explorer label
  std::string dsid;      // disk session id
  bool mounted = false;  // stands for a live connection
  // The drive letter was picked by "*": when another process takes it before
  // the connection is made, Mount goes on with the highest letter still free
  // and `drive` names the letter it got.
  bool anyLetter = false;
  // The remote name the connection reported when the query built this entry;
  // Unmount takes the connection only while it still reports this name.
  std::string remoteName;

  // Connects \\host\location to drive, records the label and both ids, and
  // empties the new drive's recycle bin. `error` receives the Windows error
  // number of a refused connection (0 otherwise).
  bool Mount(platform::ErrorCode& error);

  // Deletes the record and cancels the connection.
  bool Unmount();

 private:
  // One try of the connection of `remote` to `drive`.
  platform::ErrorCode Connect(const std::string& remote, const std::string& account);
};

}  // namespace VkSharemapper
