#pragma once
#include <string>

namespace hw {

// The program's texts live in lang.ini beside the program, one section per language id
// ("[1033]", "[1028]", ...), one numbered key per text. Every lookup sees the file as it is (it is
// parsed again whenever it has changed).

// Looks up text `messageId` for the language `langId` in `file`:
// - the section named by langId is used when it holds at least one key, else section "1033"
//   (a key missing from the chosen section is not looked up again in "1033");
// - without a parameter (param empty) the text comes back as written, "%d" included;
// - with a parameter the first "%d" (lower-case d) is replaced by it, verbatim; a missing text
//   gives the parameter alone; a text without "%d" gets the parameter appended after a blank,
//   so that the value the caller wants shown is never lost.
std::string LookupLangStr(const std::string& file, unsigned langId, const std::string& messageId,
                          const std::string& param = {});

// LookupLangStr on the working directory's lang.ini for the user's language.
std::string GetLangStr(const std::string& messageId, const std::string& param = {});

// The working directory's lang.ini, its name matched without regard to letter case (a file copied
// from a case-blind file system may be called "Lang.ini" or "LANG.INI"); "./lang.ini" if none.
std::string LangFilePath();

// True when the working directory holds a regular file named lang.ini in any letter case.
bool LangFileExists();

}  // namespace hw
