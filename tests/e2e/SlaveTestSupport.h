// Helpers for driving the simulator's protocol object with bytes and times.
#pragma once

#include <string>
#include <vector>

#include "EspaSlave.h"
#include "common/Text.h"
#include "espa/EspaFormat.h"
#include "support/TestApp.h"

namespace zelvano::slave::test {

// Bytes from a hex text such as "31 05 32 05".
inline std::string Wire(const std::string& hex) {
    const auto bytes = zelvano::test::Hex(hex);
    return std::string(bytes.begin(), bytes.end());
}

// Hex text of bytes, "31 05".
inline std::string HexOf(const std::string& bytes) {
    return zelvano::test::ToHex(std::vector<std::uint8_t>(bytes.begin(), bytes.end()));
}

// A whole block as the master frames it: SOH, header, STX, data, ETX, check.
inline std::string Frame(char header, const std::string& dataWithEtx) {
    const std::string body = std::string(1, header) + static_cast<char>(STX) + dataWithEtx;
    return static_cast<char>(SOH) + body + static_cast<char>(BlockCheck(body));
}

// The master's own data part for a call to address with a text, so the
// simulator is checked against the blocks the engine really builds.
inline std::string CallData(const std::string& address, const std::string& alfa = "Hi") {
    Settings settings;
    settings.Emulatie = 1;
    CallBufferEntry entry;
    entry.Address = address;
    entry.Alfa = alfa;
    entry.Status = "NEW";
    return Utf8ToAnsi(BuildEspaData(settings, entry)).value_or("");
}

inline std::string CallBlock(const std::string& address, const std::string& alfa = "Hi") {
    return Frame('1', CallData(address, alfa));
}

inline std::string StatusCallBlock(const std::string& address) {
    return Frame('3', CallData(address));
}

// The status block this side should send for an address and digit.
inline std::string StatusBlockFor(const std::string& address, char digit) {
    return Frame('2', "1\x1F" + address + "\x1E" + "7\x1F" + digit + "\x03");
}

// An EspaSlave with a clock the test moves by hand.
class Harness {
  public:
    explicit Harness(SlaveConfig config = {}) : slave(std::move(config)) {}

    // Feeds bytes at the current time and returns what is due at once.
    std::string Send(const std::string& bytes) {
        slave.Receive(bytes, now);
        return Due();
    }
    std::string SendHex(const std::string& hex) { return Send(Wire(hex)); }
    // Moves the clock and returns what fell due meanwhile.
    std::string Advance(std::int64_t ms) {
        now += ms;
        return Due();
    }
    std::string Due() {
        slave.Tick(now);
        const std::string out = slave.TakeDue(now);
        for (LogLine& line : slave.TakeLog())
            log.push_back(std::move(line));
        return out;
    }
    // The number of log lines that contain text.
    int LogCount(const std::string& text) const {
        int count = 0;
        for (const LogLine& line : log)
            count += line.text.find(text) != std::string::npos ? 1 : 0;
        return count;
    }
    // A full report: poll, '1' ENQ, ACK, status block, ACK, EOT. Returns the
    // status block (or what came instead of '1' ENQ).
    std::string Report() {
        const std::string answer = SendHex("32 05");
        if (answer != Wire("31 05"))
            return answer;
        const std::string block = SendHex("06");
        const std::string end = SendHex("06");
        return end == Wire("04") ? block : block + "|no EOT";
    }

    EspaSlave slave;
    std::int64_t now = 1000;
    std::vector<LogLine> log;
};

inline SlaveConfig WithScript(const std::string& option) {
    SlaveConfig config;
    std::string error;
    AddScriptOption(config.scripts, option, error);
    return config;
}

}  // namespace zelvano::slave::test
