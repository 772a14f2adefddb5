#pragma once
// Runs orbelin as a real process and watches its standard output line by line.
//
// A reader thread drains both pipes as fast as the relay writes, so the relay is never
// held up by the test. Status lines (everything but the controller lines) are kept in
// order with their arrival time; controller lines, which come at full speed, are counted,
// their distinct texts remembered and the latest ones kept.

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace quenlark::test {

using namespace std::chrono_literals;

// orbelin in the installed driver folder.
std::string InstalledOrbelin();

// A child that waits until it is ended (or this process is gone): a parent for the relay
// whose end a test controls.
class StandInParent {
  public:
    StandInParent();
    ~StandInParent();  // ends and reaps it
    StandInParent(const StandInParent&) = delete;
    StandInParent& operator=(const StandInParent&) = delete;

    pid_t Pid() const { return pid_; }
    int Pidfd() const { return pidfd_; }  // close-on-exec, in this process
    void End();                           // SIGKILL and reap

  private:
    pid_t pid_ = -1;
    int pidfd_ = -1;
    int input_ = -1;  // the writing end of its input
};

struct RelayOptions {
    // The whole command line: the first (and only) element of the argument vector.
    // Empty optional: an empty argument vector.
    std::optional<std::string> commandLine;
    // A descriptor of this process that the relay gets under the number parentFdInChild.
    int parentFd = -1;
    int parentFdInChild = -1;
    // Added to (or replacing in) this process's environment.
    std::vector<std::pair<std::string, std::string>> environment;
    std::string program = InstalledOrbelin();
};

class RelayProcess {
  public:
    explicit RelayProcess(const RelayOptions& options);
    ~RelayProcess();  // kills and reaps the relay if it still runs
    RelayProcess(const RelayProcess&) = delete;
    RelayProcess& operator=(const RelayProcess&) = delete;

    pid_t Pid() const;

    struct Line {
        std::string text;
        std::chrono::steady_clock::time_point at;
    };
    std::vector<Line> StatusLines() const;
    std::vector<std::string> StatusTexts() const;
    // The latest controller lines, oldest first (at most a few thousand are kept).
    std::vector<std::string> RecentControllerLines() const;
    std::uint64_t ControllerLineCount() const;
    std::string Stderr() const;

    // Waits until a line with exactly this text has arrived (at any time since the start).
    bool WaitForLine(const std::string& text, std::chrono::milliseconds timeout = 15s) const;
    // Waits until `count` controller lines have arrived in total.
    bool WaitForControllerLines(std::uint64_t count, std::chrono::milliseconds timeout = 15s) const;

    // Waits until everything the relay has written so far has been taken in: nothing
    // unread in the pipe and the reader between two reads. False on time-out.
    bool WaitUntilDrained(std::chrono::milliseconds timeout = 15s) const;

    // Waits for the relay to end and reaps it; its exit status, or -signal when a signal
    // ended it; empty on time-out. All its output has been read when this returns a value.
    std::optional<int> WaitForExit(std::chrono::milliseconds timeout = 15s);
    bool Running();

    struct State;

  private:
    std::unique_ptr<State> state_;
};

}  // namespace quenlark::test
