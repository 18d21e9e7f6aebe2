// A JACK server of the test's own: jackd with the dummy backend under a name
// no other test uses, made this process's default server, and stopped (TERM,
// then waited for) when the object goes.
#pragma once

#include <sys/types.h>

#include <string>

namespace kv::test {

class JackServer {
 public:
  JackServer();
  ~JackServer();
  JackServer(const JackServer&) = delete;
  JackServer& operator=(const JackServer&) = delete;

  // Starts jackd and waits (bounded) until it takes clients. Sets
  // JACK_DEFAULT_SERVER for this process, so every client opened later
  // without a server name reaches this one. False with `error` set when not.
  bool Start(std::string& error, int periodFrames = 128);
  void Stop();
  const std::string& Name() const { return name_; }

 private:
  std::string name_;
  pid_t pid_ = -1;
};

}  // namespace kv::test
