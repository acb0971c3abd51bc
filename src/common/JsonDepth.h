#pragma once

#include <cstddef>
#include <string_view>

// JSON from outside (bridge replies, the update feed, scenario files) is checked for its nesting before it is
// decoded: copying or walking a decoded value recurses once per level, so a reply of a few hundred kilobytes
// of brackets would overflow the stack. Real documents stay far below the limit.
namespace JsonDepth {

inline constexpr int limit = 128;

// True when no array or object in `text` lies deeper than `maxDepth` levels. Counts only brackets outside
// strings; text that is not JSON at all is left for the decoder to refuse.
inline bool within(std::string_view text, int maxDepth = limit) {
    int depth = 0;
    bool inString = false;
    bool escaped = false;
    for (const char c : text) {
        if (inString) {
            if (escaped)
                escaped = false;
            else if (c == '\\')
                escaped = true;
            else if (c == '"')
                inString = false;
            continue;
        }
        switch (c) {
        case '"':
            inString = true;
            break;
        case '[':
        case '{':
            if (++depth > maxDepth)
                return false;
            break;
        case ']':
        case '}':
            if (depth > 0)
                --depth;
            break;
        default:
            break;
        }
    }
    return true;
}

} // namespace JsonDepth
