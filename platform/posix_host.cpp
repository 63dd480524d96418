#include <signal.h>

#include <cstdlib>

#include "platform/host.h"
#include "platform/memory_chunks.h"
#include "platform/posix_file_system.h"
#include "platform/quiet_thread.h"

namespace vornel {

std::unique_ptr<HostCommandLine> startHost(int argc, char** argv) {
  // POSIX hands the command line over as the bytes the user typed.
  return std::make_unique<HostCommandLine>(std::vector<std::string>(argv, argv + argc));
}

std::unique_ptr<FileSystem> newHostFileSystem() { return std::make_unique<PosixFileSystem>(); }

std::unique_ptr<ImageHost> newHostImageHost() { return std::make_unique<PosixImageHost>(); }

std::thread startQuietThread(std::function<void()> function) {
  sigset_t all;
  sigset_t previous;
  sigfillset(&all);
  pthread_sigmask(SIG_SETMASK, &all, &previous);
  std::thread thread;
  try {
    thread = std::thread(std::move(function));
  } catch (...) {
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    throw;
  }
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  return thread;
}

void* allocatePageAligned(std::size_t size) { return std::aligned_alloc(kPageSize, size); }

void freePageAligned(void* memory) { std::free(memory); }

}  // namespace vornel
