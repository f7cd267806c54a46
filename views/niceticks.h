#pragma once

// Grid positions for one axis: every multiple of tickStep from firstTick to lastTick.
// When the range has no sensible grid (empty, reversed or not finite), tickStep is 0 and
// firstTick and lastTick are NaN, so a loop "v <= lastTick" draws nothing.
struct TickRange {
    double tickStep = 0;
    double firstTick = 0;
    double lastTick = 0;
};

// A step of 1, 2 or 5 times a power of ten giving roughly five to fifty ticks over the data
// range low..high, and the first and last multiple of it inside the range.
TickRange niceTicks(double low, double high);
