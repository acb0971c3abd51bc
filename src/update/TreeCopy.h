#pragma once

#include <string>

namespace TreeCopy {

// Copies the tree at `source` to `destination`, which must not exist yet: regular files with their modes
// (set-id bits dropped), directories, and symbolic links as links. Directories keep their owner's write
// permission so the copy can be replaced later. Fails on anything else and on any error; a failed copy
// leaves a partial tree at `destination` for the caller to remove.
bool copy(const std::string& source, const std::string& destination, std::string& error);

// Removes a tree whose folders may lack write permission. Missing is success.
bool removeTree(const std::string& path, std::string& error);

} // namespace TreeCopy
