// The guard around libsmbclient's calls: what is written to descriptors 1
// and 2 meanwhile reaches neither, but the logger; the program's own output
// keeps its order; closed descriptors stay closed. Each case runs in a child
// process, whose standard streams are pipes of the test.
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <functional>
#include <string>

#include <gtest/gtest.h>
#include <log4cxx/fileappender.h>
#include <log4cxx/logger.h>
#include <log4cxx/patternlayout.h>

#include "support/private_table.h"
#include "platform/posix/library_output.h"

namespace {

struct Child {
  std::string out, err, logged;
  int status = -1;
};

std::string ReadAll(int fd) {
  std::string text;
  char buffer[4096];
  for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) > 0;) text.append(buffer, static_cast<std::size_t>(n));
  return text;
}

// Runs `body` in a child with a logger that writes to a file; the child's
// exit status is what `body` returns.
Child RunChild(const std::function<int(log4cxx::LoggerPtr)>& body) {
  testkit::TempDir dir;
  const std::string logFile = dir / "layer.log";
  int out[2], err[2];
  EXPECT_EQ(0, ::pipe(out));
  EXPECT_EQ(0, ::pipe(err));
  std::fflush(stdout);
  std::fflush(stderr);
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(out[1], 1);
    ::dup2(err[1], 2);
    for (int fd : {out[0], out[1], err[0], err[1]}) ::close(fd);
    log4cxx::LoggerPtr logger = log4cxx::Logger::getLogger("Sharemapper.Test.LibraryOutput");
    logger->setLevel(log4cxx::Level::getDebug());
    logger->addAppender(std::make_shared<log4cxx::FileAppender>(
        std::make_shared<log4cxx::PatternLayout>(LOG4CXX_STR("%p %m%n")), logFile, false));
    const int status = body(logger);
    std::fflush(nullptr);
    ::_exit(status);
  }
  ::close(out[1]);
  ::close(err[1]);
  Child child;
  child.out = ReadAll(out[0]);
  child.err = ReadAll(err[0]);
  ::close(out[0]);
  ::close(err[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  child.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  child.logged = testkit::ReadFile(logFile);
  return child;
}

TEST(LibraryOutput, TakesBothStreamsAndHandsThemToTheLogger) {
  const Child child = RunChild([](log4cxx::LoggerPtr logger) {
    std::printf("before ");  // still buffered when the guard starts
    {
      const platform::posix::LibraryOutput outer(logger);
      std::printf("Unable to follow dfs referral [\\\\127.0.0.9\\share]\n");
      {
        const platform::posix::LibraryOutput inner(logger);
        std::fprintf(stderr, "inner note");
      }
      if (::write(2, "raw\n", 4) != 4) return 2;
      std::printf("Could not resolve \\away\n");  // still buffered when the guard ends
      errno = ENOENT;  // what the library's call left
    }
    if (errno != ENOENT) return 3;
    std::printf("after\n");
    return 0;
  });
  EXPECT_EQ(0, child.status);
  EXPECT_EQ("before after\n", child.out);
  EXPECT_EQ("", child.err);
  EXPECT_EQ("DEBUG libsmbclient printed: inner note\n"
            "DEBUG libsmbclient printed: Unable to follow dfs referral [\\\\127.0.0.9\\share]\n"
            "DEBUG libsmbclient printed: raw\n"
            "DEBUG libsmbclient printed: Could not resolve \\away\n",
            child.logged);
}

TEST(LibraryOutput, ClosedStreamsStayClosed) {
  const Child child = RunChild([](log4cxx::LoggerPtr logger) {
    ::close(1);
    ::close(2);
    {
      const platform::posix::LibraryOutput quiet(logger);
      std::printf("note\n");
    }
    std::fflush(stdout);
    return ::fcntl(1, F_GETFD) == -1 && ::fcntl(2, F_GETFD) == -1 ? 0 : 1;
  });
  EXPECT_EQ(0, child.status);
  EXPECT_EQ("", child.out);
  EXPECT_EQ("DEBUG libsmbclient printed: note\n", child.logged);
}

}  // namespace
