#include "tests/relay/proc_scan.h"

#include <filesystem>
#include <fstream>
#include <sstream>

namespace quenlark::test {
namespace {

// Fields of /proc/<pid>/stat after the command name, which may itself hold blanks.
std::optional<std::string> StatAfterName(pid_t pid) {
    std::ifstream file("/proc/" + std::to_string(pid) + "/stat");
    std::string stat;
    if (!std::getline(file, stat)) {
        return std::nullopt;
    }
    const auto close = stat.rfind(')');
    if (close == std::string::npos || close + 2 > stat.size()) {
        return std::nullopt;
    }
    return stat.substr(close + 2);
}

std::string Canonical(const std::string& path) {
    std::error_code error;
    const auto canonical = std::filesystem::weakly_canonical(path, error);
    return error ? path : canonical.string();
}

}  // namespace

std::vector<pid_t> ChildrenOf(pid_t parent) {
    std::vector<pid_t> children;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/proc", error)) {
        const std::string name = entry.path().filename().string();
        if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos) {
            continue;
        }
        const pid_t pid = static_cast<pid_t>(std::stol(name));
        if (const auto fields = StatAfterName(pid)) {
            std::istringstream in(*fields);
            char state = 0;
            pid_t ppid = 0;
            if (in >> state >> ppid && ppid == parent) {
                children.push_back(pid);
            }
        }
    }
    return children;
}

std::vector<pid_t> ChildrenRunning(pid_t parent, const std::string& program) {
    std::vector<pid_t> matching;
    const std::string wanted = Canonical(program);
    for (pid_t child : ChildrenOf(parent)) {
        if (ExecutableOf(child) == wanted) {
            matching.push_back(child);
        }
    }
    return matching;
}

std::optional<char> StateOf(pid_t pid) {
    const auto fields = StatAfterName(pid);
    if (!fields || fields->empty()) {
        return std::nullopt;
    }
    return (*fields)[0];
}

std::string ExecutableOf(pid_t pid) {
    std::error_code error;
    const auto target =
        std::filesystem::read_symlink("/proc/" + std::to_string(pid) + "/exe", error);
    return error ? std::string() : target.string();
}

std::vector<std::string> ArgumentsOf(pid_t pid) {
    std::ifstream file("/proc/" + std::to_string(pid) + "/cmdline", std::ios::binary);
    std::vector<std::string> arguments;
    std::string argument;
    while (std::getline(file, argument, '\0')) {
        arguments.push_back(argument);
    }
    return arguments;
}

std::string WorkingDirectoryOf(pid_t pid) {
    std::error_code error;
    const auto target =
        std::filesystem::read_symlink("/proc/" + std::to_string(pid) + "/cwd", error);
    return error ? std::string() : target.string();
}

}  // namespace quenlark::test
