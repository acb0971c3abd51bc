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

bool removeIn(int dirFd, const std::string& name, const std::string& path, std::string& error) {
    struct stat info {};
    if (::fstatat(dirFd, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0)
        return errno == ENOENT ? true : fail(error, "cannot read " + path);
    if (!S_ISDIR(info.st_mode)) {
        if (::unlinkat(dirFd, name.c_str(), 0) != 0 && errno != ENOENT)
            return fail(error, "cannot remove " + path);
        return true;
    }
    Fd sub(::openat(dirFd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!sub)
        return fail(error, "cannot open " + path);
    ::fchmod(sub.get(), (info.st_mode & 0777) | 0700);
    bool ok = true;
    for (const std::string& child : names(sub.get(), ok))
        if (!removeIn(sub.get(), child, path + "/" + child, error))
            return false;
    if (!ok)
        return fail(error, "cannot list " + path);
    if (::unlinkat(dirFd, name.c_str(), AT_REMOVEDIR) != 0 && errno != ENOENT)
        return fail(error, "cannot remove " + path);
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
    return removeIn(dir.get(), name, path, error);
}

} // namespace TreeCopy
