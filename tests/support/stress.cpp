#include "support/stress.h"

#include <Poco/Exception.h>
#include <Poco/JSON/Array.h>
#include <Poco/JSON/Object.h>
#include <Poco/JSON/Parser.h>

#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <mutex>
#include <sstream>
#include <thread>

namespace testkit {

int CountFromEnv(const char* name, int fallback) {
  const char* text = std::getenv(name);
  if (text == nullptr || *text == '\0') return fallback;
  char* end = nullptr;
  const long value = std::strtol(text, &end, 10);
  return (*end == '\0' && value > 0 && value < 1000000) ? static_cast<int>(value) : fallback;
}

void AtOnce(const std::vector<std::function<void()>>& tasks) {
  std::mutex mutex;
  std::condition_variable ready;
  std::size_t waiting = 0;
  std::vector<std::thread> threads;
  threads.reserve(tasks.size());
  for (const auto& task : tasks) {
    threads.emplace_back([&, task] {
      {
        std::unique_lock<std::mutex> lock(mutex);
        if (++waiting == tasks.size()) ready.notify_all();
        ready.wait(lock, [&] { return waiting == tasks.size(); });
      }
      task();
    });
  }
  for (auto& thread : threads) thread.join();
}

std::vector<Run> RunAtOnce(const Sandbox& box, const std::vector<std::vector<std::string>>& argLists,
                           const std::vector<std::string>& dirs) {
  std::vector<Run> runs(argLists.size());
  std::vector<std::function<void()>> tasks;
  for (std::size_t i = 0; i < argLists.size(); ++i) {
    tasks.emplace_back([&, i] {
      runs[i] = i < dirs.size() ? box.SharemapperIn(dirs[i], argLists[i]) : box.Sharemapper(argLists[i]);
    });
  }
  AtOnce(tasks);
  return runs;
}

std::vector<std::string> RunDirs(const Sandbox& box, int count) {
  std::vector<std::string> dirs;
  for (int i = 0; i < count; ++i) {
    dirs.push_back(box / ("run" + std::to_string(i)));
    std::error_code ignored;
    std::filesystem::create_directory(dirs.back(), ignored);
  }
  return dirs;
}

std::string LastLogLine(const std::string& dir) {
  const std::vector<std::string> lines =
      Lines(ReadFile(dir + TempDir::kSeparator + "Applog" + TempDir::kSeparator + "VkSharemapper.log"));
  return lines.empty() ? std::string() : lines.back();
}

std::vector<std::string> AddSpec::Args() const {
  return {"--add",           "--domain=",         "--user=" + user,     "--password=" + password,
          "--host=" + host,  "--location=" + location, "--drive=" + drive, "--volume=" + volume,
          "--userid=" + userid, "--dsid=" + dsid, "--outformat=json"};
}

std::string AddSpec::RowLocation() const { return "\\" + location; }

std::string AddSpec::RecordName() const {
  std::string name = "##" + host + "#" + location;
  for (char& c : name) {
    if (c == '\\') c = '#';
  }
  return name;
}

AddSpec NamedAdd(const AddSpec& base, const std::string& name, const std::string& location,
                 const std::string& drive) {
  AddSpec add = base;
  add.location = location;
  add.drive = drive;
  add.volume = "V" + name;
  add.userid = "U" + name;
  add.dsid = "D" + name;
  return add;
}

bool ParseQueryRows(const std::string& out, std::vector<DriveRow>& rows) {
  rows.clear();
  try {
    Poco::JSON::Parser parser;
    const auto envelope = parser.parse(out).extract<Poco::JSON::Object::Ptr>();
    if (!envelope || !envelope->has("success") || !envelope->getValue<bool>("success")) return false;
    if (envelope->getValue<std::string>("message") != "query success") return false;
    const Poco::JSON::Array::Ptr data = envelope->getArray("data");
    if (!data) return false;
    for (std::size_t i = 0; i < data->size(); ++i) {
      const Poco::JSON::Object::Ptr row = data->getObject(static_cast<unsigned>(i));
      if (!row) return false;
      rows.push_back({row->getValue<std::string>("drive"), row->getValue<std::string>("host"),
                      row->getValue<std::string>("location"), row->getValue<std::string>("userid"),
                      row->getValue<std::string>("dsid"), row->getValue<std::string>("volumename")});
    }
  } catch (const Poco::Exception&) {
    return false;
  } catch (const std::exception&) {
    return false;
  }
  return true;
}

RowState Classify(const DriveRow& row, const AddSpec& add) {
  if (row.volume == add.volume && row.userid == add.userid && row.dsid == add.dsid) return RowState::kWhole;
  if (row.volume != add.volume && row.userid == "dummy" && row.dsid == "dummy") return RowState::kFallback;
  return RowState::kMixed;
}

std::string Envelope(bool success, int code, const std::string& message) {
  return "{\"data\":{},\"errorCode\":" + std::to_string(code) + ",\"message\":\"" + message +
         "\",\"success\":" + (success ? "true" : "false") + "}";
}

std::string Describe(const Run& run) {
  std::string text = run.out + run.err;
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  return text + " (exit status " + std::to_string(run.status) + ")";
}

void Tally::Count(const std::string& what, int n) {
  const std::lock_guard<std::mutex> lock(mutex_);
  counts_[what] += n;
}

int Tally::Of(const std::string& what) const {
  const std::lock_guard<std::mutex> lock(mutex_);
  const auto found = counts_.find(what);
  return found == counts_.end() ? 0 : found->second;
}

void Tally::Note(const std::string& fault, const std::string& example, std::size_t limit) {
  Count(fault);
  const std::lock_guard<std::mutex> lock(mutex_);
  auto& list = examples_[fault];
  if (list.size() < limit) list.push_back(example);
}

std::string Tally::Examples() const {
  const std::lock_guard<std::mutex> lock(mutex_);
  std::ostringstream text;
  for (const auto& fault : examples_) {
    text << fault.first << " (" << counts_.at(fault.first) << "):\n";
    for (const auto& example : fault.second) text << "  " << example << "\n";
  }
  return text.str();
}

void Tally::Print(const std::string& title) const {
  const std::lock_guard<std::mutex> lock(mutex_);
  std::ostringstream line;
  line << "[stress] " << title << ":";
  const char* separator = " ";
  for (const auto& count : counts_) {
    line << separator << count.first << "=" << count.second;
    separator = ", ";
  }
  std::cout << line.str() << std::endl;
}

}  // namespace testkit
