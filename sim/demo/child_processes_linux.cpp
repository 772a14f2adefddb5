#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "sim/demo/child_processes.h"

namespace quenlark::demo {

std::vector<pid_t> ChildProcesses() {
    std::vector<pid_t> children;
    const pid_t self = getpid();
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/proc", error)) {
        const std::string name = entry.path().filename().string();
        if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos) {
            continue;
        }
        std::ifstream file(entry.path() / "stat");
        std::string stat;
        if (!std::getline(file, stat)) {
            continue;  // ended meanwhile
        }
        // "pid (comm) state ppid ...": the name may hold blanks and parentheses.
        const auto close = stat.rfind(')');
        if (close == std::string::npos) {
            continue;
        }
        std::istringstream rest(stat.substr(close + 1));
        char state = 0;
        long parent = 0;
        if (rest >> state >> parent && parent == self) {
            children.push_back(static_cast<pid_t>(std::atol(name.c_str())));
        }
    }
    return children;
}

}  // namespace quenlark::demo
