#include "UpdateFiles.h"

#include "TreeCopy.h"
#include "UpdateFailure.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace UpdateFiles {

namespace {

QString systemText() {
    return QString::fromLocal8Bit(std::strerror(errno));
}

} // namespace

Tools Tools::forBundle(const QString& bundlePath) {
#if defined(__APPLE__)
    Q_UNUSED(bundlePath);
    return {QStringLiteral("/usr/bin/hdiutil"), QStringLiteral("/usr/bin/ditto"),
            QStringLiteral("/usr/sbin/spctl")};
#else
    const QString helpers = bundlePath + QStringLiteral("/Contents/Helpers/");
    return {helpers + QStringLiteral("orvane-hdiutil"), helpers + QStringLiteral("orvane-ditto"),
            helpers + QStringLiteral("orvane-spctl")};
#endif
}

QStringList applications(const QString& folder) {
    QStringList found;
    const QDir dir(folder);
    for (const QString& name :
         dir.entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden, QDir::Name))
        if (QFileInfo(name).suffix() == QLatin1String("app"))
            found << dir.filePath(name);
    return found;
}

namespace {
const QString replacementPrefix = QStringLiteral(".orvane-update-");
}

QString itemReplacementDirectory(const QString& bundle) {
    const QString parent = QFileInfo(bundle).absolutePath();
    QByteArray pattern =
        QFile::encodeName(parent + QLatin1Char('/') + replacementPrefix + QStringLiteral("XXXXXX"));
    if (!::mkdtemp(pattern.data()))
        throw UpdateFailure(QStringLiteral("临时目录建不起来（%1）").arg(systemText()));
    return QFile::decodeName(pattern);
}

void removeLeftovers(const QString& bundle) {
    const QDir parent = QFileInfo(bundle).absoluteDir();
    const QStringList names =
        parent.entryList({replacementPrefix + QLatin1Char('*')}, QDir::Dirs | QDir::Hidden);
    for (const QString& name : names)
        removeItem(parent.filePath(name));
}

void swapIntoPlace(const QString& staged, const QString& bundle) {
    const QByteArray from = QFile::encodeName(staged);
    const QByteArray to = QFile::encodeName(bundle);
#if defined(__APPLE__)
    const int status = ::renamex_np(from.constData(), to.constData(), RENAME_SWAP);
#else
    const int status = ::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_EXCHANGE);
#endif
    if (status != 0)
        throw UpdateFailure(QStringLiteral("新旧版本换不过来（%1）").arg(systemText()));
    // The old application now sits where the staged copy was; it and its folder go.
    std::string ignored;
    TreeCopy::removeTree(from.toStdString(), ignored);
    ::rmdir(QFile::encodeName(QFileInfo(staged).absolutePath()).constData());
}

void removeItem(const QString& path) {
    std::string ignored;
    TreeCopy::removeTree(QFile::encodeName(path).toStdString(), ignored);
}

void prepareMountPoint(const QString& mountPoint, const QString& prefix) {
    const QDir parent = QFileInfo(mountPoint).absoluteDir();
    for (const QString& name :
         parent.entryList({prefix + QLatin1Char('*')},
                          QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System))
        removeItem(parent.filePath(name));
    const QByteArray path = QFile::encodeName(mountPoint);
    if (QFileInfo(mountPoint).exists() || QFileInfo(mountPoint).isSymLink()) {
        QByteArray aside = path + ".stale-XXXXXX";
        if (::mkdtemp(aside.data()))
            ::rename(path.constData(), aside.constData());
    }
    QDir().mkpath(mountPoint);
}

} // namespace UpdateFiles
