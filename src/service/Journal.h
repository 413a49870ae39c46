// The service's journal: every call and every change of state, in SQLite with
// synchronous writes, so a crash or a power cut loses nothing acknowledged.
#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "service/ServiceCall.h"

struct sqlite3;

namespace zelvano {

struct CallQuery {
    std::string state;  // a state word, or empty for all
    EpochMs since = 0;  // changed at or after this time
    int limit = 100;
};

class Journal {
  public:
    // Opens or creates the journal file; error says why when it returns null.
    static std::unique_ptr<Journal> Open(const std::filesystem::path& file, std::string& error);
    ~Journal();
    Journal(const Journal&) = delete;
    Journal& operator=(const Journal&) = delete;

    // Stores a new call with its first history entry and gives it its id.
    bool Insert(ServiceCall& call);
    // Stores a call's state and flags, with one more history entry.
    bool Record(const ServiceCall& call, const HistoryEntry& entry);
    // Stores a call's flags (sent, resends) without a new state.
    bool Update(const ServiceCall& call);

    std::optional<ServiceCall> Load(std::int64_t id) const;
    // The call a client already made with this idempotency key.
    std::optional<ServiceCall> FindByKey(const std::string& client, const std::string& key) const;
    // Calls not final, oldest first: what a restart resumes.
    std::vector<ServiceCall> Unfinished() const;
    // Newest first.
    std::vector<ServiceCall> List(const CallQuery& query) const;
    // Removes final calls last changed before the time; returns how many.
    int Prune(EpochMs before);

    // The last error, for the log.
    const std::string& Error() const { return error_; }
    // Milliseconds the last write took (commit included).
    double LastWriteMs() const { return lastWriteMs_; }

  private:
    explicit Journal(sqlite3* db) : db_(db) {}
    bool Exec(const char* sql);

    sqlite3* db_;
    mutable std::string error_;
    double lastWriteMs_ = 0;
};

}  // namespace zelvano
