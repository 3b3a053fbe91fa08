// The result envelope: one line of compact JSON with the members data,
// errorCode, message and success.
#pragma once

#include <Poco/JSON/Array.h>
#include <Poco/JSON/Object.h>

#include <string>

namespace VkSharemapper {

// Error codes of the envelope.
constexpr int kErrorNone = 0;
constexpr int kErrorFailed = 20000;
constexpr int kErrorCredentialConflict = 20001;

// Exit statuses of the program.
constexpr int kExitSuccess = 0;
constexpr int kExitFailure = 20000;

std::string BuildResult(bool success, int errorCode, const std::string& message,
                        const Poco::JSON::Object& data);

// Always success true and errorCode 0; data is the array.
std::string BuildListResult(const std::string& message, const Poco::JSON::Array& data);

}  // namespace VkSharemapper
