// SPDX-License-Identifier: MIT
#include <cstdio>

#include "command.h"
#include "return_codes.h"
#include "usage.h"

namespace cli {

Context::Context(std::string command, UCHAR lana, std::optional<std::chrono::milliseconds> timeout, bool json)
    : command_(std::move(command)), lana_(lana), timeout_(timeout), json_(json) {
    doc_.Set("command", command_);
    doc_.Set("lana", static_cast<unsigned>(lana));
}

void Context::Print(const std::string &text) const {
    if (json_) return;
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
}

int Context::Fail(const std::string &what, UCHAR rc, int status) {
    std::fprintf(stderr, "korvel-nb %s: %s: %s\n", command_.c_str(), what.c_str(),
                 DescribeReturnCode(rc).c_str());
    Json error = Json::Object();
    error.Set("what", what);
    error.Set("code", static_cast<unsigned>(rc));
    error.Set("name", ReturnCodeName(rc));
    error.Set("message", ReturnCodeMeaning(rc));
    doc_.Set("error", std::move(error));
    return status;
}

int Context::Fail(const std::string &message, int status) {
    std::fprintf(stderr, "korvel-nb %s: %s\n", command_.c_str(), message.c_str());
    Json error = Json::Object();
    error.Set("message", message);
    doc_.Set("error", std::move(error));
    return status;
}

int Context::Usage(const std::string &message) {
    return UsageError(command_, message);
}

}  // namespace cli
