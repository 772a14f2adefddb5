#include "sim/pistol/pistol_harness.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <map>
#include <stdexcept>
#include <thread>

#include <sdbus-c++/sdbus-c++.h>

extern char** environ;

namespace quenlark::sim {
namespace {

constexpr auto kStartBound = std::chrono::seconds(10);
constexpr auto kCallTimeout = std::chrono::seconds(5);

bool waitForExit(pid_t pid, std::chrono::milliseconds bound) {
    const auto deadline = std::chrono::steady_clock::now() + bound;
    for (;;) {
        int status = 0;
        const pid_t done = waitpid(pid, &status, WNOHANG);
        if (done == pid || (done < 0 && errno == ECHILD)) {
            return true;
        }
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

}  // namespace

// ---- ChildProcess ------------------------------------------------------------------------

ChildProcess::~ChildProcess() {
    stop(SIGKILL);
}

bool ChildProcess::start(const std::vector<std::string>& argv,
                         const std::vector<std::pair<std::string, std::string>>& setEnv, int fd3) {
    stop(SIGKILL);
    // Everything the child needs is built before fork: between fork and exec it only
    // makes system calls.
    std::map<std::string, std::string> variables;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string text = *entry;
        const auto equals = text.find('=');
        if (equals != std::string::npos) {
            variables[text.substr(0, equals)] = text.substr(equals + 1);
        }
    }
    for (const auto& [name, value] : setEnv) {
        variables[name] = value;
    }
    std::vector<std::string> envText;
    for (const auto& [name, value] : variables) {
        envText.push_back(name + "=" + value);
    }
    std::vector<char*> envp;
    for (auto& text : envText) {
        envp.push_back(text.data());
    }
    envp.push_back(nullptr);
    std::vector<std::string> args = argv;
    std::vector<char*> argp;
    for (auto& arg : args) {
        argp.push_back(arg.data());
    }
    argp.push_back(nullptr);
    const pid_t parent = getpid();

    const pid_t pid = fork();
    if (pid < 0) {
        return false;
    }
    if (pid == 0) {
        // Dies with the test process, whatever becomes of it.
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != parent) {
            _exit(127);
        }
        if (fd3 >= 0) {
            if (fd3 == 3) {
                fcntl(3, F_SETFD, 0);
            } else {
                dup2(fd3, 3);
            }
        }
        execve(argp[0], argp.data(), envp.data());
        _exit(127);
    }
    pid_ = pid;
    return true;
}

void ChildProcess::stop(int signal) {
    if (pid_ <= 0) {
        return;
    }
    ::kill(pid_, signal);
    if (!waitForExit(pid_, std::chrono::seconds(5))) {
        ::kill(pid_, SIGKILL);
        waitForExit(pid_, std::chrono::seconds(5));
    }
    pid_ = -1;
}

bool ChildProcess::running() {
    if (pid_ <= 0) {
        return false;
    }
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        return false;
    }
    return true;
}

// ---- PrivateBus --------------------------------------------------------------------------

PrivateBus::PrivateBus() {
    char pattern[] = "/tmp/quenlark-bus-XXXXXX";
    if (mkdtemp(pattern) == nullptr) {
        throw std::runtime_error("cannot make a directory for the private bus");
    }
    directory_ = pattern;
    socketPath_ = directory_ + "/bus";
    address_ = "unix:path=" + socketPath_;
    start();
}

PrivateBus::~PrivateBus() {
    daemon_.stop(SIGKILL);
    std::error_code ignored;
    std::filesystem::remove_all(directory_, ignored);
}

void PrivateBus::useAsSystemBus() const {
    setenv("DBUS_SYSTEM_BUS_ADDRESS", address_.c_str(), 1);
}

void PrivateBus::kill() {
    daemon_.stop(SIGKILL);
}

void PrivateBus::start() {
    daemon_.stop(SIGKILL);
    unlink(socketPath_.c_str());
    int ready[2];
    if (pipe2(ready, O_CLOEXEC) != 0) {
        throw std::runtime_error("cannot make a pipe for the private bus");
    }
    const bool started = daemon_.start(
        {QUENLARK_DBUS_DAEMON, std::string("--config-file=") + QUENLARK_PRIVATE_BUS_CONFIG,
         "--nofork", "--nopidfile", "--address=" + address_, "--print-address=3"},
        {}, ready[1]);
    close(ready[1]);
    // The daemon prints its address once it listens.
    std::string printed;
    const auto deadline = std::chrono::steady_clock::now() + kStartBound;
    while (started && printed.find('\n') == std::string::npos &&
           std::chrono::steady_clock::now() < deadline) {
        pollfd fd{ready[0], POLLIN, 0};
        if (poll(&fd, 1, 100) > 0) {
            char buffer[256];
            const ssize_t count = read(ready[0], buffer, sizeof buffer);
            if (count <= 0) {
                break;
            }
            printed.append(buffer, static_cast<std::size_t>(count));
        }
    }
    close(ready[0]);
    if (printed.find('\n') == std::string::npos) {
        daemon_.stop(SIGKILL);
        throw std::runtime_error("the private dbus-daemon did not start");
    }
}

// ---- SimulatedPistol ---------------------------------------------------------------------

SimulatedPistol::SimulatedPistol(PrivateBus& bus, std::string scene)
    : bus_(bus), scene_(std::move(scene)) {
    start();
}

SimulatedPistol::~SimulatedPistol() {
    dropControl();
    process_.stop(SIGTERM);
}

void SimulatedPistol::kill() {
    process_.stop(SIGKILL);
    dropControl();
}

void SimulatedPistol::start() {
    process_.stop(SIGKILL);
    dropControl();
    if (!process_.start({QUENLARK_SIM_PISTOL, "--scene", scene_},
                        {{"DBUS_SYSTEM_BUS_ADDRESS", bus_.address()}})) {
        throw std::runtime_error("cannot start the simulated pistol");
    }
    const auto deadline = std::chrono::steady_clock::now() + kStartBound;
    while (std::chrono::steady_clock::now() < deadline && process_.running()) {
        try {
            auto connection = sdbus::createSessionBusConnectionWithAddress(bus_.address());
            auto daemon =
                sdbus::createProxy(*connection, "org.freedesktop.DBus", "/org/freedesktop/DBus");
            bool owned = false;
            daemon->callMethod("NameHasOwner")
                .onInterface("org.freedesktop.DBus")
                .withTimeout(kCallTimeout)
                .withArguments(std::string("org.bluez"))
                .storeResultsTo(owned);
            if (owned) {
                return;
            }
        } catch (const sdbus::Error&) {
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    process_.stop(SIGKILL);
    throw std::runtime_error("the simulated pistol did not come up");
}

void SimulatedPistol::dropControl() {
    control_.reset();
    connection_.reset();
}

sdbus::IProxy& SimulatedPistol::control() {
    if (!control_) {
        connection_ = sdbus::createSessionBusConnectionWithAddress(bus_.address());
        control_ = sdbus::createProxy(*connection_, "org.bluez", "/org/quenlark/pistol");
    }
    return *control_;
}

bool SimulatedPistol::notify(const std::vector<std::uint8_t>& bytes) {
    bool sent = false;
    control()
        .callMethod("Notify")
        .onInterface("org.quenlark.PistolControl")
        .withTimeout(kCallTimeout)
        .withArguments(bytes)
        .storeResultsTo(sent);
    return sent;
}

bool SimulatedPistol::dropConnection() {
    bool dropped = false;
    control()
        .callMethod("DropConnection")
        .onInterface("org.quenlark.PistolControl")
        .withTimeout(kCallTimeout)
        .storeResultsTo(dropped);
    return dropped;
}

void SimulatedPistol::vanish() {
    control()
        .callMethod("Vanish")
        .onInterface("org.quenlark.PistolControl")
        .withTimeout(kCallTimeout);
}

void SimulatedPistol::setScene(const std::string& scene) {
    control()
        .callMethod("SetScene")
        .onInterface("org.quenlark.PistolControl")
        .withTimeout(kCallTimeout)
        .withArguments(scene);
    scene_ = scene;
}

PistolStats SimulatedPistol::stats() {
    std::map<std::string, sdbus::Variant> values;
    control()
        .callMethod("Stats")
        .onInterface("org.quenlark.PistolControl")
        .withTimeout(kCallTimeout)
        .storeResultsTo(values);
    PistolStats stats;
    const auto get = [&](const char* name, auto& into) {
        using T = std::decay_t<decltype(into)>;
        if (const auto it = values.find(name); it != values.end()) {
            into = it->second.get<T>();
        }
    };
    get("SetDiscoveryFilter", stats.setDiscoveryFilter);
    get("FilterTransport", stats.filterTransport);
    get("FilterDuplicateData", stats.filterDuplicateData);
    get("StartDiscovery", stats.startDiscovery);
    get("StopDiscovery", stats.stopDiscovery);
    get("Connect", stats.connect);
    get("Disconnect", stats.disconnect);
    get("StartNotify", stats.startNotify);
    get("Discovering", stats.discovering);
    get("Connected", stats.connected);
    get("Notifying", stats.notifying);
    return stats;
}

bool SimulatedPistol::waitUntil(const std::function<bool(const PistolStats&)>& condition,
                                std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline) {
        if (condition(stats())) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

}  // namespace quenlark::sim
