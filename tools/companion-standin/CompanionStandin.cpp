#include "CompanionStandin.h"

#include "linux/BundleSignature.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace CompanionStandin {

namespace {

bool write(const QString& path, const QByteArray& bytes) {
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

QByteArray infoPlist(const QString& bundleID, const QString& executable) {
    const auto item = [](const char* key, const QString& value) {
        return QStringLiteral("\t<key>%1</key>\n\t<string>%2</string>\n")
            .arg(QLatin1String(key), value.toHtmlEscaped());
    };
    QString text = QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                                  "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
                                  "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
                                  "<plist version=\"1.0\">\n<dict>\n");
    text += item("CFBundleIdentifier", bundleID);
    text += item("CFBundleExecutable", executable);
    text += item("CFBundleName", QStringLiteral("Orvane"));
    text += item("CFBundlePackageType", QStringLiteral("APPL"));
    text += item("CFBundleVersion", QStringLiteral("1"));
    text += QStringLiteral("</dict>\n</plist>\n");
    return text.toUtf8();
}

} // namespace

QString program() {
    return QStringLiteral(COMPANION_STANDIN_PROGRAM);
}

bool assemble(const QString& appPath, const QString& bundleID, const QString& executable) {
    const QString contents = appPath + QStringLiteral("/Contents");
    const QString exe = contents + QStringLiteral("/MacOS/") + executable;
    if (!write(contents + QStringLiteral("/Info.plist"), infoPlist(bundleID, executable)) ||
        !write(contents + QStringLiteral("/Resources/About.txt"), QByteArrayLiteral("Orvane stand-in\n")))
        return false;
    QDir().mkpath(QFileInfo(exe).path());
    QFile::remove(exe);
    return QFile::copy(program(), exe) &&
           QFile::setPermissions(exe, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                          QFileDevice::ExeOwner | QFileDevice::ReadGroup |
                                          QFileDevice::ExeGroup | QFileDevice::ReadOther |
                                          QFileDevice::ExeOther);
}

bool assembleSigned(const QString& appPath, const QString& bundleID, const Ed25519Key& key,
                    const QString& team, const QString& executable) {
    if (!assemble(appPath, bundleID, executable))
        return false;
    try {
        BundleSignature::sign(appPath, key, bundleID, team);
    } catch (const BundleSignature::Error&) {
        return false;
    }
    return true;
}

QString receivedLinksFile(const QString& appPath) {
    return QDir::cleanPath(appPath) + QStringLiteral(".received-links.txt");
}

QStringList receivedLinks(const QString& appPath) {
    QFile file(receivedLinksFile(appPath));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QStringList lines = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'));
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

} // namespace CompanionStandin
