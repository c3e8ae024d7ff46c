#pragma once

#include <chrono>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "testing/unique_fd.h"

namespace zt_testing {

// One message as the journal received it.
struct journal_entry {
    std::map<std::string, std::string> fields;

    // The field's value, empty when absent.
    std::string field(const std::string& key) const {
        const auto it = fields.find(key);
        return it == fields.end() ? std::string() : it->second;
    }
    std::string message() const { return field("MESSAGE"); }
    std::string priority() const { return field("PRIORITY"); }
    std::string domain() const { return field("GLIB_DOMAIN"); }
};

// Parses one message of the journal's native protocol: fields "KEY=VALUE\n", or "KEY\n", a
// 64-bit little-endian length, the value and "\n". Nothing when the data is malformed.
std::optional<journal_entry> parse_journal_message(std::string_view data);

// A stand-in for the journal: a datagram socket bound at a path that collects the messages
// sent to it, including those passed as a sealed memory file. Like the journal it reads
// them as they come, on a thread of its own: a datagram socket queues only a few messages,
// and a logging daemon would block on a journal that is not read.
class fake_journal {
  public:
    // Binds at socket_path and starts reading; throws std::system_error on failure.
    explicit fake_journal(const std::string& socket_path);
    // Stops reading.
    ~fake_journal();
    fake_journal(const fake_journal&) = delete;
    fake_journal& operator=(const fake_journal&) = delete;

    // The messages of one log domain received so far, in arrival order.
    std::vector<journal_entry> entries_of(const std::string& domain);
    // Waits until some message satisfies match, up to timeout; that message, or nothing.
    std::optional<journal_entry> wait_for(const std::function<bool(const journal_entry&)>& match,
                                          std::chrono::milliseconds timeout);
    // Messages that could not be parsed (they would hide a fault in the sender).
    std::size_t malformed() const;

  private:
    // Reads whatever is queued, without waiting; the caller holds m_lock.
    void drain();

    unique_fd m_fd;
    mutable std::mutex m_lock;
    std::vector<journal_entry> m_entries;
    std::size_t m_malformed = 0;
    std::jthread m_reader;  // last: it stops before the members it uses go
};

}  // namespace zt_testing
