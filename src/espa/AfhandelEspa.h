// The master's protocol engine: one step per 100 ms tick.
#pragma once

#include <cstdint>

namespace zelvano {

class App;

// One tick. request 10 starts the protocol from the idle step.
void HandleEspa(App& app, std::int16_t request);

}  // namespace zelvano
