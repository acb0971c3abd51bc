#pragma once

#include <nlohmann/json.hpp>

#include <optional>
#include <string>
#include <sys/types.h>

// The scenario document on disk. Written back atomically (temporary file, then rename) so a reader never sees
// half a file; edits made by someone else while the stand-in runs are noticed by their changed identity.
class ScenarioFile {
public:
    explicit ScenarioFile(std::string path) : path_(std::move(path)) {}

    const std::string& path() const { return path_; }

    // Reads and parses the file; on failure returns nothing and leaves a Chinese reason in `error`.
    std::optional<nlohmann::json> load(std::string& error);

    // Writes the whole document; on failure returns false with the reason in `error`.
    bool save(const nlohmann::json& scenario, std::string& error);

    // The document, when the file changed since it was last read or written here and parses.
    std::optional<nlohmann::json> reloadIfChanged();

private:
    struct Identity {
        dev_t device = 0;
        ino_t inode = 0;
        long long size = -1;
        long long modifiedNs = -1;
        bool operator==(const Identity&) const = default;
    };
    std::optional<Identity> identity() const;

    std::string path_;
    std::optional<Identity> seen_;
};
