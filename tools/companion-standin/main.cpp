// A stand-in companion app: records the links it is handed, one per line, then ends. Links arrive as lines on
// its standard input (see README.md); anything it finds in its arguments is recorded too, so that a link
// passed the old, world-readable way shows up in the record. The record goes to the file named by
// COMPANION_STANDIN_RECEIVED, or else beside its bundle: <bundle>.received-links.txt (outside the bundle, so
// its signature stays intact), readable by its owner only, since it holds tickets.
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string parent(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

std::string recordFile() {
    if (const char* chosen = std::getenv("COMPANION_STANDIN_RECEIVED"); chosen && *chosen)
        return chosen;
    char buffer[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (n <= 0)
        return {};
    const std::string exe(buffer, static_cast<size_t>(n));
    const std::string macos = parent(exe);
    const std::string contents = parent(macos);
    if (macos.size() >= 6 && macos.compare(macos.size() - 6, 6, "/MacOS") == 0 && contents.size() >= 9 &&
        contents.compare(contents.size() - 9, 9, "/Contents") == 0)
        return parent(contents) + ".received-links.txt";
    return exe + ".received-links.txt";
}

} // namespace

int main(int argc, char** argv) {
    const std::string file = recordFile();
    if (file.empty())
        return 1;
    std::string record;
    for (int i = 1; i < argc; ++i) {
        record += argv[i];
        record += '\n';
    }
    // Standard input to its end, unless it is a terminal (started by hand): those lines are the links.
    if (!::isatty(STDIN_FILENO)) {
        char buffer[4096];
        std::string input;
        for (;;) {
            const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0 || input.size() > (1u << 20))
                break;
            input.append(buffer, static_cast<size_t>(n));
        }
        if (!input.empty() && input.back() != '\n')
            input += '\n';
        record += input;
    }
    // One append of the whole record, so records of apps started at the same time never interleave.
    const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        return 1;
    // An older record made with wider permissions is narrowed too: it holds tickets.
    [[maybe_unused]] const int narrowed = ::fchmod(fd, 0600);
    ssize_t written;
    do
        written = ::write(fd, record.data(), record.size());
    while (written < 0 && errno == EINTR);
    ::close(fd);
    return written == static_cast<ssize_t>(record.size()) ? 0 : 1;
}
