// The image reader of orvane-hdiutil: an archive a hostile update server could send is unpacked into a new
// mount point and removed again. Besides memory faults, a refused image that leaves anything behind, or an
// accepted one that cannot be removed, stops the run.
#include "ImageArchive.h"

#include <clocale>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <string>
#include <unistd.h>

namespace {

const std::string& imageFuzzFolder() {
    static const std::string folder = [] {
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/fuzz-image-XXXXXX";
        if (!::mkdtemp(pattern.data()))
            std::abort();
        return pattern;
    }();
    return folder;
}

// The entries of the work folder besides the image itself.
int imageFuzzLeftovers() {
    DIR* dir = ::opendir(imageFuzzFolder().c_str());
    if (!dir)
        std::abort();
    int count = 0;
    while (dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        count += name != "." && name != ".." && name != "image";
    }
    ::closedir(dir);
    return count;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // As orvane-hdiutil runs: pax names are UTF-8.
    if (!std::setlocale(LC_CTYPE, "C.UTF-8"))
        std::setlocale(LC_CTYPE, "");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string image = imageFuzzFolder() + "/image", mountPoint = imageFuzzFolder() + "/mount";
    FILE* file = std::fopen(image.c_str(), "wb");
    if (!file || std::fwrite(data, 1, size, file) != size || std::fclose(file) != 0)
        std::abort();
    std::string error;
    if (ImageArchive::attach(image, mountPoint, error)) {
        if (!ImageArchive::detach(mountPoint, error))
            __builtin_trap();
    }
    if (imageFuzzLeftovers() != 0)
        __builtin_trap();
    return 0;
}
