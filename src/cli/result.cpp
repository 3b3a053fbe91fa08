#include "cli/result.h"

#include <sstream>

namespace VkSharemapper {
namespace {

// Callers parse the envelope with the slash escaped ("\/"), as the JSON
// library always wrote it; newer library versions leave it bare. A slash can
// only occur inside a string in JSON text, so escaping every one is exact.
// A slash that the library already escaped (an odd run of backslashes before
// it) is left alone.
std::string EscapeSlashes(const std::string& json) {
  std::string out;
  out.reserve(json.size() + 8);
  std::size_t backslashes = 0;
  for (char c : json) {
    if (c == '/' && backslashes % 2 == 0) out += '\\';
    backslashes = (c == '\\') ? backslashes + 1 : 0;
    out += c;
  }
  return out;
}

std::string Stringify(const Poco::JSON::Object& envelope) {
  std::ostringstream text;
  envelope.stringify(text, 0, -1);
  return EscapeSlashes(text.str());
}

}  // namespace

std::string BuildResult(bool success, int errorCode, const std::string& message,
                        const Poco::JSON::Object& data) {
  Poco::JSON::Object envelope(0);
  envelope.set("success", success);
  envelope.set("errorCode", errorCode);
  envelope.set("message", message);
  envelope.set("data", data);
  return Stringify(envelope);
}

std::string BuildListResult(const std::string& message, const Poco::JSON::Array& data) {
  Poco::JSON::Object envelope(0);
  envelope.set("success", true);
  envelope.set("errorCode", kErrorNone);
  envelope.set("message", message);
  envelope.set("data", data);
  return Stringify(envelope);
}

}  // namespace VkSharemapper
