#include "TreeCopy.h"
#include "UniqueFd.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace TreeCopy {

namespace {

using Fd = UniqueFd;

bool fail(std::string& error, const std::string& what) {
    error = what + ": " + std::strerror(errno);
    return false;
}

std::vector<std::string> names(int dirFd, bool& ok) {
    std::vector<std::string> out;
    const int copy = ::dup(dirFd);
    DIR* dir = copy >= 0 ? ::fdopendir(copy) : nullptr;
    if (!dir) {
        if (copy >= 0)
            ::close(copy);
        ok = false;
        return out;
    }
    errno = 0;
    while (dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..")
            out.push_back(name);
    }
    ok = errno == 0;
    ::closedir(dir);
    return out;
}

bool copyFile(int fromDir, int toDir, const std::string& name, mode_t mode, const std::string& path,
              std::string& error) {
    Fd in(::openat(fromDir, name.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    if (!in)
        return fail(error, "cannot open " + path);
    const mode_t kept = mode & 0777;
    Fd out(::openat(toDir, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!out)
        return fail(error, "cannot create " + path);
    std::vector<char> buffer(1 << 20);
    for (;;) {
        const ssize_t n = ::read(in.get(), buffer.data(), buffer.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return fail(error, "cannot read " + path);
        if (n == 0)
            break;
        for (ssize_t done = 0; done < n;) {
            const ssize_t w = ::write(out.get(), buffer.data() + done, static_cast<size_t>(n - done));
            if (w < 0 && errno == EINTR)
                continue;
            if (w <= 0)
                return fail(error, "cannot write " + path);
            done += w;
        }
    }
    if (::fchmod(out.get(), kept) != 0)
        return fail(error, "cannot set the mode of " + path);
    return true;
}

bool copyDir(int fromDir, int toDir, const std::string& prefix, std::string& error) {
    bool ok = true;
    const std::vector<std::string> entries = names(fromDir, ok);
    if (!ok)
        return fail(error, "cannot list " + prefix);
    for (const std::string& name : entries) {
        const std::string path = prefix + "/" + name;
        struct stat info {};
        if (::fstatat(fromDir, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0)
            return fail(error, "cannot read " + path);
        if (S_ISDIR(info.st_mode)) {
            if (::mkdirat(toDir, name.c_str(), 0700) != 0)
                return fail(error, "cannot create " + path);
            Fd from(::openat(fromDir, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
            Fd to(::openat(toDir, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
            if (!from || !to)
                return fail(error, "cannot open " + path);
            if (!copyDir(from.get(), to.get(), path, error))
                return false;
            if (::fchmod(to.get(), (info.st_mode & 0777) | 0700) != 0)
                return fail(error, "cannot set the mode of " + path);
        } else if (S_ISLNK(info.st_mode)) {
            std::vector<char> target(static_cast<size_t>(PATH_MAX) + 1);
            const ssize_t n = ::readlinkat(fromDir, name.c_str(), target.data(), target.size());
            if (n < 0 || static_cast<size_t>(n) >= target.size())
                return fail(error, "cannot read the link " + path);
            if (::symlinkat(std::string(target.data(), static_cast<size_t>(n)).c_str(), toDir,
                            name.c_str()) != 0)
                return fail(error, "cannot create the link " + path);
        } else if (S_ISREG(info.st_mode)) {
            if (!copyFile(fromDir, toDir, name, info.st_mode, path, error))
                return false;
        } else {
            errno = EINVAL;
            return fail(error, "special file " + path);
        }
    }
    return true;
}

// One folder on the way down: its name in its parent, its identity (to find the way back up through ".."),
// and the sub-folders still to remove. Files are removed as soon as the folder is opened.
struct FolderLevel {
    std::string name;
    dev_t device;
    ino_t inode;
    std::vector<std::string> folders;
};

std::string folderPath(const std::string& top, const std::vector<FolderLevel>& levels) {
    std::string path = top;
    for (size_t i = 1; i < levels.size(); ++i)
        path += "/" + levels[i].name;
    return path;
}

// Opens the folder `name` in `dirFd`, makes it writable, removes everything in it but its folders, and
// describes it as a FolderLevel.
bool enterFolder(int dirFd, const std::string& name, Fd& opened, FolderLevel& level) {
    opened = Fd(::openat(dirFd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    struct stat info {};
    if (!opened || ::fstat(opened.get(), &info) != 0)
        return false;
    ::fchmod(opened.get(), (info.st_mode & 0777) | 0700);
    level = FolderLevel{name, info.st_dev, info.st_ino, {}};
    bool ok = true;
    for (const std::string& child : names(opened.get(), ok)) {
        struct stat entry {};
        if (::fstatat(opened.get(), child.c_str(), &entry, AT_SYMLINK_NOFOLLOW) != 0) {
            if (errno == ENOENT)
                continue;
            return false;
        }
        if (S_ISDIR(entry.st_mode))
            level.folders.push_back(child);
        else if (::unlinkat(opened.get(), child.c_str(), 0) != 0 && errno != ENOENT)
            return false;
    }
    return ok;
}

// Removes the tree depth first with two descriptors at most, whatever its depth: the way back up goes
// through "..", checked against the folder recorded on the way down, so a folder moved meanwhile stops the
// removal instead of taking it elsewhere.
bool removeFolderTree(int parentFd, const std::string& name, const std::string& top, std::string& error) {
    std::vector<FolderLevel> levels(1);
    Fd current;
    if (!enterFolder(parentFd, name, current, levels.back()))
        return fail(error, "cannot empty " + top);
    while (!levels.empty()) {
        FolderLevel& level = levels.back();
        if (!level.folders.empty()) {
            const std::string child = std::move(level.folders.back());
            level.folders.pop_back();
            Fd sub;
            FolderLevel next{};
            if (!enterFolder(current.get(), child, sub, next)) {
                if (errno == ENOENT)
                    continue;
                levels.push_back(next);
                return fail(error, "cannot empty " + folderPath(top, levels));
            }
            current = std::move(sub);
            levels.push_back(std::move(next));
            continue;
        }
        if (levels.size() == 1) {
            current = Fd();
            if (::unlinkat(parentFd, level.name.c_str(), AT_REMOVEDIR) != 0 && errno != ENOENT)
                return fail(error, "cannot remove " + top);
            return true;
        }
        Fd up(::openat(current.get(), "..", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        struct stat info {};
        const FolderLevel& parent = levels[levels.size() - 2];
        if (!up || ::fstat(up.get(), &info) != 0 || info.st_dev != parent.device ||
            info.st_ino != parent.inode) {
            if (up)
                errno = ESTALE;
            return fail(error, "cannot go back up from " + folderPath(top, levels));
        }
        current = std::move(up);
        if (::unlinkat(current.get(), level.name.c_str(), AT_REMOVEDIR) != 0 && errno != ENOENT)
            return fail(error, "cannot remove " + folderPath(top, levels));
        levels.pop_back();
    }
    return true;
}

} // namespace

bool copy(const std::string& source, const std::string& destination, std::string& error) {
    struct stat info {};
    if (::lstat(source.c_str(), &info) != 0)
        return fail(error, "cannot read " + source);
    if (!S_ISDIR(info.st_mode)) {
        errno = ENOTDIR;
        return fail(error, source);
    }
    Fd from(::open(source.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!from)
        return fail(error, "cannot open " + source);
    if (::mkdir(destination.c_str(), 0700) != 0)
        return fail(error, "cannot create " + destination);
    Fd to(::open(destination.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!to)
        return fail(error, "cannot open " + destination);
    if (!copyDir(from.get(), to.get(), destination, error))
        return false;
    if (::fchmod(to.get(), (info.st_mode & 0777) | 0700) != 0)
        return fail(error, "cannot set the mode of " + destination);
    // The copy is complete only once it is on disk: a swap may follow at once.
    ::syncfs(to.get());
    return true;
}

bool removeTree(const std::string& path, std::string& error) {
    std::string parent = ".";
    std::string name = path;
    const auto slash = path.find_last_of('/');
    if (slash != std::string::npos) {
        parent = slash == 0 ? "/" : path.substr(0, slash);
        name = path.substr(slash + 1);
    }
    Fd dir(::open(parent.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!dir)
        return errno == ENOENT ? true : fail(error, "cannot open " + parent);
    struct stat info {};
    if (::fstatat(dir.get(), name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0)
        return errno == ENOENT ? true : fail(error, "cannot read " + path);
    if (!S_ISDIR(info.st_mode)) {
        if (::unlinkat(dir.get(), name.c_str(), 0) != 0 && errno != ENOENT)
            return fail(error, "cannot remove " + path);
        return true;
    }
    return removeFolderTree(dir.get(), name, path, error);
}

} // namespace TreeCopy
