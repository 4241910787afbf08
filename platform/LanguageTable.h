// The Windows language identifiers and names the platform layer knows by
// itself (internal to the platform layer). Both backends use it: posix maps
// locale names to identifiers with it, and both name the languages with the
// texts Windows XP's VerLanguageNameW gave, which later Windows versions and
// Wine spell differently ("Chinese (Simplified, China)", "Chinese
// (Simplified)") while the country gate compares with the classic names.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

// The classic English name of a known identifier; false for others.
bool KnownLanguageName(uint16_t langId, std::string& name);

}  // namespace platform
