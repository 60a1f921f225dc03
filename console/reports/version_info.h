// SPDX-License-Identifier: MIT
// Korvel's version data: shown in the About box and the desktop entry, and
// kept in the executable's ".korvel.version" section for tools that look
// there (readelf -p .korvel.version korvel).
#pragma once

namespace version_info {

inline constexpr const char kFileVersion[] = "1.0.0.1";
inline constexpr const char kProductVersion[] = "1.0.0.1";
inline constexpr const char kFileVersionText[] = "1, 0, 0, 1";
inline constexpr const char kFileDescription[] = "Korvel MFC Application";
inline constexpr const char kInternalName[] = "Korvel";
inline constexpr const char kOriginalFilename[] = "Korvel.EXE";
inline constexpr const char kProductName[] = "Korvel Application";
inline constexpr const char kCompanyName[] = "";
inline constexpr const char kLegalTrademarks[] = "";
inline constexpr const char kLegalCopyright[] = "Copyright (C) 2026";
inline constexpr const char kLanguageBlock[] = "040904B0";

// The About box's second line: version and legal notice.
inline constexpr const char kAboutLine[] = "1.0.0.1  Copyright (C) 2026";

// The whole version block as "Key=Value" lines, as stored in the executable.
const char *Block();

}  // namespace version_info
