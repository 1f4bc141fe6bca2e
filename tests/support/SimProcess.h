#pragma once

#include <sys/types.h>

#include <string>
#include <utility>
#include <vector>

namespace velutron::test {

// The built velutron-sim, started for one test: it publishes itself as COMn in a private temporary
// port folder (hand PortDir() to the program as VELUTRON_PORT_DIR), or in `portDir` when one is given,
// and is stopped with SIGTERM when the object goes.
class SimProcess {
 public:
  explicit SimProcess(std::vector<std::string> extraArgs = {}, int com = 1, std::string portDir = {});
  ~SimProcess();
  SimProcess(const SimProcess&) = delete;
  SimProcess& operator=(const SimProcess&) = delete;

  // True once the port link exists and the process runs.
  bool Ready() const { return ready_; }
  const std::string& PortDir() const { return portDir_; }
  std::string PortPath() const;  // PortDir()/COMn
  // Stops the simulator now; returns its exit status (-1 when it did not end normally).
  int Stop();
  // What the simulator wrote to standard error (its --verbose log).
  std::string Log() const;
  // The bytes the logger received, in order, from that log.
  std::vector<int> Received() const;

 private:
  std::string dir_;  // private: the simulator's output and log, and the port folder unless given
  std::string portDir_;
  int com_;
  pid_t pid_ = -1;
  bool ready_ = false;
  int status_ = -1;
};

struct Command {
  std::vector<std::string> argv;                         // argv[0] is the program's path
  std::vector<std::pair<std::string, std::string>> env;  // set on top of the inherited environment
  std::string workDir;                                   // empty: the current directory
  std::string input;                                     // written to standard input, then closed
  int timeoutMs = 30'000;                                // killed after this
  std::vector<int> closedDescriptors;                    // standard descriptors the program starts without
  std::string signalWhenOutput;  // once standard output contains this, the program gets `signal`
  int signal = 0;
  int signalAfterMs = -1;        // 0 or more: `signal` this long after the start instead, output or not
  bool errorOnTerminal = false;  // standard error is a pseudo-terminal rather than a pipe
};

struct CommandResult {
  int exitCode = -1;  // -1 when it did not exit normally
  bool timedOut = false;
  std::string out;
  std::string err;
};

// Runs a command to its end and captures its output.
CommandResult RunCommand(const Command& command);
CommandResult RunCommand(std::vector<std::string> argv);

}  // namespace velutron::test
