#include "ScenarioFile.h"

#include "JsonDepth.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

std::optional<ScenarioFile::Identity> ScenarioFile::identity() const {
    struct stat attributes {};
    if (::stat(path_.c_str(), &attributes) != 0)
        return std::nullopt;
#ifdef __APPLE__
    const auto& modified = attributes.st_mtimespec;
#else
    const auto& modified = attributes.st_mtim;
#endif
    return Identity{attributes.st_dev, attributes.st_ino, static_cast<long long>(attributes.st_size),
                    static_cast<long long>(modified.tv_sec) * 1'000'000'000LL + modified.tv_nsec};
}

std::optional<nlohmann::json> ScenarioFile::load(std::string& error) {
    const std::optional<Identity> before = identity();
    std::ifstream stream(path_, std::ios::binary);
    if (!stream) {
        error = "读不了场景文件 " + path_ + "：" + std::strerror(errno);
        return std::nullopt;
    }
    std::stringstream contents;
    contents << stream.rdbuf();
    seen_ = before;
    try {
        const std::string text = contents.str();
        // Nesting far beyond any scenario would overflow the stack when the value is copied.
        if (!JsonDepth::within(text)) {
            error = "场景文件 " + path_ + " 不是有效的 JSON：嵌套太深";
            return std::nullopt;
        }
        nlohmann::json scenario = nlohmann::json::parse(text);
        if (!scenario.is_object()) {
            error = "场景文件 " + path_ + " 的顶层不是 JSON 对象";
            return std::nullopt;
        }
        return scenario;
    } catch (const nlohmann::json::exception& problem) {
        error = "场景文件 " + path_ + " 不是有效的 JSON：" + problem.what();
        return std::nullopt;
    }
}

bool ScenarioFile::save(const nlohmann::json& scenario, std::string& error) {
    const std::string temporary = path_ + ".tmp-" + std::to_string(::getpid());
    const std::string bytes = scenario.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) {
        error = "写不了场景文件 " + temporary + "：" + std::strerror(errno);
        return false;
    }
    std::size_t written = 0;
    while (written < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + written, bytes.size() - written);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            error = "写场景文件出错：" + std::string(std::strerror(errno));
            ::close(fd);
            ::unlink(temporary.c_str());
            return false;
        }
        written += static_cast<std::size_t>(n);
    }
    ::close(fd);
    if (::rename(temporary.c_str(), path_.c_str()) != 0) {
        error = "换不上新的场景文件 " + path_ + "：" + std::strerror(errno);
        ::unlink(temporary.c_str());
        return false;
    }
    seen_ = identity();
    return true;
}

std::optional<nlohmann::json> ScenarioFile::reloadIfChanged() {
    const std::optional<Identity> now = identity();
    if (!now || now == seen_)
        return std::nullopt; // unchanged, or gone for now: keep the state we have
    std::string error;
    std::optional<nlohmann::json> scenario = load(error);
    if (!scenario)
        std::fprintf(stderr, "%s；继续用原来的状态\n", error.c_str());
    return scenario;
}
