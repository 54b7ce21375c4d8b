#pragma once
// A helper program started by this one, whose output this one reads: the
// database provider reads every Jet file in such a program, so that a damaged
// or hostile file can at worst end that program, never this one.
//
// The helper is a program file of its own (started with exec, never a copy of
// this process): it inherits no threads, locks or state of the caller. Its
// standard input and error are the null device, its standard output a pipe to
// the caller; no other handle of the caller reaches it. Limits (CPU time,
// address space) are set on it before it runs.
//
// Every call to the operating system for this lies in child_posix.cpp; a port
// to another system replaces that file alone.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace platform {

struct ChildLimits {
  unsigned cpuSeconds = 0;         // 0: no limit
  std::uint64_t addressSpace = 0;  // bytes; 0: no limit
};

class ChildProcess {
 public:
  // Starts `program` (a path) with `args` (argv[1]...). Throws
  // std::runtime_error, with the reason, when the program cannot be started
  // (missing, not executable, out of processes).
  static std::unique_ptr<ChildProcess> start(const std::string& program, const std::vector<std::string>& args,
                                             const ChildLimits& limits);
  // Kills the program if it still runs, and reaps it.
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  enum class Read { Data, End, Timeout, Failed };
  // Reads up to `size` bytes of the program's output into `buffer`, waiting at
  // most `timeoutMs` for some to come. Data: `got` bytes were read (at least
  // one); End: the program closed its output (ended); Timeout: nothing came in
  // time; Failed: the pipe could not be read.
  Read read(void* buffer, std::size_t size, int timeoutMs, std::size_t& got);

  // Waits for the program to end. True when it ended by itself with exit
  // status 0.
  bool wait();

 private:
  ChildProcess() = default;
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// The helper's side: writes all of `data` to the standard output (the pipe to
// the program that started it). False when the reader has gone.
bool writeToParent(const void* data, std::size_t size);

// Puts the calling thread at the lowest priority the system has (an idle
// class where there is one, and the weakest niceness), for work that must
// never delay the user's. Programs started from the thread afterwards run at
// that priority too. It cannot be raised again. False when the system refused.
bool runThisThreadAtLowestPriority();

// The folder of the running program's executable file ("" when it cannot be
// told).
std::string executableFolder();

}  // namespace platform
