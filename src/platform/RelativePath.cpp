#include "RelativePath.h"

namespace RelativePath {

std::vector<std::string> components(const std::string& path) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        const size_t end = path.find('/', start);
        parts.push_back(path.substr(start, end == std::string::npos ? std::string::npos : end - start));
        if (end == std::string::npos)
            return parts;
        start = end + 1;
    }
}

bool linkStaysInside(const std::string& linkPath, const std::string& target) {
    if (target.empty() || target.front() == '/')
        return false;
    std::vector<std::string> resolved = components(linkPath);
    resolved.pop_back(); // the link's own name
    for (const std::string& part : components(target)) {
        if (part.empty() || part == ".")
            continue;
        if (part == "..") {
            if (resolved.empty())
                return false;
            resolved.pop_back();
        } else {
            resolved.push_back(part);
        }
    }
    return !resolved.empty();
}

} // namespace RelativePath
