#pragma once

#include <string>
#include <vector>

// Paths inside a bundle or an unpacked image, read as text rather than through the file system, so that
// nothing a hostile tree holds is followed while it is being judged.
namespace RelativePath {

// The pieces between slashes, empty ones included ("a//b/" gives "a", "", "b", "").
std::vector<std::string> components(const std::string& path);

// True when the relative symbolic link at `linkPath` pointing to `target` stays inside the root both are
// relative to: never climbing above it, nor landing on the root itself (from where a further ".." would
// leave).
bool linkStaysInside(const std::string& linkPath, const std::string& target);

} // namespace RelativePath
