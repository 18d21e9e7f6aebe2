// A JACK server of the test's own: jackd with the dummy backend under a name
// no other running test uses, made this process's default server (children
// started later inherit it), and stopped when the object goes.
//
// The names come from a few slots, each held through a lock file by one test
// process at a time: the machine's JACK registry has room for eight servers
// and frees an entry left by a server that died only when a server of the
// same name starts again, so names that are never reused would fill it.
#pragma once

#include <string>

#include "tests/drivers/child_process.h"

namespace kv::test {

class JackServer {
 public:
  JackServer();
  ~JackServer();
  JackServer(const JackServer&) = delete;
  JackServer& operator=(const JackServer&) = delete;

  // Starts jackd and waits (bounded) until it takes clients. Sets
  // JACK_DEFAULT_SERVER for this process. False with `error` set when not.
  bool Start(std::string& error, int periodFrames = 128);
  // Stops jackd and removes what its clients left in /dev/shm when the
  // server went away under them.
  void Stop();
  const std::string& Name() const { return name_; }

 private:
  std::string name_;
  int slotLock_ = -1;
  bool started_ = false;
  ChildProcess jackd_;
};

}  // namespace kv::test
