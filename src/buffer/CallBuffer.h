// The ten-position call buffer.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace zelvano {

class App;

// "ABSENT", "PAGED" and "TERMINATED": the states a full buffer may give up.
bool IsFinishedState(std::string_view status);

void ClearCallBuffer(App& app);
void AddCall(App& app, const std::string& address, const std::string& bleep,
             const std::string& alfa, const std::string& priority, const std::string& nrOfTx,
             const std::string& callType);
void DeleteCall(App& app, std::int16_t position);
void ClearCallEntry(App& app, std::int16_t position);
void CheckBufferTimeOuts(App& app);
// Asks the operator view to redraw the ten rows.
void ShowCallBuffer(App& app);

}  // namespace zelvano
