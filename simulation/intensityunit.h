#pragma once

// What a curve's intensity counts: the basic model's unnormalised intensity, a measurement
// (and a model scaled to it) in counts per second, or the reflectivity of the realistic
// models. The model of a curve says which (Model::intensityUnit); the plots title their
// intensity axis with it.
enum class IntensityUnit { Arbitrary, CountsPerSecond, Reflectivity };
