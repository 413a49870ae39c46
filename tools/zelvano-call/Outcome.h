// What zelvano-call prints on standard output at its end, whatever the exit:
// the outcome line "ADDRESS WORD", or with --json one object with the same
// keys every time.
#pragma once

#include <QDateTime>
#include <optional>
#include <string>
#include <vector>

namespace zelvano::call {

struct SeenWord {
    std::string word;
    double at = 0;  // seconds since the start
};

struct Outcome {
    std::string address;  // as given; empty (null) when a bad command line had none
    QDateTime started = QDateTime::currentDateTimeUtc();
    std::vector<SeenWord> words;  // each state the call went through
    // The call's final state word (PAGED ... NO STATUS, ERROR); none when the
    // call never reached one: not delivered, port unusable, bad arguments, a signal.
    std::optional<std::string> final;
    std::string word;   // "PAGED", "SENT", "NO ANSWER", "PORT UNUSABLE", ...
    int code = 0;       // the exit status
    std::string error;  // why, when there is a reason to give
};

// The outcome word of a bad command line (exit 64).
inline constexpr const char* kBadArgumentsWord = "BAD ARGUMENTS";
// Nothing delivered (40), and a port that cannot be used (74).
inline constexpr const char* kNoAnswerWord = "NO ANSWER";
inline constexpr const char* kPortUnusableWord = "PORT UNUSABLE";

// The exit status of a call's final state word: 0 for PAGED and SPEECHPAGED,
// 10 to 20 for the delivered ones, 30 for ERROR and any other word.
int ExitCodeFor(const std::string& word);

// Without json a bad command line prints nothing (it may have no address).
void PrintOutcome(const Outcome& outcome, bool json);

}  // namespace zelvano::call
