// What each flavour of Sonvane.dll supplies to the exports they share (SonvaneDll.cpp): the one
// library its seven functions answer from, built at the first call rather than in DllMain (the
// loader lock is held there, and the real flavour's Core Audio must not be touched under it).
#pragma once

#include "companions/sonvane/SonvaneCore.h"

namespace sonvane {

Library& TheLibrary();

}  // namespace sonvane
