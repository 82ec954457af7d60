// The start values of a run, defined once: a run record holds them until
// they are set, the window shows them when it opens (settings/WindowState.h
// turns them into its texts), and the Default button puts most of them
// back. Values only the window has (column widths, the Default button's
// inner distance) are in settings/WindowState.h.
#pragma once

namespace globelayers {

// Gravitational constant in the units of the run: mGal per (g/cm3 times
// metres), i.e. 6.673e-11 m3 kg-1 s-2.
inline constexpr double kStartGravityConstant = 0.006673;
inline constexpr double kStartEarthRadiusM = 6371001;       // metres
inline constexpr double kStartPsiFromDeg = 0;               // degrees: inner spherical distance of the zone
inline constexpr double kStartPsiToDeg = 180;               // degrees: outer spherical distance of the zone
inline constexpr double kStartAzimuthFromDeg = 0;           // degrees: start of the azimuth range
inline constexpr double kStartAzimuthToDeg = 360;           // degrees: end of the azimuth range
inline constexpr double kStartIncrementM = 0;               // metres: no DTE(i), no VGDRE
inline constexpr double kStartSegmentSizeArcSec = 3600;     // arc-seconds

}  // namespace globelayers
