// SPDX-License-Identifier: MIT
// Return codes as korvel-nb names them on standard error and in JSON.
#pragma once

#include <string>

#include "nb30.h"

namespace cli {

// "NRC_INUSE", or "NRC_0x42" for a code the records do not define.
std::string ReturnCodeName(UCHAR rc);
// What the code means to someone running a command, in a few words.
std::string ReturnCodeMeaning(UCHAR rc);
// "NRC_INUSE (0x16): the name is in use on another node".
std::string DescribeReturnCode(UCHAR rc);

}  // namespace cli
