// One share mapping: the share, the account that connects it, the drive
// letter it goes to and what is recorded beside the drive.
#pragma once

#include <string>

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

  // Connects \\host\location to drive, records the label and both ids, and
  // empties the new drive's recycle bin. errorText receives the Windows error
  // number when the connection is refused.
  bool Mount(std::string& errorText);

  // Deletes the record and cancels the connection.
  bool Unmount();
};

}  // namespace VkSharemapper
