// What a remote-control server serves, whatever carries the bytes: one client at a time, line by
// line. The program installs an implementation; the Qt layer's server drives it.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

namespace platform {

// The longest line a server takes, without its line end (a longer one is dropped whole); the
// replies waiting to be sent beyond which it reads no further line until the client has read
// them; and the most a client may leave unread before it is cut off.
constexpr std::size_t kMaxRemoteLine = 8192;
constexpr std::size_t kRemoteBackPressure = 256u << 10;
constexpr std::size_t kMaxRemoteUnread = 4u << 20;

class RemoteService {
  public:
    // How far a line got. Done: all of it ran. Waiting: it waits for an operation in progress;
    // the wake function is called once it may go on. More: a good part of its replies is ready
    // to be sent before the rest of the line runs.
    enum class Step { Done, Waiting, More };

    virtual ~RemoteService() = default;
    // A client was accepted (peer "127.0.0.1:51234"); a session starts.
    virtual void connected(const std::string& peer) = 0;
    // Runs one line without its line end as far as it can, its replies appended to `out`.
    virtual Step line(std::string_view text, std::string& out) = 0;
    // Goes on with a line that was Waiting or had More.
    virtual Step resume(std::string& out) = 0;
    // A line longer than the server takes was dropped.
    virtual void lineTooLong() = 0;
    // The session asked the program to end.
    virtual bool exitRequested() const = 0;
    // The client left or was cut off; `why` for the log ("" when it closed the connection).
    virtual void disconnected(const std::string& why) = 0;
    // Called on the GUI thread when a waiting line may go on (nullptr: no one to tell).
    virtual void setWake(std::function<void()> wake) = 0;
};

} // namespace platform
