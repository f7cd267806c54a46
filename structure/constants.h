#pragma once

// Mathematical constants of the whole program, written out to the last digit a double
// holds so that every file computes with the same bits.
constexpr double kPi = 3.141592653589793;
constexpr double kHalfPi = 1.5707963267948966;
constexpr double kTwoPi = 6.283185307179586;
constexpr double kFourPi = 12.566370614359172;
constexpr double kDegreesPerRadian = 180.0 / kPi;
