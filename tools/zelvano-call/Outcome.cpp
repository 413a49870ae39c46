#include "Outcome.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <cstdio>

#include "CallOptions.h"

namespace zelvano::call {

namespace {

QJsonValue TextOrNull(const std::string& text) {
    return text.empty() ? QJsonValue() : QJsonValue(QString::fromStdString(text));
}

}  // namespace

int ExitCodeFor(const std::string& word) {
    if (word == "PAGED" || word == "SPEECHPAGED")
        return kExitPaged;
    if (word == "ABSENT")
        return kExitAbsent;
    if (word == "BUSY")
        return kExitBusy;
    if (word == "TERMINATED")
        return kExitTerminated;
    return word == "NO STATUS" ? kExitNoStatus : kExitError;
}

void PrintOutcome(const Outcome& outcome, bool json) {
    if (!json) {
        if (outcome.word != kBadArgumentsWord)
            std::printf("%s %s\n", outcome.address.c_str(), outcome.word.c_str());
        std::fflush(stdout);
        return;
    }
    QJsonArray words;
    for (const SeenWord& seen : outcome.words)
        words.append(QJsonObject{{"word", QString::fromStdString(seen.word)}, {"at", seen.at}});
    QJsonObject out{{"address", TextOrNull(outcome.address)},
                    {"started", outcome.started.toString(Qt::ISODateWithMs)},
                    {"words", words},
                    {"final", outcome.final ? TextOrNull(*outcome.final) : QJsonValue()},
                    {"outcome", QString::fromStdString(outcome.word)},
                    {"exit", outcome.code}};
    if (!outcome.error.empty())
        out["error"] = QString::fromStdString(outcome.error);
    std::printf("%s\n", QJsonDocument(out).toJson(QJsonDocument::Compact).constData());
    std::fflush(stdout);
}

}  // namespace zelvano::call
