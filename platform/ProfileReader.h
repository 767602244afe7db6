#pragma once
#include <string>
#include <vector>

namespace hw {

// Reads Windows-style initialisation files ("[section]" headers, "key=text" lines) by the rules
// that files written for such programs rely on:
// - section and key names match without regard to (ASCII) letter case; the first match wins;
// - blanks around names and texts are not part of them; a text is the rest of its line after the
//   first "="; a text enclosed in one pair of matching quotes (" or ') loses them;
// - lines starting with ";" are comments; CR LF and LF line ends and a UTF-8 byte-order mark are
//   accepted;
// - a missing file, section or key reads as empty.
// The file is read anew on every call, so a change to it counts from the next call on.

// The longest text a lookup returns, in bytes; longer texts are cut.
inline constexpr std::size_t kProfileTextLimit = 2047;

// The part of a file that is read, in bytes: what lies beyond is ignored, as if the file ended
// there, and standard error says so once. A text file of a few kilobytes thus never makes a lookup
// read and parse whatever large file has taken its name.
inline constexpr std::size_t kProfileFileLimit = 1024 * 1024;

// The key names of the section, in file order (comments and blank lines are not keys).
std::vector<std::string> ProfileSectionKeys(const std::string& file, const std::string& section);

// The text of one key, at most kProfileTextLimit bytes; empty when anything is missing.
std::string ProfileString(const std::string& file, const std::string& section, const std::string& key);

}  // namespace hw
