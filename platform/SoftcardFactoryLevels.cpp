#include "platform/Softcard.h"

namespace platform::softcard {

// The factory mixer state, for as long as no mixer layer keeps one.
Levels CurrentLevels() { return Levels{}; }

}  // namespace platform::softcard
