// Runs a program and reports its resource use, as wait4 gives it:
//
//   launch REPORT_FILE PROGRAM [ARGS...]
//
// writes "<exit status> <user s> <system s> <peak RSS KiB>" to REPORT_FILE and exits with the
// program's status. A process's peak RSS includes what its parent had when it forked, so the bench
// forks the program from this small static launcher rather than from the Python interpreter.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: launch REPORT_FILE PROGRAM [ARGS...]\n");
    return 2;
  }
  const pid_t child = fork();
  if (child < 0) return 127;
  if (child == 0) {
    execv(argv[2], argv + 2);
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  if (wait4(child, &status, 0, &usage) != child) return 127;
  const int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  std::FILE* report = std::fopen(argv[1], "w");
  if (report == nullptr) return 127;
  std::fprintf(report, "%d %ld.%06ld %ld.%06ld %ld\n", code,
               static_cast<long>(usage.ru_utime.tv_sec), static_cast<long>(usage.ru_utime.tv_usec),
               static_cast<long>(usage.ru_stime.tv_sec), static_cast<long>(usage.ru_stime.tv_usec),
               usage.ru_maxrss);
  std::fclose(report);
  return code;
}
