#include "support/envelope.h"

#include <Poco/Exception.h>
#include <Poco/JSON/Array.h>
#include <Poco/JSON/Parser.h>

namespace testkit {

std::string MaskInvalidUtf8(const std::string& in) {
  std::string out = in;
  const std::size_t n = in.size();
  for (std::size_t i = 0; i < n;) {
    const unsigned char c = static_cast<unsigned char>(in[i]);
    std::size_t length = c < 0x80 ? 1 : (c >= 0xC2 && c <= 0xDF) ? 2 : (c >= 0xE0 && c <= 0xEF) ? 3
                                     : (c >= 0xF0 && c <= 0xF4) ? 4 : 0;
    bool good = length != 0 && i + length <= n;
    for (std::size_t k = 1; good && k < length; ++k) {
      const unsigned char next = static_cast<unsigned char>(in[i + k]);
      unsigned char low = 0x80, high = 0xBF;
      if (k == 1 && c == 0xE0) low = 0xA0;
      if (k == 1 && c == 0xED) high = 0x9F;
      if (k == 1 && c == 0xF0) low = 0x90;
      if (k == 1 && c == 0xF4) high = 0x8F;
      good = next >= low && next <= high;
    }
    if (!good) {
      out[i] = '?';
      ++i;
    } else {
      i += length;
    }
  }
  return out;
}

bool IsUtf8(const std::string& text) { return MaskInvalidUtf8(text) == text; }

::testing::AssertionResult Envelope(const std::string& out, Poco::JSON::Object::Ptr& envelope, bool masked) {
  if (out.empty() || out.back() != '\n' || out.find('\n') != out.size() - 1) {
    return ::testing::AssertionFailure() << "not exactly one line: " << ::testing::PrintToString(out);
  }
  try {
    Poco::JSON::Parser parser;
    const std::string text = masked ? MaskInvalidUtf8(out) : out;
    envelope = parser.parse(text).extract<Poco::JSON::Object::Ptr>();
  } catch (const Poco::Exception& e) {
    return ::testing::AssertionFailure() << "not JSON (" << e.displayText() << "): " << ::testing::PrintToString(out);
  } catch (const std::exception& e) {
    return ::testing::AssertionFailure() << "not an object (" << e.what() << "): " << ::testing::PrintToString(out);
  }
  if (!envelope || !envelope->has("data") || !envelope->has("errorCode") || !envelope->has("message") ||
      !envelope->has("success")) {
    return ::testing::AssertionFailure() << "not an envelope: " << out;
  }
  const bool success = envelope->getValue<bool>("success");
  const int code = envelope->getValue<int>("errorCode");
  if (success != (code == 0) || (code != 0 && code != 20000 && code != 20001)) {
    return ::testing::AssertionFailure() << "success and errorCode disagree: " << out;
  }
  return ::testing::AssertionSuccess();
}

::testing::AssertionResult QueryList(const Run& run, std::vector<Listed>& drives, bool masked) {
  drives.clear();
  if (run.status != 0) return ::testing::AssertionFailure() << "query exited with " << run.status << ": " << run.out;
  Poco::JSON::Object::Ptr envelope;
  ::testing::AssertionResult parsed = Envelope(run.out, envelope, masked);
  if (!parsed) return parsed;
  if (envelope->getValue<std::string>("message") != "query success" || !envelope->getValue<bool>("success")) {
    return ::testing::AssertionFailure() << "query did not succeed: " << run.out;
  }
  Poco::JSON::Array::Ptr data = envelope->getArray("data");
  if (!data) return ::testing::AssertionFailure() << "no list: " << run.out;
  for (std::size_t i = 0; i < data->size(); ++i) {
    Poco::JSON::Object::Ptr record = data->getObject(static_cast<unsigned>(i));
    if (!record) return ::testing::AssertionFailure() << "entry " << i << " is no object: " << run.out;
    drives.push_back({record->getValue<std::string>("drive"), record->getValue<std::string>("host"),
                      record->getValue<std::string>("location"), record->getValue<std::string>("userid"),
                      record->getValue<std::string>("dsid"), record->getValue<std::string>("volumename")});
  }
  return ::testing::AssertionSuccess();
}

std::string Letters(const std::vector<Listed>& drives) {
  std::string letters;
  for (const Listed& d : drives) letters += d.drive.substr(0, 1);
  return letters;
}

const Listed* FindDrive(const std::vector<Listed>& drives, const std::string& drive) {
  for (const Listed& d : drives) {
    if (d.drive == drive) return &d;
  }
  return nullptr;
}

}  // namespace testkit
