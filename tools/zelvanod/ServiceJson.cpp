#include "ServiceJson.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonParseError>

namespace zelvano::service {
namespace {

struct Field {
    const char* name;
    std::string CallRequest::*member;
    const char* fallback;
    bool code;  // one character: a string or a small number is taken
};

// The sender's defaults: bleep 1, standard call, normal priority, one transmission.
constexpr Field kFields[] = {
    {"address", &CallRequest::address, nullptr, false},
    {"text", &CallRequest::text, "", false},
    {"bleep", &CallRequest::bleep, "1", true},
    {"calltype", &CallRequest::callType, "3", true},
    {"priority", &CallRequest::priority, "3", true},
    {"transmissions", &CallRequest::transmissions, "1", true},
};

// A field's value as text, or nothing when its type is wrong.
std::optional<std::string> FieldText(const QJsonValue& value, bool code) {
    if (value.isString())
        return value.toString().toStdString();
    if (code && value.isDouble()) {
        const double number = value.toDouble();
        if (number >= 0 && number <= 15 && number == static_cast<int>(number))
            return QString::number(static_cast<int>(number), 16).toUpper().toStdString();
    }
    return std::nullopt;
}

}  // namespace

ParsedCall ParseCall(const QByteArray& body, const QStringList& extraKeys) {
    ParsedCall parsed;
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(body, &error);
    if (error.error != QJsonParseError::NoError) {
        parsed.field = "body";
        parsed.error = "not JSON: " + error.errorString().toStdString() + " at offset " +
                       std::to_string(error.offset);
        return parsed;
    }
    if (!document.isObject()) {
        parsed.field = "body";
        parsed.error = "a JSON object is expected";
        return parsed;
    }
    const QJsonObject object = document.object();
    for (auto it = object.begin(); it != object.end(); ++it) {
        const bool known = std::any_of(std::begin(kFields), std::end(kFields),
                                       [&](const Field& f) { return it.key() == f.name; });
        if (known)
            continue;
        if (!extraKeys.contains(it.key())) {
            parsed.field = it.key().toStdString();
            parsed.error = "unknown field";
            return parsed;
        }
        parsed.extras.insert(it.key(), it.value());
    }
    for (const Field& field : kFields) {
        const QJsonValue value = object.value(field.name);
        if (value.isUndefined() && field.fallback) {
            parsed.request.*field.member = field.fallback;
            continue;
        }
        auto text = FieldText(value, field.code);
        if (!text) {
            parsed.field = field.name;
            parsed.error = value.isUndefined() ? "required"
                           : field.code        ? "a string of one character or a number 0-15"
                                               : "a string is expected";
            return parsed;
        }
        parsed.request.*field.member = std::move(*text);
    }
    return parsed;
}

QString IsoTime(EpochMs at) {
    return QDateTime::fromMSecsSinceEpoch(at, Qt::UTC).toString(Qt::ISODateWithMs);
}

QJsonObject CallJson(const ServiceCall& call) {
    QJsonArray history;
    for (const HistoryEntry& entry : call.history) {
        QJsonObject step{{"state", QString::fromStdString(entry.state)}, {"at", IsoTime(entry.at)}};
        if (!entry.note.empty())
            step.insert("note", QString::fromStdString(entry.note));
        history.append(step);
    }
    const CallRequest& r = call.request;
    return {
        {"id", static_cast<qint64>(call.id)},
        {"state", QString::fromStdString(call.state)},
        {"final", call.final},
        {"delivered", call.delivered},
        {"sent", call.sent},
        {"resends", call.resends},
        {"client", QString::fromStdString(call.client)},
        {"created", IsoTime(call.created)},
        {"updated", IsoTime(call.updated)},
        {"address", QString::fromStdString(r.address)},
        {"text", QString::fromStdString(r.text)},
        {"bleep", QString::fromStdString(r.bleep)},
        {"calltype", QString::fromStdString(r.callType)},
        {"priority", QString::fromStdString(r.priority)},
        {"transmissions", QString::fromStdString(r.transmissions)},
        {"history", history},
    };
}

QJsonObject LineJson(const LineView& line) {
    static const char* const kWords[] = {"unknown", "up", "down"};
    QJsonObject json{{"link", kWords[static_cast<int>(line.link)]},
                     {"port", QString::fromStdString(line.port)},
                     {"since", IsoTime(line.since)},
                     {"last_answer", line.lastAnswer ? QJsonValue(IsoTime(line.lastAnswer))
                                                     : QJsonValue(QJsonValue::Null)}};
    if (!line.problem.empty())
        json.insert("problem", QString::fromStdString(line.problem));
    return json;
}

QJsonObject ErrorJson(const std::string& field, const std::string& message) {
    QJsonObject json{{"error", QString::fromStdString(message)}};
    if (!field.empty())
        json.insert("field", QString::fromStdString(field));
    return json;
}

QByteArray Compact(const QJsonObject& object) {
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

}  // namespace zelvano::service
