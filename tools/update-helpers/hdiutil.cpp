// orvane-hdiutil: the disk-image tool of the Linux self-update, with the command lines the update uses.
//   orvane-hdiutil attach [-nobrowse] [-readonly] [-noautoopen] -mountpoint M IMAGE
//   orvane-hdiutil detach M [-quiet] [-force]
// Exit status 0 on success, 1 when the image cannot be attached or detached, 2 on wrong usage.
#include "ImageArchive.h"

#include <clocale>
#include <iostream>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    // pax headers (bsdtar's default format) carry names as UTF-8, which libarchive converts through the
    // locale's character set; without a UTF-8 one every name outside ASCII makes the image unreadable.
    if (!std::setlocale(LC_CTYPE, "C.UTF-8"))
        std::setlocale(LC_CTYPE, "");
    const std::vector<std::string> args(argv + 1, argv + argc);
    std::string error;
    if (!args.empty() && args[0] == "attach") {
        std::string mountPoint, image;
        for (size_t i = 1; i < args.size(); ++i) {
            if (args[i] == "-mountpoint" && i + 1 < args.size())
                mountPoint = args[++i];
            else if (args[i] == "-nobrowse" || args[i] == "-readonly" || args[i] == "-noautoopen")
                continue;
            else if (image.empty() && !args[i].empty() && args[i][0] != '-')
                image = args[i];
            else
                return 2;
        }
        if (mountPoint.empty() || image.empty())
            return 2;
        if (!ImageArchive::attach(image, mountPoint, error)) {
            std::cerr << "orvane-hdiutil: " << error << "\n";
            return 1;
        }
        return 0;
    }
    if (!args.empty() && args[0] == "detach" && args.size() >= 2) {
        bool quiet = false;
        for (size_t i = 2; i < args.size(); ++i) {
            if (args[i] == "-quiet")
                quiet = true;
            else if (args[i] != "-force")
                return 2;
        }
        if (!ImageArchive::detach(args[1], error)) {
            if (!quiet)
                std::cerr << "orvane-hdiutil: " << error << "\n";
            return 1;
        }
        return 0;
    }
    std::cerr << "usage: orvane-hdiutil attach [-nobrowse] [-readonly] [-noautoopen] -mountpoint M IMAGE\n"
                 "       orvane-hdiutil detach M [-quiet] [-force]\n";
    return 2;
}
