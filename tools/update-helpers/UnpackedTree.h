#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// What the image reader has unpacked so far, as names only: folders and symbolic links. A link is judged by
// where it resolves in this tree, through every link before it, as the kernel would follow it, so a chain
// of harmless-looking links cannot lead out of the mount point. Nothing on disk is read.
class UnpackedTree {
public:
    // Symbolic links followed in one resolution before it counts as a loop (the kernel's own limit).
    static constexpr int maxHops = 40;

    explicit UnpackedTree(size_t maxNodes) : maxNodes_(maxNodes) {}

    // Records a member at the relative path `name` (no "." or ".." pieces), with the folders above it.
    // False when a folder above it is a link, or when the tree grows past its node limit.
    // A member made where a link already is, or a link where anything already is, is refused as well.
    bool addFolder(const std::string& name) { return add(name, false) != nullptr; }
    bool addFile(const std::string& name);
    bool addLink(const std::string& name, const std::string& target);

    // Whether the link at `name` resolves to a place strictly inside the root (not the root itself).
    bool linkStaysInside(const std::string& name) const;
    // The same for every link recorded: later members can change where an earlier link leads.
    bool allLinksStayInside() const;

private:
    struct Node {
        std::map<std::string, std::unique_ptr<Node>> children;
        std::optional<std::string> link;
        bool folder = true;
    };
    Node* add(const std::string& name, bool replacesLink);
    const Node* child(const Node* node, const std::string& part) const;
    std::optional<std::vector<std::string>> resolve(std::vector<std::string> from,
                                                    const std::string& target) const;

    Node root_;
    size_t nodes_ = 0;
    size_t maxNodes_;
    std::vector<std::string> links_;
};
