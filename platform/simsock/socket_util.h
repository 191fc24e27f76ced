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

// A camera directory's standing for a client, which uses the cameras in it
// only when they are its user's own: the directory must belong to this user
// (the effective uid) and be writable by nobody else. A group- or
// world-writable one lets another user put a socket there; one of another
// user is that user's. Missing (no camera yet) is not a fault.
enum class DirectoryTrust { Trusted, Missing, Untrusted };
// Why not in *why, a phrase about the directory ("it belongs to user 1001
// (you are user 1000)").
DirectoryTrust CheckCameraDirectory(const std::string& dir, std::string* why);

// Whether the server at the other end of a connected Unix socket runs as
// this user or as root (SO_PEERCRED, taken when it listened); why not in *why.
bool PeerIsTrusted(int fd, std::string* why);

// Fills a Unix socket address; false when the path does not fit.
bool MakeAddress(const std::string& path, sockaddr_un* address, socklen_t* length);

// "kitchen" is a camera name; "", ".hidden", "a/b" and over-long names are not.
bool IsValidCameraName(const std::string& name);

// A connected SOCK_SEQPACKET socket (close-on-exec) to path, or -1 with errno set.
int ConnectSeqpacket(const std::string& path);

// ConnectSeqpacket to a server of this user or root: a connection to anyone
// else's is closed again and gives -1 with errno EPERM and *why set (which
// is left alone when the connection itself fails).
int ConnectTrustedSeqpacket(const std::string& path, std::string* why);

// Sets the receive timeout of a socket.
void SetReceiveTimeout(int fd, int milliseconds);

}  // namespace platform::simwire
