// Reads what this process's application log gained since a mark, line by
// line without the line ends.
#pragma once

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "log/applog.h"

class LogCapture {
 public:
  LogCapture() : start_(Contents().size()) {}

  std::vector<std::string> Lines() const {
    std::vector<std::string> lines;
    std::istringstream in(Contents().substr(start_));
    for (std::string line; std::getline(in, line);) {
      if (!line.empty() && line.back() == '\r') line.pop_back();  // CR LF on Windows
      lines.push_back(line);
    }
    return lines;
  }

  // A line from its location on ("VkSharemapper::SambaDisk::Mount:143 ..."),
  // without the thread number and time stamp that vary.
  static std::string Tail(const std::string& line) { return line.substr(line.find("VkSharemapper::")); }

  static std::string Contents() {
    std::ifstream in(VkSharemapper::AppLog.path(), std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
  }

 private:
  std::size_t start_;
};
