#include "OpenedBundle.h"

#include <QFile>

#include <fcntl.h>
#include <unistd.h>

std::shared_ptr<OpenedBundle> OpenedBundle::open(const QString& path) {
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return nullptr;
    return std::shared_ptr<OpenedBundle>(new OpenedBundle(fd, path));
}

OpenedBundle::~OpenedBundle() {
    ::close(fd_);
}
