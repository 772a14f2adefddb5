#pragma once
// What tests use to run the simulated pistol: a private dbus-daemon with the project's own
// configuration on a socket of its own, the stand-in BlueZ service as a child process on
// it, and a client of its control object. Every child is killed and reaped when its owner
// goes, and dies with the test process too.

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace sdbus {
class IConnection;
class IProxy;
}  // namespace sdbus

namespace quenlark::sim {

// A child process, killed (SIGKILL) and reaped when this goes.
class ChildProcess {
  public:
    ChildProcess() = default;
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Starts argv[0] with the environment plus `setEnv`; `fd3` (when not -1) becomes the
    // child's descriptor 3. False when the program cannot be started.
    bool start(const std::vector<std::string>& argv,
               const std::vector<std::pair<std::string, std::string>>& setEnv, int fd3 = -1);
    // Sends the signal and reaps the child.
    void stop(int signal);
    bool running();
    pid_t pid() const { return pid_; }

  private:
    pid_t pid_ = -1;
};

// A dbus-daemon of our own. Throws std::runtime_error when it cannot be started.
class PrivateBus {
  public:
    PrivateBus();
    ~PrivateBus();
    PrivateBus(const PrivateBus&) = delete;
    PrivateBus& operator=(const PrivateBus&) = delete;

    // The bus's address, for DBUS_SYSTEM_BUS_ADDRESS.
    const std::string& address() const { return address_; }
    // Points this process's system bus at this bus.
    void useAsSystemBus() const;
    // Kills the daemon, as when the bus goes away.
    void kill();
    // Starts it again, on the same address.
    void start();

  private:
    std::string directory_;
    std::string socketPath_;
    std::string address_;
    ChildProcess daemon_;
};

// What the stand-in service counted and holds, from its control object.
struct PistolStats {
    int setDiscoveryFilter = 0;
    std::string filterTransport;
    bool filterDuplicateData = false;
    int startDiscovery = 0;
    int stopDiscovery = 0;
    int connect = 0;
    int disconnect = 0;
    int startNotify = 0;
    bool discovering = false;
    bool connected = false;  // the pistol is connected
    bool notifying = false;  // a characteristic of the pistol notifies
};

// The stand-in BlueZ service with a pistol in range, running on `bus`. Started by the
// constructor, which waits until it owns org.bluez. Throws std::runtime_error on failure.
class SimulatedPistol {
  public:
    explicit SimulatedPistol(PrivateBus& bus, std::string scene = "pistol");
    ~SimulatedPistol();
    SimulatedPistol(const SimulatedPistol&) = delete;
    SimulatedPistol& operator=(const SimulatedPistol&) = delete;

    // Kills the service (SIGKILL), as when bluetoothd dies.
    void kill();
    // Starts it again with its scene.
    void start();

    // Acting as the pistol.
    bool notify(const std::vector<std::uint8_t>& bytes);
    bool dropConnection();
    void vanish();
    void setScene(const std::string& scene);
    PistolStats stats();
    // Polls the stats until `condition` holds; false after the time-out.
    bool waitUntil(const std::function<bool(const PistolStats&)>& condition,
                   std::chrono::milliseconds timeout = std::chrono::seconds(20));

  private:
    sdbus::IProxy& control();
    void dropControl();

    PrivateBus& bus_;
    std::string scene_;
    ChildProcess process_;
    std::unique_ptr<sdbus::IConnection> connection_;
    std::unique_ptr<sdbus::IProxy> control_;
};

}  // namespace quenlark::sim
