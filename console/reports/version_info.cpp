// SPDX-License-Identifier: MIT
#include "version_info.h"

namespace version_info {
namespace {

// Kept even when nothing reads it, so the executable carries its version.
[[gnu::used, gnu::section(".korvel.version")]] constexpr char kBlock[] =
    "StringFileInfo=040904B0\n"
    "FileVersion=1, 0, 0, 1\n"
    "ProductVersion=1, 0, 0, 1\n"
    "CompanyName=\n"
    "FileDescription=Korvel MFC Application\n"
    "InternalName=Korvel\n"
    "LegalCopyright=Copyright (C) 2026\n"
    "LegalTrademarks=\n"
    "OriginalFilename=Korvel.EXE\n"
    "ProductName=Korvel Application\n"
    "FileType=Application\n"
    "FileFlags=0\n";

}  // namespace

const char *Block() {
    return kBlock;
}

}  // namespace version_info
