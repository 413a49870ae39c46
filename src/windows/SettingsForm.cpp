#include "windows/SettingsForm.h"

#include "common/Text.h"
#include "settings/SettingsFile.h"

namespace zelvano {

namespace {

constexpr int kIntervalCount = 21;

std::vector<SettingsCombo> MakeSingleCombos() {
    return {
        {"ComboEmulatie",
         {"Philips", "Ascom/Nira", "MediCall", "DataCall", "Ooperon", "CommTechWireLess"},
         0,
         &Settings::emulation},
        {"ComboCom",
         {"Com1", "Com2", "Com3", "Com4", "Com5", "Com6", "Com7", "Com8"},
         1,
         &Settings::comPort},
        {"ComboBaud",
         {"300", "1200", "2400", "4800", "9600", "19200", "38400", "57600"},
         1,
         &Settings::baudRate},
        {"ComboParity", {"N", "E", "O"}, 1, &Settings::parity},
        {"ComboBits", {"7", "8"}, 1, &Settings::dataBits},
        {"ComboStop", {"1", "2"}, 1, &Settings::stopBits},
        {"ComboRtsCts",
         {"No HandShake", "No HandShake (RTS ACTIVE)", "RTS/CTS"},
         0,
         &Settings::handshake},
        {"ComboLineCheck",
         {"LineCheck 1 ENQ 2 ENQ ", "LineCheck 2 ENQ only"},
         0,
         &Settings::lineCheck},
        {"ComboStatusCheck",
         {"StatusCheck With SOH 3 before 2 ENQ", "StatusCheck Only 2 ENQ", "StatusCheck None"},
         0,
         &Settings::statusCheck},
        {"ComboLogfile",
         {"No Log enabled", "Simple Log to screen", "Extended Log to file & screen",
          "Debug to file & screen"},
         0,
         &Settings::logLevel},
        {"ComboDeviceCheckInterval", CheckIntervalEntries(), -1, &Settings::checkInterval},
    };
}

}  // namespace

std::vector<std::string> CheckIntervalEntries() {
    std::vector<std::string> entries;
    for (std::int16_t i = 0; i < kIntervalCount; ++i) {
        entries.push_back("Check " + TrimStr(static_cast<std::int16_t>((i + 1) * 100)) +
                          "ms Interval");
    }
    return entries;
}

const std::vector<SettingsCombo>& SingleCombos() {
    static const std::vector<SettingsCombo> combos = MakeSingleCombos();
    return combos;
}

const std::vector<std::string>& BlockFieldEntries() {
    static const std::vector<std::string> entries{
        "Not Used",        "Address (1 US)",       "Info (2 US)",    "Bleep (3 US)",
        "CallType (4 US)", "Transmissions (5 US)", "Priority (6 US)"};
    return entries;
}

std::int16_t ComboPosition(std::int16_t value, std::size_t count, std::int16_t fallback) {
    const bool inList = value >= 0 && static_cast<std::size_t>(value) < count;
    return inList ? value : fallback;
}

SettingsSelection UpdateCombo(const Settings& settings) {
    SettingsSelection selection;
    const auto& combos = SingleCombos();
    for (std::size_t i = 0; i < combos.size(); ++i) {
        const SettingsCombo& combo = combos[i];
        selection.single[i] =
            ComboPosition(settings.*combo.field, combo.entries.size(), combo.fallback);
    }
    for (int i = 0; i < kBlockFieldCount; ++i) {
        selection.blockFields[i] =
            ComboPosition(settings.blockFields[i], BlockFieldEntries().size(), 0);
    }
    selection.variableBlock = settings.variableBlock != 0;
    return selection;
}

Settings ComboToSettings(const SettingsSelection& selection) {
    Settings settings;
    const auto& combos = SingleCombos();
    for (std::size_t i = 0; i < combos.size(); ++i) {
        settings.*combos[i].field = selection.single[i];
    }
    for (int i = 0; i < kBlockFieldCount; ++i) {
        settings.blockFields[i] = selection.blockFields[i];
    }
    settings.variableBlock = selection.variableBlock ? 1 : 0;
    return settings;
}

}  // namespace zelvano
