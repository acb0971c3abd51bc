// orvane-spctl --assess --type execute BUNDLE: accepts a bundle whose signature is valid under this build's
// keys and whose manifest also carries the notary's signature. Exit status 0 accepted, 3 rejected, 2 on
// wrong usage.
#include "linux/BundleSignature.h"
#include "linux/LinuxCodeSigning.h"

#include <QString>

#include <iostream>
#include <string>

int main(int argc, char** argv) {
    if (argc != 5 || std::string(argv[1]) != "--assess" || std::string(argv[2]) != "--type" ||
        std::string(argv[3]) != "execute") {
        std::cerr << "usage: orvane-spctl --assess --type execute BUNDLE\n";
        return 2;
    }
    if (!BundleSignature::assess(QString::fromLocal8Bit(argv[4]), trustedKeys())) {
        std::cerr << argv[4] << ": rejected\n";
        return 3;
    }
    return 0;
}
