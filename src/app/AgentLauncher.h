#pragma once

#include <QByteArray>
#include <QString>

#include <chrono>
#include <map>
#include <mutex>
#include <optional>
#include <string>

// Agent mode: turns this process into the bridge. Runs before (and without) any Qt application object and
// ends in execve or in exit status 1.
namespace AgentLauncher {

// What the login shell's reader thread hands back to the waiting thread.
struct OutputBox {
    std::mutex lock;
    QByteArray data;
};

struct SearchPath {
    QString path;   // the PATH text given to the bridge
    QString source; // how it was obtained, as named in the start line
};

// name -> value, both as the raw bytes of the environment.
using Environment = std::map<std::string, std::string>;

inline constexpr char markerText[] = "__SENVIK_PATH__";
inline constexpr std::chrono::milliseconds loginShellLimit{5000};
inline constexpr qint64 rotationSize = 5242880;

[[noreturn]] void run();

// The directory holding runtime/node and bridge/src/main.ts: the main bundle's resources when there is a
// bundle, else "Resources" beside the executable's directory (taken from the first argument).
QString resourcesDirectory(const std::optional<QString>& bundleResources, const QString& argument0);

// Moves the bridge log aside when it has grown too large, then makes it standard output and error.
void redirectOutput();
// The rotation step alone: the log moves to <log>.1 (replacing it) only above rotationSize bytes.
void rotateIfLarge(const QString& log);

SearchPath searchPath();
SearchPath searchPath(const std::optional<QString>& loginShellResult, const QString& home);

// The login shell's PATH, or nothing when the shell fails, is silent, is slow or prints no marked line.
std::optional<QString> loginShellPath();
std::optional<QString> loginShellPath(const QString& shell,
                                      std::chrono::milliseconds limit = loginShellLimit);

// The shell to ask: the user database entry, else SHELL, else /bin/zsh.
QString loginShell();
QString loginShell(const std::optional<QString>& databaseShell, const std::optional<QString>& shellVariable);

// The command given to the login shell after "-ilc".
QString loginShellCommand();

// The text between the first two markers of the shell's output; empty counts as nothing.
std::optional<QString> markedPath(const QByteArray& output);

// The bridge's environment: the inherited one with PATH and the two connector variables decided.
Environment bridgeEnvironment(Environment inherited, const QString& path,
                              const std::optional<QString>& bundleVersion,
                              const std::optional<QString>& feedOverride,
                              const std::optional<QString>& bundleFeed);
Environment processEnvironment();

// The number of non-empty parts of a PATH text.
int pathCount(const QString& path);
QString startMessage(const SearchPath& searchPath);

// One "HH:mm:ss message" line to standard error, in one write.
void log(const QString& message);

} // namespace AgentLauncher
