// TestSupport.cpp: child processes and helper threads for the tests.

#include "TestSupport.h"

#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <vector>

bool ChildResult::ExitedCleanly() const { return WIFEXITED(status) && WEXITSTATUS(status) == 0; }

std::string ChildResult::Describe() const {
  if (WIFEXITED(status)) return "child exited with " + std::to_string(WEXITSTATUS(status));
  if (WIFSIGNALED(status)) return std::string("child killed by ") + strsignal(WTERMSIG(status));
  return "child ended with status " + std::to_string(status);
}

void ChildCheckFailed(const char* file, int line, const char* what) {
  fprintf(stderr, "%s:%d: check failed in child: %s\n", file, line, what);
  fflush(stderr);
  _exit(1);
}

void ExecTestProgram(const char* path, const char* arg) {
  std::vector<std::string> words;
  const char* emulator = getenv("SAFESTDLIB_EMULATOR");
  for (const char* p = emulator != nullptr ? emulator : ""; *p != '\0';) {
    const char* end = strchr(p, '|');
    if (end == nullptr) end = p + strlen(p);
    if (end != p) words.emplace_back(p, end);
    p = *end == '|' ? end + 1 : end;
  }
  words.emplace_back(path);
  words.emplace_back(arg);
  std::vector<char*> argv;
  for (std::string& w : words) argv.push_back(&w[0]);
  argv.push_back(nullptr);
  execvp(argv[0], argv.data());
  _exit(127);
}

std::string ReadAll(int fd) {
  std::string text;
  char chunk[65536];
  for (;;) {
    const ssize_t n = read(fd, chunk, sizeof chunk);
    if (n > 0) {
      text.append(chunk, static_cast<size_t>(n));
    } else if (n == 0 || errno != EINTR) {
      return text;
    }
  }
}

ChildResult RunInChild(const std::function<void()>& body, unsigned timeoutSeconds) {
  fflush(stdout);
  fflush(stderr);
  FILE* capture = tmpfile();
  if (capture == nullptr) ChildCheckFailed(__FILE__, __LINE__, "tmpfile()");
  const pid_t pid = fork();
  if (pid < 0) ChildCheckFailed(__FILE__, __LINE__, "fork()");
  if (pid == 0) {
    alarm(timeoutSeconds);
    if (dup2(fileno(capture), STDOUT_FILENO) < 0) ChildCheckFailed(__FILE__, __LINE__, "dup2()");
    body();
    fflush(stdout);
    _exit(0);
  }
  ChildResult result;
  while (waitpid(pid, &result.status, 0) < 0) {
    if (errno != EINTR) ChildCheckFailed(__FILE__, __LINE__, "waitpid()");
  }
  rewind(capture);
  result.out = ReadAll(fileno(capture));
  fclose(capture);
  return result;
}

ForeignHolder::ForeignHolder() {
  std::promise<void> holding;
  std::future<void> held = holding.get_future();
  std::future<void> release = fRelease.get_future();
  fThread = std::thread([&holding, release = std::move(release)]() mutable {
    OSMutexLocker locker(OS::GetStdLibMutex());
    holding.set_value();
    release.wait();
  });
  held.wait();
}

ForeignHolder::~ForeignHolder() { Release(); }

void ForeignHolder::Release() {
  if (!fThread.joinable()) return;
  fRelease.set_value();
  fThread.join();
}

Probe::Probe(std::function<void()> fn) {
  std::packaged_task<void()> task(std::move(fn));
  fDone = task.get_future();
  fThread = std::thread(std::move(task));
}

Probe::~Probe() { fThread.join(); }

bool Probe::FinishedWithin(int waitMillis) {
  return fDone.wait_for(std::chrono::milliseconds(waitMillis)) == std::future_status::ready;
}
