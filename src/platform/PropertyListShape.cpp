#include "PropertyListShape.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

namespace PropertyListShape {

namespace {

const char* after(const char* from, const char* end, const char* marker) {
    const std::size_t length = std::strlen(marker);
    for (const char* p = from; p + length <= end; ++p) {
        p = static_cast<const char*>(std::memchr(p, marker[0], static_cast<std::size_t>(end - p)));
        if (!p || p + length > end)
            return nullptr;
        if (std::memcmp(p, marker, length) == 0)
            return p + length;
    }
    return nullptr;
}

// Element nesting: every start tag that does not close itself counts, every end tag gives one back (never
// below zero). Comments, CDATA sections, processing instructions and declarations nest nothing; quoted
// attribute values are skipped, so a ">" or "/>" inside one changes nothing. The count never falls short of
// what a parser nests; unterminated constructs are refused.
bool xmlTooDeep(const QByteArray& bytes) {
    const char* p = bytes.constData();
    const char* const end = p + bytes.size();
    int depth = 0;
    while ((p = static_cast<const char*>(std::memchr(p, '<', static_cast<std::size_t>(end - p))))) {
        const auto startsWith = [&](const char* text) {
            const std::size_t n = std::strlen(text);
            return static_cast<std::size_t>(end - p) >= n && std::memcmp(p, text, n) == 0;
        };
        const char* next = nullptr;
        if (startsWith("<!--"))
            next = after(p + 4, end, "-->");
        else if (startsWith("<![CDATA["))
            next = after(p + 9, end, "]]>");
        else if (startsWith("<?"))
            next = after(p + 2, end, "?>");
        else if (startsWith("<!"))
            next = after(p + 2, end, ">");
        if (next || startsWith("<!") || startsWith("<?")) {
            if (!next)
                return true;
            p = next;
            continue;
        }
        const bool closing = startsWith("</");
        char previous = 0;
        const char* q = p + 1;
        for (; q < end && *q != '>'; ++q) {
            if (*q == '"' || *q == '\'') {
                const char* closeQuote =
                    static_cast<const char*>(std::memchr(q + 1, *q, static_cast<std::size_t>(end - q - 1)));
                if (!closeQuote)
                    return true;
                q = closeQuote;
            }
            previous = *q;
        }
        if (q == end)
            return true;
        if (closing)
            depth = std::max(0, depth - 1);
        else if (previous != '/' && ++depth > maxDepth)
            return true;
        p = q + 1;
    }
    return false;
}

std::uint64_t bigEndian(const unsigned char* p, unsigned n) {
    std::uint64_t v = 0;
    for (unsigned i = 0; i < n; ++i)
        v = (v << 8) | p[i];
    return v;
}

// The object graph of a binary list, walked from its top object with an explicit stack: the longest chain of
// containers and the number of values the tree libplist builds would hold (shared objects counted at every
// use). A reference cycle, or tables that point outside the data, refuse the list.
class BinaryGraph {
public:
    explicit BinaryGraph(const QByteArray& bytes)
        : data_(reinterpret_cast<const unsigned char*>(bytes.constData())),
          size_(static_cast<std::uint64_t>(bytes.size())) {}

    bool tooDeepOrLarge() {
        if (size_ < 8 + 32)
            return false; // too short for libplist to parse at all
        const unsigned char* trailer = data_ + size_ - 32;
        offsetSize_ = trailer[6];
        refSize_ = trailer[7];
        count_ = bigEndian(trailer + 8, 8);
        const std::uint64_t top = bigEndian(trailer + 16, 8);
        table_ = bigEndian(trailer + 24, 8);
        if (offsetSize_ == 0 || offsetSize_ > 8 || refSize_ == 0 || refSize_ > 8 || count_ > size_ ||
            table_ >= size_ || table_ + count_ * offsetSize_ > size_ - 32 || top >= count_)
            return true;
        depth_.assign(count_, 0);
        values_.assign(count_, 0);
        state_.assign(count_, 0);
        return !walk(top);
    }

private:
    struct Container {
        std::uint64_t refs = 0; // where the references start
        std::uint64_t count = 0;
    };
    struct Frame {
        std::uint64_t index;
        Container container;
        std::uint64_t next = 0;
    };

    // The references an object holds; false when it cannot be read. Non-containers hold none.
    bool children(std::uint64_t index, Container& out) const {
        const std::uint64_t at = bigEndian(data_ + table_ + index * offsetSize_, offsetSize_);
        if (at >= size_ - 32)
            return false;
        const unsigned marker = data_[at] >> 4;
        const bool list = marker == 0xA || marker == 0xB || marker == 0xC;
        if (!list && marker != 0xD) {
            out = {};
            return true;
        }
        std::uint64_t count = data_[at] & 0xF;
        std::uint64_t start = at + 1;
        if (count == 0xF) {
            if (start >= size_ || (data_[start] >> 4) != 0x1)
                return false;
            const unsigned n = 1u << (data_[start] & 0xF);
            if (n > 8 || start + 1 + n > size_)
                return false;
            count = bigEndian(data_ + start + 1, n);
            start += 1 + n;
        }
        if (marker == 0xD) {
            if (count > size_)
                return false;
            count *= 2; // keys, then values
        }
        if (count > size_ || start + count * refSize_ > size_)
            return false;
        out = {start, count};
        return true;
    }

    bool walk(std::uint64_t top) {
        std::vector<Frame> stack;
        Container root;
        if (!children(top, root))
            return false;
        stack.push_back({top, root, 0});
        state_[top] = 1;
        while (!stack.empty()) {
            Frame& frame = stack.back();
            if (frame.next < frame.container.count) {
                const std::uint64_t child =
                    bigEndian(data_ + frame.container.refs + frame.next * refSize_, refSize_);
                ++frame.next;
                if (child >= count_ || state_[child] == 1)
                    return false;
                if (state_[child] == 0) {
                    Container inner;
                    if (!children(child, inner))
                        return false;
                    state_[child] = 1;
                    // Deeper than allowed already on the way down: no need to see the rest.
                    if (stack.size() + 1 > static_cast<std::size_t>(maxDepth))
                        return false;
                    stack.push_back({child, inner, 0});
                }
                continue;
            }
            // All children are done: this object's figures from theirs.
            std::uint64_t depth = 0, values = 1;
            for (std::uint64_t i = 0; i < frame.container.count; ++i) {
                const std::uint64_t child = bigEndian(data_ + frame.container.refs + i * refSize_, refSize_);
                depth = std::max(depth, depth_[child]);
                values = std::min<std::uint64_t>(values + values_[child], maxValues + 1);
            }
            depth_[frame.index] = depth + 1;
            values_[frame.index] = values;
            state_[frame.index] = 2;
            if (depth + 1 > static_cast<std::uint64_t>(maxDepth) || values > maxValues)
                return false;
            stack.pop_back();
        }
        return true;
    }

    const unsigned char* data_;
    std::uint64_t size_;
    unsigned offsetSize_ = 0, refSize_ = 0;
    std::uint64_t count_ = 0, table_ = 0;
    std::vector<std::uint64_t> depth_, values_;
    std::vector<unsigned char> state_; // 0 unseen, 1 on the way down, 2 done
};

} // namespace

bool tooDeepOrLarge(const QByteArray& bytes) {
    if (bytes.startsWith("bplist"))
        return BinaryGraph(bytes).tooDeepOrLarge();
    return xmlTooDeep(bytes);
}

} // namespace PropertyListShape
