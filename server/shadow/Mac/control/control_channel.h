// The control channel's listener: a Unix socket that only processes of the
// server's own user may use, served by one thread of its own. Nothing of the
// server ever waits for a reader: publish() only queues, each reader's queue
// is bounded (a full queue drops its oldest stats line first, and a reader
// too far behind for that is closed), and writes never block.
#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace mac_control {

// The socket's path: MAC_SHADOW_CONTROL when set, else
// $XDG_RUNTIME_DIR/corvane/control; empty when neither is there.
std::string channelPath(const char* controlValue, const char* runtimeDir);

class Channel {
  public:
    // Answers one request line (a complete reply line with its newline);
    // runs on the channel's thread.
    using Handler = std::function<std::string(std::string_view line)>;
    // The lines a new reader gets first (the sessions there are now).
    using Greeting = std::function<std::vector<std::string>()>;

    static constexpr size_t kMaxQueued = 256; // lines per reader
    static constexpr size_t kMaxReaders = 8;

    Channel(Handler handler, Greeting greeting);
    ~Channel();
    Channel(const Channel&) = delete;
    Channel& operator=(const Channel&) = delete;

    // Makes the folder (0700) and the socket (0600) and starts the thread;
    // false (logged) when the socket cannot be had.
    bool start(const std::string& path);
    void stop();
    // Queues a line for every reader; never blocks on a reader.
    void publish(const std::string& line, bool stats);

    // For tests: readers connected now, and the longest queue.
    size_t readers() const;
    size_t longestQueue() const;

  private:
    struct State;
    std::unique_ptr<State> state_;
};

} // namespace mac_control
