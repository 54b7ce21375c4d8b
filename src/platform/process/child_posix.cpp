// Helper programs on POSIX systems: pipe, fork and exec, limits set between
// the two, poll for reading with a time limit.
#include "platform/process/child.h"

#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace platform {

struct ChildProcess::Impl {
  pid_t pid = -1;
  int out = -1;  // read end of the helper's standard output
  ~Impl() {
    if (out >= 0) ::close(out);
    if (pid > 0) {
      ::kill(pid, SIGKILL);
      int status = 0;
      while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
      }
    }
  }
};

namespace {

struct Pipe {
  int fd[2] = {-1, -1};
  ~Pipe() {
    for (int f : fd)
      if (f >= 0) ::close(f);
  }
  int take(int i) {
    int f = fd[i];
    fd[i] = -1;
    return f;
  }
};

std::runtime_error failure(const std::string& what, int err) {
  return std::runtime_error(what + ": " + std::strerror(err));
}

// Between fork and exec only calls that are safe in the copy of a
// multi-threaded process (no allocation, no locks). Reports errno through
// `report` and ends when exec fails.
[[noreturn]] void execChild(const char* program, char* const* argv, int outFd, int report,
                            const ChildLimits& limits) {
  // Out of the way of 0, 1 and 2 first, should the caller have had one of
  // those closed when it made the pipes.
  outFd = ::fcntl(outFd, F_DUPFD, 3);
  report = ::fcntl(report, F_DUPFD_CLOEXEC, 3);
  if (outFd < 0 || report < 0) ::_exit(127);
  int null = ::open("/dev/null", O_RDWR);
  if (null < 0 || ::dup2(null, 0) < 0 || ::dup2(outFd, 1) < 0 || ::dup2(null, 2) < 0) {
    int e = errno;
    (void)!::write(report, &e, sizeof e);
    ::_exit(127);
  }
  // Everything else the caller had open stays behind (the report pipe closes
  // itself on exec).
  if (report > 3) ::close_range(3, unsigned(report) - 1, 0);
  ::close_range(unsigned(report) + 1, ~0u, 0);
  if (limits.cpuSeconds) {
    rlimit cpu{limits.cpuSeconds, limits.cpuSeconds};
    ::setrlimit(RLIMIT_CPU, &cpu);
  }
  if (limits.addressSpace) {
    rlimit as{rlim_t(limits.addressSpace), rlim_t(limits.addressSpace)};
    ::setrlimit(RLIMIT_AS, &as);
  }
  struct sigaction dfl{};
  dfl.sa_handler = SIG_DFL;
  ::sigaction(SIGPIPE, &dfl, nullptr);
  ::execv(program, argv);
  int e = errno;
  (void)!::write(report, &e, sizeof e);
  ::_exit(127);
}

}  // namespace

std::unique_ptr<ChildProcess> ChildProcess::start(const std::string& program, const std::vector<std::string>& args,
                                                  const ChildLimits& limits) {
  if (::access(program.c_str(), X_OK) != 0) throw failure("cannot start " + program, errno);
  std::vector<std::string> copy;
  copy.push_back(program);
  copy.insert(copy.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& a : copy) argv.push_back(a.data());
  argv.push_back(nullptr);

  Pipe output, report;
  if (::pipe2(output.fd, O_CLOEXEC) != 0 || ::pipe2(report.fd, O_CLOEXEC) != 0)
    throw failure("pipe", errno);
  const pid_t pid = ::fork();
  if (pid < 0) throw failure("fork", errno);
  if (pid == 0) execChild(argv[0], argv.data(), output.fd[1], report.fd[1], limits);

  std::unique_ptr<ChildProcess> child(new ChildProcess);
  child->impl_ = std::make_unique<Impl>();
  child->impl_->pid = pid;
  child->impl_->out = output.take(0);
  ::close(output.take(1));
  ::close(report.take(1));
  // The report pipe closes without a word once exec has succeeded.
  int err = 0;
  ssize_t got;
  while ((got = ::read(report.fd[0], &err, sizeof err)) < 0 && errno == EINTR) {
  }
  if (got == sizeof err) throw failure("cannot start " + program, err);
  return child;
}

ChildProcess::~ChildProcess() = default;

ChildProcess::Read ChildProcess::read(void* buffer, std::size_t size, int timeoutMs, std::size_t& got) {
  got = 0;
  for (;;) {
    pollfd p{impl_->out, POLLIN, 0};
    const int r = ::poll(&p, 1, timeoutMs);
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) return Read::Failed;
    if (r == 0) return Read::Timeout;
    const ssize_t n = ::read(impl_->out, buffer, size);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return Read::Failed;
    if (n == 0) return Read::End;
    got = std::size_t(n);
    return Read::Data;
  }
}

bool ChildProcess::wait() {
  if (impl_->pid <= 0) return false;
  int status = 0;
  pid_t r;
  while ((r = ::waitpid(impl_->pid, &status, 0)) < 0 && errno == EINTR) {
  }
  impl_->pid = -1;
  return r > 0 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

bool writeToParent(const void* data, std::size_t size) {
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    const ssize_t w = ::write(1, p, size);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) return false;
    p += w;
    size -= std::size_t(w);
  }
  return true;
}

// Linux keeps the scheduling class and the niceness per thread, and a child
// forked from the thread inherits both.
bool runThisThreadAtLowestPriority() {
  bool ok = true;
#ifdef SCHED_IDLE
  sched_param none{};
  ok = ::sched_setscheduler(0, SCHED_IDLE, &none) == 0;
#endif
#ifdef SYS_gettid
  const id_t self = id_t(::syscall(SYS_gettid));
#else
  const id_t self = 0;
#endif
  return ::setpriority(PRIO_PROCESS, self, 19) == 0 && ok;
}

std::string executableFolder() {
  char buf[PATH_MAX];
  const ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return "";
  std::string path(buf, std::size_t(n));
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash == 0 ? 1 : slash);
}

}  // namespace platform
