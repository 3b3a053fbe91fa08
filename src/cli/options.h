// The command line: declaration, parsing, the checks each command needs and
// the drive argument turned into a drive name such as "E:".
#pragma once

#include <string>

namespace VkSharemapper {

// What option processing decided when it does not hand over to a command:
// the text to print (help listing or error report, line end included) and
// the exit status.
struct OptionOutcome {
  bool proceed = true;
  int status = 0;
  std::string output;
};

class SmOption {
 public:
  std::string volume;
  std::string domain;
  std::string host;
  std::string user;
  std::string password;
  std::string location;
  std::string drive;
  bool del = false;
  bool add = false;
  bool query = false;
  bool form = false;
  std::string userid;
  std::string dsid;
  // Delete command: whether --drive came with a value (drive is "A:" when not).
  bool driveGiven = false;
  // Add command: the letter was picked for "*" and may be picked again.
  bool anyLetter = false;

  // Parses and checks the command line. Returns 0 when the object is filled
  // and a command may run; otherwise prints the help listing or the error
  // report and ends the process (status 0 for --help, 20000 otherwise).
  int ProcOptions(int argc, char** argv);

  // The same without ending the process: the outcome says whether to go on,
  // and if not, what to print and which status to end with.
  OptionOutcome Process(int argc, char** argv);
};

// The highest drive letter not in use (no volume and no network connection,
// remembered ones included), followed by ":". False when all 26 letters are
// taken (out is then left as it was).
bool GetFreeDriveLetter(std::string& out);

}  // namespace VkSharemapper
