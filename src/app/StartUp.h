// Start-up, quit and the window height.
#pragma once

namespace zelvano {

class App;

inline constexpr const char* kProgramTitle = "Zelvano";
inline constexpr const char* kPortErrorText = "Error setting Comport!\r\nCheck settings";
inline constexpr const char* kQuitQuestion = "You want to quit the program?";

void InitState(App& app);
void StartUp(App& app);
// Closes the port and opens it with the settings; on failure shows "Error
// setting Comport!" and returns false, else gives the handler its start request.
bool ReopenComPort(App& app);
// The port just opened: the engine starts (or restarts) with a line check.
void StartEngine(App& app);
// 9930 twips at log level 1 or more, 6705 otherwise.
void ApplyWindowHeight(App& app);
// The "Quit" menu: asks; on OK closes the port and returns true (end the process).
bool Einde_Click(App& app);
// The main window ends: close the port, no question.
void Form_Terminate(App& app);

}  // namespace zelvano
