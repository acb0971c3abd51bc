#include "ImageArchive.h"

#include "RelativePath.h"
#include "TreeCopy.h"
#include "UnpackedTree.h"

#include <archive.h>
#include <archive_entry.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace ImageArchive {

namespace {

using RelativePath::components;

// A member's name as a safe relative path ("./" prefixes and empty pieces dropped); empty when unsafe.
std::string safeRelative(const char* raw) {
    if (!raw || !*raw || raw[0] == '/')
        return {};
    std::string out;
    for (const std::string& part : components(raw)) {
        if (part.empty() || part == ".")
            continue;
        if (part == "..")
            return {};
        out += (out.empty() ? "" : "/") + part;
    }
    return out;
}

bool isEmptyDirectory(const std::string& path, bool& exists) {
    DIR* dir = ::opendir(path.c_str());
    exists = dir != nullptr || errno != ENOENT;
    if (!dir)
        return !exists;
    bool empty = true;
    while (dirent* entry = ::readdir(dir))
        if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
            empty = false;
    ::closedir(dir);
    return empty;
}

// Takes every write permission away, folders last so their contents can still be changed on the way.
void makeReadOnly(const std::string& path) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0 || S_ISLNK(info.st_mode))
        return;
    if (S_ISDIR(info.st_mode)) {
        if (DIR* dir = ::opendir(path.c_str())) {
            std::vector<std::string> names;
            while (dirent* entry = ::readdir(dir))
                if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
                    names.emplace_back(entry->d_name);
            ::closedir(dir);
            for (const std::string& name : names)
                makeReadOnly(path + "/" + name);
        }
    }
    ::chmod(path.c_str(), info.st_mode & 0555);
}

// libarchive's text for its last error; it has none for some failures (a null pointer then).
std::string archiveError(archive* a) {
    const char* text = archive_error_string(a);
    return text ? text : "unknown error";
}

struct ReadArchive {
    archive* a = archive_read_new();
    ~ReadArchive() { archive_read_free(a); }
};
struct WriteDisk {
    archive* a = archive_write_disk_new();
    ~WriteDisk() { archive_write_free(a); }
};

bool unpackHere(const std::string& image, std::string& error) {
    ReadArchive in;
    archive_read_support_filter_all(in.a);
    archive_read_support_format_tar(in.a);
    archive_read_support_format_gnutar(in.a);
    if (archive_read_open_filename(in.a, image.c_str(), 1 << 20) != ARCHIVE_OK) {
        error = std::string("cannot open the image: ") + archiveError(in.a);
        return false;
    }
    WriteDisk out;
    // Defence in depth: libarchive's own checks stay on beside the ones below.
    archive_write_disk_set_options(out.a, ARCHIVE_EXTRACT_SECURE_NODOTDOT | ARCHIVE_EXTRACT_SECURE_SYMLINKS |
                                              ARCHIVE_EXTRACT_SECURE_NOABSOLUTEPATHS | ARCHIVE_EXTRACT_PERM |
                                              ARCHIVE_EXTRACT_NO_OVERWRITE | ARCHIVE_EXTRACT_UNLINK);
    int members = 0;
    long long unpacked = 0;
    UnpackedTree tree(maxMembers);
    for (;;) {
        archive_entry* entry = nullptr;
        const int status = archive_read_next_header(in.a, &entry);
        if (status == ARCHIVE_EOF)
            break;
        if (status != ARCHIVE_OK) {
            error = std::string("unreadable image: ") + archiveError(in.a);
            return false;
        }
        const char* rawName = archive_entry_pathname(entry);
        const std::string name = safeRelative(rawName);
        if (name.empty()) {
            error = std::string("unsafe path in the image: ") + (rawName ? rawName : "");
            return false;
        }
        const mode_t type = archive_entry_filetype(entry);
        const mode_t mode = archive_entry_perm(entry);
        if (archive_entry_hardlink(entry)) {
            error = "hard link in the image: " + name;
            return false;
        }
        if (type != AE_IFREG && type != AE_IFDIR && type != AE_IFLNK) {
            error = "special file in the image: " + name;
            return false;
        }
        // A small image must not unpack into a full disk, nor into a tree too deep to walk or remove.
        unpacked += std::max<la_int64_t>(0, archive_entry_size(entry));
        if (++members > maxMembers || unpacked > maxUnpackedBytes ||
            components(name).size() > static_cast<size_t>(maxDepth)) {
            error = "the image unpacks into more than it may: " + name.substr(0, 200);
            return false;
        }
        if (mode & (S_ISUID | S_ISGID | S_ISVTX)) {
            error = "set-id bit in the image: " + name;
            return false;
        }
        const char* target = archive_entry_symlink(entry);
        const bool recorded = type == AE_IFDIR   ? tree.addFolder(name)
                              : type == AE_IFREG ? tree.addFile(name)
                                                 : tree.addLink(name, target ? target : "");
        if (!recorded) {
            error = "the image writes through a link or a file, or holds too much: " + name;
            return false;
        }
        if (type == AE_IFLNK && !tree.linkStaysInside(name)) {
            error = "link leaving the image: " + name;
            return false;
        }
        archive_entry_set_pathname(entry, name.c_str()); // relative to `into`, the working directory
        archive_entry_set_perm(entry, (type == AE_IFDIR ? (mode | 0700) : mode) & 0777);
        archive_entry_set_uid(entry, ::getuid());
        archive_entry_set_gid(entry, ::getgid());
        if (archive_write_header(out.a, entry) != ARCHIVE_OK) {
            error = std::string("cannot unpack ") + name + ": " + archiveError(out.a);
            return false;
        }
        if (type == AE_IFREG && archive_entry_size(entry) > 0) {
            const void* block = nullptr;
            size_t size = 0;
            la_int64_t offset = 0;
            for (;;) {
                const int r = archive_read_data_block(in.a, &block, &size, &offset);
                if (r == ARCHIVE_EOF)
                    break;
                if (r != ARCHIVE_OK) {
                    error = std::string("unreadable image: ") + archiveError(in.a);
                    return false;
                }
                if (archive_write_data_block(out.a, block, size, offset) != ARCHIVE_OK) {
                    error = std::string("cannot unpack ") + name + ": " + archiveError(out.a);
                    return false;
                }
            }
        }
        if (archive_write_finish_entry(out.a) != ARCHIVE_OK) {
            error = std::string("cannot unpack ") + name + ": " + archiveError(out.a);
            return false;
        }
    }
    if (archive_write_close(out.a) != ARCHIVE_OK) {
        error = std::string("cannot finish unpacking: ") + archiveError(out.a);
        return false;
    }
    if (members == 0) {
        error = "the image is empty";
        return false;
    }
    // A later member can change where an earlier link leads: every link is judged again in the whole tree.
    if (!tree.allLinksStayInside()) {
        error = "a link leaves the image through the links after it";
        return false;
    }
    return true;
}

// Unpacks with `into` as the working directory, so every member's name stays relative to it.
bool unpack(const std::string& image, const std::string& into, std::string& error) {
    const int home = ::open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    char* absolute = ::realpath(image.c_str(), nullptr);
    const std::string imagePath = absolute ? absolute : image;
    std::free(absolute);
    if (home < 0 || ::chdir(into.c_str()) != 0) {
        error = "cannot enter " + into + ": " + std::strerror(errno);
        if (home >= 0)
            ::close(home);
        return false;
    }
    const bool ok = unpackHere(imagePath, error);
    const bool back = ::fchdir(home) == 0;
    ::close(home);
    return ok && back;
}

} // namespace

bool attach(const std::string& image, const std::string& mountPoint, std::string& error) {
    bool exists = false;
    if (!isEmptyDirectory(mountPoint, exists)) {
        error = "the mount point is not empty: " + mountPoint;
        return false;
    }
    // Unpacked beside the mount point first, so the mount point shows either nothing or the whole image.
    std::string scratch = mountPoint + ".attach-XXXXXX";
    if (!::mkdtemp(scratch.data())) {
        error = "cannot create " + scratch + ": " + std::strerror(errno);
        return false;
    }
    std::string ignored;
    if (!unpack(image, scratch, error)) {
        TreeCopy::removeTree(scratch, ignored);
        return false;
    }
    makeReadOnly(scratch);
    if ((exists && ::rmdir(mountPoint.c_str()) != 0) || ::rename(scratch.c_str(), mountPoint.c_str()) != 0) {
        error = "cannot attach at " + mountPoint + ": " + std::strerror(errno);
        TreeCopy::removeTree(scratch, ignored);
        return false;
    }
    return true;
}

bool detach(const std::string& mountPoint, std::string& error) {
    struct stat info {};
    if (::lstat(mountPoint.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
        error = "nothing attached at " + mountPoint;
        return false;
    }
    return TreeCopy::removeTree(mountPoint, error);
}

} // namespace ImageArchive
