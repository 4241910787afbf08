// Registry service. On Windows this is the real registry; on posix it is a
// file-backed emulation (one REGEDIT4 text file per root key in the user's
// data area) so that the same code paths run and can be inspected.
// Key paths use "\" between levels; key and value names compare without
// regard to letter case, as the real registry does.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The root keys. Declared outside the namespace so that argument-dependent
// lookup of a call with a root key does not drag the platform's functions
// into overload resolution beside the utility set's registry routines.
enum class RegRoot { ClassesRoot, CurrentUser, LocalMachine, Users };

namespace platform {

using ::RegRoot;

// Reads a text value. The default value of a key has the empty name.
// False when the key or value is missing or the value is not text.
bool RegReadString(RegRoot root, const std::string& key, const std::string& name,
                   std::string& value);
// Reads a 32-bit number (REG_DWORD). False when missing or not a number.
bool RegReadDword(RegRoot root, const std::string& key, const std::string& name, uint32_t& value);
// Writes a text value (REG_SZ), creating the key and its parents.
bool RegWriteString(RegRoot root, const std::string& key, const std::string& name,
                    const std::string& value);
// Writes a REG_DWORD value, creating the key and its parents.
bool RegWriteDword(RegRoot root, const std::string& key, const std::string& name, uint32_t value);
// Deletes one value; false when it did not exist or could not be deleted.
bool RegDeleteValue(RegRoot root, const std::string& key, const std::string& name);
bool RegKeyExists(RegRoot root, const std::string& key);
bool RegCreateKey(RegRoot root, const std::string& key);
// Deletes a key with all its subkeys and values.
bool RegDeleteKey(RegRoot root, const std::string& key);
// Names of the direct subkeys / values of a key, in stored order.
std::vector<std::string> RegEnumSubKeys(RegRoot root, const std::string& key);
std::vector<std::string> RegEnumValueNames(RegRoot root, const std::string& key);

// posix only: the file that holds a root key's emulation (empty on Windows).
std::string RegBackingFile(RegRoot root);

}  // namespace platform
