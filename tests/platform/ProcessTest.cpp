#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/Process.h"

namespace velutron {
namespace {

// In a child, so the test runner's own descriptors stay as they are.
int InChild(void (*body)()) {
  const pid_t pid = fork();
  if (pid == 0) {
    body();
    _exit(0);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(ProcessTest, ClosedStandardDescriptorsAreReopenedOnTheNullDeviceSoNoPortCanTakeThem) {
  EXPECT_EQ(InChild([] {
              struct stat null {};
              if (stat("/dev/null", &null) != 0) _exit(10);
              close(0);
              close(1);
              close(2);
              EnsureStandardDescriptors();
              for (int fd = 0; fd <= 2; ++fd) {
                struct stat st {};
                if (fstat(fd, &st) != 0 || st.st_rdev != null.st_rdev) _exit(20 + fd);
              }
              if (open("/dev/null", O_RDWR) < 3) _exit(30);
            }),
            0);
  // Open ones are left alone.
  EXPECT_EQ(InChild([] {
              int pipeFds[2];
              if (pipe(pipeFds) != 0 || dup2(pipeFds[1], 1) != 1) _exit(10);
              EnsureStandardDescriptors();
              if (write(1, "x", 1) != 1) _exit(11);
              char c = 0;
              if (read(pipeFds[0], &c, 1) != 1 || c != 'x') _exit(12);
            }),
            0);
}

TEST(ProcessTest, AnInterruptIsSeenAndWakesTheNotifierUntilCleared) {
  InstallInterruptHandlers();
  ClearInterrupt();
  EXPECT_FALSE(InterruptRequested());
  raise(SIGTERM);
  EXPECT_TRUE(InterruptRequested());
  char c = 0;
  EXPECT_EQ(read(InterruptNotifierFd(), &c, 1), 1);
  ClearInterrupt();
  EXPECT_FALSE(InterruptRequested());
  EXPECT_EQ(read(InterruptNotifierFd(), &c, 1), -1);  // drained, and never blocks
}

}  // namespace
}  // namespace velutron
