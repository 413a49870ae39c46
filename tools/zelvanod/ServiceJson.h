// The service's JSON: a call as callers send it (HTTP, MQTT, the local socket)
// and a call, the line and an error as the service answers them.
#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QStringList>
#include <string>

#include "service/CallService.h"

namespace zelvano::service {

// A call read from a JSON object, or the field at fault and why.
struct ParsedCall {
    CallRequest request;
    QJsonObject extras;  // the allowed extra keys that were present
    std::string field;   // empty when the call was read
    std::string error;
};

// Reads {address, text, bleep, calltype, priority, transmissions}: address
// and text are strings, the one-character fields a string or a small number;
// absent fields take the sender's defaults. Any other key is refused unless
// it is one of extraKeys. Malformed JSON names the field "body".
ParsedCall ParseCall(const QByteArray& body, const QStringList& extraKeys = {});

// {id, state, final, delivered, sent, resends, client, created, updated,
//  address, text, bleep, calltype, priority, transmissions, history:[{state, at, note}]}
// Times are ISO 8601 in UTC with milliseconds.
QJsonObject CallJson(const ServiceCall& call);
// {link: "up"|"down"|"unknown", port, problem, since, last_answer}
QJsonObject LineJson(const LineView& line);
// {error: message, field: field (when one is at fault)}
QJsonObject ErrorJson(const std::string& field, const std::string& message);
QString IsoTime(EpochMs at);
QByteArray Compact(const QJsonObject& object);

}  // namespace zelvano::service
