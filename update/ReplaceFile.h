#pragma once
#include <string>
#include <string_view>

namespace hw {

// Gives the file new contents so that it is always either the old file or the new one, also when
// the machine stops half-way: written to a new file of its own beside it (never through a name that
// was there before), flushed to disk, renamed over it, and the folder flushed. The old file's
// permission bits are kept, at most 0755. Throws FileError with the runtime's text.
void ReplaceFileAtomically(const std::string& path, std::string_view bytes);

}  // namespace hw
