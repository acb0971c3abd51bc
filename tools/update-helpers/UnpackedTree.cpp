#include "UnpackedTree.h"

#include "RelativePath.h"

#include <algorithm>

UnpackedTree::Node* UnpackedTree::add(const std::string& name, bool replacesLink) {
    Node* node = &root_;
    bool created = false;
    for (const std::string& part : RelativePath::components(name)) {
        if (node->link || !node->folder)
            return nullptr; // written through a link or a file
        auto& slot = node->children[part];
        if (!slot) {
            if (++nodes_ > maxNodes_)
                return nullptr;
            slot = std::make_unique<Node>();
            created = true;
        } else {
            created = false;
        }
        node = slot.get();
    }
    // A link is never replaced, nor made over anything already there: what was judged stays on disk.
    if (!created && (node->link || replacesLink))
        return nullptr;
    return node;
}

bool UnpackedTree::addFile(const std::string& name) {
    Node* node = add(name, false);
    if (node)
        node->folder = false;
    return node != nullptr;
}

bool UnpackedTree::addLink(const std::string& name, const std::string& target) {
    Node* node = add(name, true);
    if (!node)
        return false;
    node->folder = false;
    node->link = target;
    links_.push_back(name);
    return true;
}

const UnpackedTree::Node* UnpackedTree::child(const Node* node, const std::string& part) const {
    if (!node)
        return nullptr;
    const auto found = node->children.find(part);
    return found == node->children.end() ? nullptr : found->second.get();
}

// Walks `target` from the folder `from` as the kernel would: links met on the way are replaced by their own
// targets (relative to the folder holding them), ".." goes to the real parent. Past a piece the tree does not
// hold, nothing more can be a link, and the rest is read as text. Absent when the walk climbs above the
// root, meets an absolute target or follows too many links.
std::optional<std::vector<std::string>> UnpackedTree::resolve(std::vector<std::string> from,
                                                              const std::string& target) const {
    std::vector<std::string> pending = RelativePath::components(target);
    std::reverse(pending.begin(), pending.end()); // a stack: the next piece last
    // The node of each piece of `from`, or nullptr past the known tree.
    std::vector<const Node*> trail{&root_};
    for (const std::string& part : from)
        trail.push_back(child(trail.back(), part));
    int hops = 0;
    while (!pending.empty()) {
        std::string part = std::move(pending.back());
        pending.pop_back();
        if (part.empty() || part == ".")
            continue;
        if (part == "..") {
            if (from.empty())
                return std::nullopt;
            from.pop_back();
            trail.pop_back();
            continue;
        }
        const Node* node = child(trail.back(), part);
        if (node && node->link) {
            if (++hops > maxHops || node->link->empty() || node->link->front() == '/')
                return std::nullopt;
            std::vector<std::string> pieces = RelativePath::components(*node->link);
            pending.insert(pending.end(), pieces.rbegin(), pieces.rend());
            continue;
        }
        from.push_back(std::move(part));
        trail.push_back(node);
    }
    return from;
}

bool UnpackedTree::linkStaysInside(const std::string& name) const {
    std::vector<std::string> folder = RelativePath::components(name);
    folder.pop_back();
    const Node* node = &root_;
    for (const std::string& part : RelativePath::components(name))
        node = child(node, part);
    if (!node || !node->link || node->link->empty() || node->link->front() == '/')
        return false;
    const auto resolved = resolve(std::move(folder), *node->link);
    return resolved && !resolved->empty();
}

bool UnpackedTree::allLinksStayInside() const {
    return std::all_of(links_.begin(), links_.end(),
                       [this](const std::string& name) { return linkStaysInside(name); });
}
