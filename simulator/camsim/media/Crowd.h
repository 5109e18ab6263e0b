// The people who walk up to a simulated camera, one after another. Everything
// follows from the time since the camera started and a seed, so the video,
// the temperature picture and the alarm events agree without sharing state.
// Immutable after construction; safe to read from any thread.
#pragma once

#include <cstdint>

namespace camsim {

struct Person {
    uint32_t index = 0;
    int temperature = 0; // tenths of a degree Celsius, measured at the face frame
    int64_t arriveMs = 0; // enters the picture
    int64_t measureMs = 0; // stands at the face frame: the camera measures now
    int64_t leaveMs = 0; // has left the picture
};

class Crowd {
public:
    // peoplePerMinute > 0; abnormalShare in [0, 1] is the share of people
    // warmer than 37.5 °C.
    Crowd(double peoplePerMinute, double abnormalShare, uint32_t seed);

    Person person(uint32_t index) const;
    // The person in the picture at t, if any.
    bool personAt(int64_t tMs, Person& out) const;
    // How far the person has come: 0 entering, 1 at the face frame, 2 gone.
    static double progress(const Person& p, int64_t tMs);

private:
    int64_t m_intervalMs;
    double m_abnormalShare;
    uint32_t m_seed;
};

} // namespace camsim
