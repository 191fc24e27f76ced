// Small helpers shared by the simulated-camera client backend and the server.
#pragma once

#include <sys/socket.h>
#include <sys/un.h>

#include <string>

namespace platform::simwire {

// Creates the socket directory (and missing parents) with mode 0700. An
// existing directory must belong to this user; it is narrowed to 0700 when it
// is open to others, so that another user cannot reach the cameras.
bool EnsurePrivateDirectory(const std::string& dir, std::string* error);

// Fills a Unix socket address; false when the path does not fit.
bool MakeAddress(const std::string& path, sockaddr_un* address, socklen_t* length);

// "kitchen" is a camera name; "", ".hidden", "a/b" and over-long names are not.
bool IsValidCameraName(const std::string& name);

// A connected SOCK_SEQPACKET socket (close-on-exec) to path, or -1 with errno set.
int ConnectSeqpacket(const std::string& path);

// Sets the receive timeout of a socket.
void SetReceiveTimeout(int fd, int milliseconds);

}  // namespace platform::simwire
