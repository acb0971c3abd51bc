#pragma once

#include <string>

// Disk images on Linux: a compressed tar archive of one or more bundles. Attaching unpacks it into a fresh
// mount point and takes away every write permission; detaching removes the mount point again.
namespace ImageArchive {

// Limits of what one image may unpack into.
inline constexpr long long maxUnpackedBytes = 4LL << 30;
inline constexpr int maxMembers = 200'000;
inline constexpr int maxDepth = 128; // pieces of one member's name

// Unpacks `image` into the directory `mountPoint`, which must be absent or empty. Refuses the whole image
// (and leaves nothing behind) beyond the limits above, on an absolute path, a ".." component, a hard link, a
// symbolic link that resolves (through the other links) to the mount point or outside it, a member written
// through a link, a device, FIFO or socket, or a set-user/group-id bit. Member names in pax headers need a
// UTF-8 locale (LC_CTYPE). On failure `error` says why and false is returned.
bool attach(const std::string& image, const std::string& mountPoint, std::string& error);

// Removes the mount point and everything in it (write permissions restored first).
bool detach(const std::string& mountPoint, std::string& error);

} // namespace ImageArchive
