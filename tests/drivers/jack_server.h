// A JACK server of the test's own: jackd with the dummy backend under a name
// no other test uses, made this process's default server (children started
// later inherit it), and stopped when the object goes.
#pragma once

#include <string>

#include "tests/drivers/child_process.h"

namespace kv::test {

class JackServer {
 public:
  JackServer();
  ~JackServer() { Stop(); }
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
  bool started_ = false;
  ChildProcess jackd_;
};

}  // namespace kv::test
