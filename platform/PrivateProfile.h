// Writing values into one section of an INI file the way the private-profile
// functions do (WritePrivateProfileStringW): the named keys are changed where
// they stand or added to the section, the section is added when missing, and
// every other line of the file, comments and blank lines included, stays as
// it was. Unlike those functions the file is replaced atomically, so a crash
// leaves either the old or the new content.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace platform {

using ProfileValues = std::vector<std::pair<std::string, std::string>>;

// The text of an INI file after writing values into section. Section and key
// names compare without regard to ASCII letter case; the first section and
// the first line of a key win. A changed line keeps its key as spelled in the
// file; added lines are "key=value", after the last non-blank line of the
// section. New lines use the file's line break (CR LF when the file has one,
// else LF). A byte-order mark at the start is kept.
std::string WriteProfileValuesToText(const std::string& text, const std::string& section,
                                     const ProfileValues& values);

// Reads the file (a missing file counts as empty), writes the values and
// replaces the file atomically. False, with the file unchanged, when it
// cannot be read or written.
bool WriteProfileValues(const std::string& file, const std::string& section,
                        const ProfileValues& values, std::string* error = nullptr);

// The key=value lines of the first section of that name, in file order
// (comments and lines without "=" are skipped; a key's first line wins).
// False when the text has no such section.
bool ReadProfileSection(const std::string& text, const std::string& section, ProfileValues& values);

// The text with the first section of that name holding exactly the values:
// listed keys are changed where they stand or added, keys of the section
// that are not listed are removed, comments and blank lines stay. With
// values null the section is removed, header and all. Every line outside
// the section, the line breaks and a byte-order mark stay as they were.
std::string ReplaceProfileSectionInText(const std::string& text, const std::string& section,
                                        const ProfileValues* values);

}  // namespace platform
