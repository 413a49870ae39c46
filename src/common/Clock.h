// The time of day and the date, for log lines and day-file names. Nothing
// times the protocol with it: protocol time is counted in ticks.
#pragma once

namespace zelvano {

struct LocalDateTime {
    int year = 2000;
    int month = 1;  // 1..12
    int day = 1;    // 1..31
    int hour = 0;
    int minute = 0;
    int second = 0;
};

class Clock {
  public:
    virtual ~Clock() = default;
    virtual LocalDateTime Now() = 0;
};

// The machine's local time.
class SystemClock : public Clock {
  public:
    LocalDateTime Now() override;
};

}  // namespace zelvano
