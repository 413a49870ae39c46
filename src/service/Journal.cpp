#include "service/Journal.h"

#include <sqlite3.h>

#include <chrono>

namespace zelvano {
namespace {

constexpr const char* kSchema = R"(
CREATE TABLE IF NOT EXISTS calls (
  id INTEGER PRIMARY KEY AUTOINCREMENT,
  client TEXT NOT NULL, idem_key TEXT,
  address TEXT NOT NULL, text TEXT NOT NULL, bleep TEXT NOT NULL, priority TEXT NOT NULL,
  calltype TEXT NOT NULL, transmissions TEXT NOT NULL,
  state TEXT NOT NULL, final INTEGER NOT NULL, delivered INTEGER NOT NULL,
  sent INTEGER NOT NULL, resends INTEGER NOT NULL,
  created INTEGER NOT NULL, updated INTEGER NOT NULL);
CREATE UNIQUE INDEX IF NOT EXISTS calls_key ON calls(client, idem_key) WHERE idem_key IS NOT NULL;
CREATE INDEX IF NOT EXISTS calls_open ON calls(final, id);
CREATE INDEX IF NOT EXISTS calls_updated ON calls(updated);
CREATE TABLE IF NOT EXISTS history (
  call_id INTEGER NOT NULL REFERENCES calls(id) ON DELETE CASCADE,
  at INTEGER NOT NULL, state TEXT NOT NULL, note TEXT NOT NULL);
CREATE INDEX IF NOT EXISTS history_call ON history(call_id);
)";

constexpr const char* kColumns =
    "id, client, idem_key, address, text, bleep, priority, calltype, transmissions, state, final, "
    "delivered, sent, resends, created, updated";

// A prepared statement, finalised when it goes out of scope.
class Statement {
  public:
    Statement(sqlite3* db, const std::string& sql) {
        sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt_, nullptr);
    }
    ~Statement() { sqlite3_finalize(stmt_); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    bool Ok() const { return stmt_ != nullptr; }
    Statement& Bind(int index, const std::string& text) {
        sqlite3_bind_text(stmt_, index, text.data(), static_cast<int>(text.size()),
                          SQLITE_TRANSIENT);
        return *this;
    }
    Statement& Bind(int index, std::int64_t value) {
        sqlite3_bind_int64(stmt_, index, value);
        return *this;
    }
    Statement& BindNull(int index) {
        sqlite3_bind_null(stmt_, index);
        return *this;
    }
    // SQLITE_ROW, SQLITE_DONE or an error.
    int Step() { return stmt_ ? sqlite3_step(stmt_) : SQLITE_ERROR; }
    std::string Text(int column) const {
        const auto* text = sqlite3_column_text(stmt_, column);
        return text ? std::string(reinterpret_cast<const char*>(text),
                                  static_cast<std::size_t>(sqlite3_column_bytes(stmt_, column)))
                    : std::string();
    }
    std::int64_t Int(int column) const { return sqlite3_column_int64(stmt_, column); }

  private:
    sqlite3_stmt* stmt_ = nullptr;
};

ServiceCall ReadCall(const Statement& row) {
    ServiceCall call;
    call.id = row.Int(0);
    call.client = row.Text(1);
    call.key = row.Text(2);
    call.request = {row.Text(3), row.Text(4), row.Text(5), row.Text(6), row.Text(7), row.Text(8)};
    call.state = row.Text(9);
    call.final = row.Int(10) != 0;
    call.delivered = row.Int(11) != 0;
    call.sent = row.Int(12) != 0;
    call.resends = static_cast<int>(row.Int(13));
    call.created = row.Int(14);
    call.updated = row.Int(15);
    return call;
}

}  // namespace

std::unique_ptr<Journal> Journal::Open(const std::filesystem::path& file, std::string& error) {
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) !=
        SQLITE_OK) {
        error = file.string() + ": " + (db ? sqlite3_errmsg(db) : "cannot open");
        sqlite3_close(db);
        return nullptr;
    }
    std::unique_ptr<Journal> journal(new Journal(db));
    // WAL with full synchronous commits: a committed call survives a power cut,
    // and readers never wait for the writer.
    sqlite3_busy_timeout(db, 2000);
    if (!journal->Exec("PRAGMA journal_mode=WAL") || !journal->Exec("PRAGMA synchronous=FULL") ||
        !journal->Exec("PRAGMA foreign_keys=ON") || !journal->Exec(kSchema)) {
        error = file.string() + ": " + journal->error_;
        return nullptr;
    }
    return journal;
}

Journal::~Journal() {
    sqlite3_close(db_);
}

bool Journal::Exec(const char* sql) {
    char* message = nullptr;
    if (sqlite3_exec(db_, sql, nullptr, nullptr, &message) == SQLITE_OK)
        return true;
    error_ = message ? message : sqlite3_errmsg(db_);
    sqlite3_free(message);
    return false;
}

namespace {

// Runs writes in one transaction and times it, commit included.
template <typename F>
bool Transaction(sqlite3* db, std::string& error, double& writeMs, F&& writes) {
    const auto start = std::chrono::steady_clock::now();
    auto fail = [&] {
        error = sqlite3_errmsg(db);
        sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
        return false;
    };
    if (sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) != SQLITE_OK)
        return fail();
    if (!writes() || sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK)
        return fail();
    writeMs =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    return true;
}

bool AddHistory(sqlite3* db, std::int64_t id, const HistoryEntry& entry) {
    Statement add(db, "INSERT INTO history(call_id, at, state, note) VALUES(?,?,?,?)");
    add.Bind(1, id).Bind(2, entry.at).Bind(3, entry.state).Bind(4, entry.note);
    return add.Step() == SQLITE_DONE;
}

bool UpdateRow(sqlite3* db, const ServiceCall& call) {
    Statement update(db,
                     "UPDATE calls SET state=?, final=?, delivered=?, sent=?, resends=?, updated=? "
                     "WHERE id=?");
    update.Bind(1, call.state)
        .Bind(2, std::int64_t{call.final})
        .Bind(3, std::int64_t{call.delivered})
        .Bind(4, std::int64_t{call.sent})
        .Bind(5, std::int64_t{call.resends})
        .Bind(6, call.updated)
        .Bind(7, call.id);
    return update.Step() == SQLITE_DONE && sqlite3_changes(db) == 1;
}

}  // namespace

bool Journal::Insert(ServiceCall& call) {
    return Transaction(db_, error_, lastWriteMs_, [&] {
        Statement insert(db_, std::string("INSERT INTO calls(") + kColumns +
                                  ") VALUES(NULL,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?)");
        insert.Bind(1, call.client);
        if (call.key.empty())
            insert.BindNull(2);
        else
            insert.Bind(2, call.key);
        const CallRequest& r = call.request;
        insert.Bind(3, r.address).Bind(4, r.text).Bind(5, r.bleep).Bind(6, r.priority);
        insert.Bind(7, r.callType).Bind(8, r.transmissions).Bind(9, call.state);
        insert.Bind(10, std::int64_t{call.final}).Bind(11, std::int64_t{call.delivered});
        insert.Bind(12, std::int64_t{call.sent}).Bind(13, std::int64_t{call.resends});
        insert.Bind(14, call.created).Bind(15, call.updated);
        if (insert.Step() != SQLITE_DONE)
            return false;
        call.id = sqlite3_last_insert_rowid(db_);
        for (const HistoryEntry& entry : call.history) {
            if (!AddHistory(db_, call.id, entry))
                return false;
        }
        return true;
    });
}

bool Journal::Record(const ServiceCall& call, const HistoryEntry& entry) {
    return Transaction(db_, error_, lastWriteMs_,
                       [&] { return UpdateRow(db_, call) && AddHistory(db_, call.id, entry); });
}

bool Journal::Update(const ServiceCall& call) {
    return Transaction(db_, error_, lastWriteMs_, [&] { return UpdateRow(db_, call); });
}

namespace {

std::vector<ServiceCall> Select(sqlite3* db, Statement& query) {
    std::vector<ServiceCall> calls;
    while (query.Step() == SQLITE_ROW)
        calls.push_back(ReadCall(query));
    for (ServiceCall& call : calls) {
        Statement history(db, "SELECT at, state, note FROM history WHERE call_id=? ORDER BY rowid");
        history.Bind(1, call.id);
        while (history.Step() == SQLITE_ROW)
            call.history.push_back({history.Text(1), history.Int(0), history.Text(2)});
    }
    return calls;
}

}  // namespace

std::optional<ServiceCall> Journal::Load(std::int64_t id) const {
    Statement query(db_, std::string("SELECT ") + kColumns + " FROM calls WHERE id=?");
    query.Bind(1, id);
    auto calls = Select(db_, query);
    if (calls.empty())
        return std::nullopt;
    return std::move(calls.front());
}

std::optional<ServiceCall> Journal::FindByKey(const std::string& client,
                                              const std::string& key) const {
    Statement query(
        db_, std::string("SELECT ") + kColumns + " FROM calls WHERE client=? AND idem_key=?");
    query.Bind(1, client).Bind(2, key);
    auto calls = Select(db_, query);
    if (calls.empty())
        return std::nullopt;
    return std::move(calls.front());
}

std::vector<ServiceCall> Journal::Unfinished() const {
    Statement query(db_,
                    std::string("SELECT ") + kColumns + " FROM calls WHERE final=0 ORDER BY id");
    return Select(db_, query);
}

std::vector<ServiceCall> Journal::List(const CallQuery& query) const {
    Statement select(db_, std::string("SELECT ") + kColumns +
                              " FROM calls WHERE (?1 = '' OR state = ?1) AND updated >= ?2 "
                              "ORDER BY id DESC LIMIT ?3");
    select.Bind(1, query.state).Bind(2, query.since).Bind(3, std::int64_t{query.limit});
    return Select(db_, select);
}

int Journal::Prune(EpochMs before) {
    int removed = 0;
    Transaction(db_, error_, lastWriteMs_, [&] {
        Statement prune(db_, "DELETE FROM calls WHERE final=1 AND updated < ?");
        prune.Bind(1, before);
        if (prune.Step() != SQLITE_DONE)
            return false;
        removed = sqlite3_changes(db_);
        return true;
    });
    return removed;
}

}  // namespace zelvano
