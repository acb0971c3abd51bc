// orvane-ditto SRC DST: copies a bundle exactly (modes, symbolic links, the signature folder) to a new
// place. Exit status 0 on success, 1 on any error, 2 on wrong usage.
#include "TreeCopy.h"

#include <iostream>
#include <string>

int main(int argc, char** argv) {
    if (argc != 3) {
        std::cerr << "usage: orvane-ditto SRC DST\n";
        return 2;
    }
    std::string error;
    if (!TreeCopy::copy(argv[1], argv[2], error)) {
        std::cerr << "orvane-ditto: " << error << "\n";
        return 1;
    }
    return 0;
}
