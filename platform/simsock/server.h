// Serves one simulated camera (a Peripheral) on its socket in the camera
// directory, speaking the protocol of wire.h. camsim runs one Server; tests
// run one in a thread to reach a fake camera through the "sim:" backend.
//
//   auto camera = std::make_shared<MyPeripheral>(...);
//   platform::simsock::Server server("kitchen", camera);
//   std::string error;
//   if (!server.Start(&error)) { fprintf(stderr, "%s\n", error.c_str()); return 1; }
//   // e.g. a SIGTERM handler calls server.Stop() (async-signal-safe)
//   server.Run();           // returns after Stop(); the socket file is gone
//
// Start() creates the directory (mode 0700; an existing one of this user is
// narrowed to 0700, one of another user is refused), binds and listens under
// the hidden name ".<name>.sock.tmp<pid>" and renames it to "<name>.sock", so
// a client reacting to the directory event is never refused. A stale socket
// of the same name (left by a killed server, or served by another user) is
// replaced; a live one of this user or root makes Start() fail.
//
// Run() is one thread: it accepts any number of connections (the program
// opens PIPE00 and PIPE01 as two connections to the same camera) and hands
// every transfer to the one Peripheral, one at a time, so the Peripheral need
// not be thread-safe. A malformed message gets a kStatusFailed reply and one
// line on stderr; the server stays up.
#pragma once

#include <sys/types.h>
#include <atomic>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "platform/peripheral.h"

namespace platform::simsock {

class Server {
  public:
    Server(std::string name, std::shared_ptr<Peripheral> device);
    // Removes the socket file. Stop() and join the thread in Run() first.
    ~Server();
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    // Puts the socket in place; false with a sentence in *error otherwise.
    bool Start(std::string* error);
    // Serves until Stop(); then closes every connection (clients see the
    // device gone) and removes the socket file.
    void Run();
    // Thread-safe and async-signal-safe; may come before Run().
    void Stop();
    // Drops off the bus: removes the socket file (a removal event for
    // clients) and stops accepting. Connections already open stay served.
    // Thread-safe and async-signal-safe; may be called from the Peripheral.
    void Unplug();

    const std::string& name() const { return name_; }
    // "<dir>/<name>.sock", known after Start().
    const std::string& socket_path() const { return path_; }

  private:
    void AcceptPending();
    bool ServeOne(int fd);
    size_t Process(size_t n, bool truncated);
    size_t Malformed(const std::string& what);
    void RemoveSocketFile();
    void Wake();

    std::string name_;
    std::shared_ptr<Peripheral> device_;
    std::string path_;
    int listen_fd_ = -1;
    int wake_fd_ = -1;
    dev_t socket_dev_ = 0;
    ino_t socket_ino_ = 0;
    std::atomic<bool> stop_{false};
    std::atomic<bool> unplugged_{false};
    std::atomic<bool> socket_linked_{false};
    std::vector<int> connections_;
    std::vector<uint8_t> in_;
    std::vector<uint8_t> out_;
};

}  // namespace platform::simsock
