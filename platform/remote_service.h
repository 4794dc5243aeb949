// What a remote-control server serves, whatever carries the bytes: one client at a time, line by
// line. The program installs an implementation; the Qt layer's server drives it.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace platform {

// The longest line a server takes (a longer one is dropped whole), and the most reply bytes a
// client may leave unread before it is cut off.
constexpr std::size_t kMaxRemoteLine = 8192;
constexpr std::size_t kMaxRemoteUnread = 4u << 20;

class RemoteService {
  public:
    virtual ~RemoteService() = default;
    // A client was accepted (peer "127.0.0.1:51234"); a session starts.
    virtual void connected(const std::string& peer) = 0;
    // One line without its line end; the reply to send ("" for none).
    virtual std::string line(std::string_view text) = 0;
    // A line longer than the server takes was dropped.
    virtual void lineTooLong() = 0;
    // The session asked the program to end.
    virtual bool exitRequested() const = 0;
    // The client left or was cut off; `why` for the log ("" when it closed the connection).
    virtual void disconnected(const std::string& why) = 0;
};

} // namespace platform
