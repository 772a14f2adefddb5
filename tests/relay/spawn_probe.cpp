// Started by the launcher's process services in tests: writes what it was given (its
// arguments, working directory and every open descriptor with its target, close-on-exec
// flag and, for a pidfd, the process it names) into the file named by
// QUENLARK_PROBE_REPORT, with its blocked and ignored signals, then waits to be ended.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    const char* report = std::getenv("QUENLARK_PROBE_REPORT");
    if (report == nullptr) {
        return 2;
    }
    // Everything is gathered before the report file is opened, so that the file's own
    // descriptor is not among those reported.
    std::ostringstream out;
    {
        out << "argc " << argc << "\n";
        for (int i = 0; i < argc; ++i) {
            out << "arg " << argv[i] << "\n";
        }
        out << "cwd " << std::filesystem::current_path().string() << "\n";
        {
            std::ifstream status("/proc/self/status");
            for (std::string line; std::getline(status, line);) {
                if (line.rfind("SigBlk:", 0) == 0 || line.rfind("SigIgn:", 0) == 0) {
                    out << "signals " << line << "\n";
                }
            }
        }
        // Listed first, inspected after: the listing's own descriptor is not reported.
        std::vector<int> fds;
        for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
            fds.push_back(std::stoi(entry.path().filename().string()));
        }
        std::sort(fds.begin(), fds.end());
        for (int fd : fds) {
            const int flags = fcntl(fd, F_GETFD);
            if (flags < 0) {
                continue;  // the listing's descriptor, closed by now
            }
            std::error_code error;
            const auto target =
                std::filesystem::read_symlink("/proc/self/fd/" + std::to_string(fd), error);
            std::string pid = "-";
            std::ifstream info("/proc/self/fdinfo/" + std::to_string(fd));
            for (std::string line; std::getline(info, line);) {
                if (line.rfind("Pid:", 0) == 0) {
                    pid = line.substr(line.find_first_not_of(" \t", 4));
                }
            }
            out << "fd " << fd << " " << (error ? "?" : target.string()) << " "
                << ((flags & FD_CLOEXEC) != 0 ? "cloexec" : "inherit") << " " << pid << "\n";
        }
    }
    const std::string partial = std::string(report) + ".partial";
    std::ofstream(partial) << out.str();
    std::filesystem::rename(partial, report);
    for (;;) {
        pause();
    }
}
