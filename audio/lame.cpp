#include "audio/lame.h"

namespace acs {

#define TW_DEFINE_ENTRY_POINT(name, type) type name = nullptr;
TW_LAME_ENTRY_POINTS(TW_DEFINE_ENTRY_POINT)
TW_LAME_EXTRA_ENTRY_POINTS(TW_DEFINE_ENTRY_POINT)
#undef TW_DEFINE_ENTRY_POINT

bool LameLoaded = false;

namespace {

platform::HMODULE lameModule = nullptr;

// Live uses of the library. Every MP3 writer holds one from its construction to its destruction, so
// destroying one writer cannot pull the encoder away from another that is still encoding.
int lameUses = 0;

void resetEntryPoints() {
#define TW_RESET_ENTRY_POINT(name, type) name = nullptr;
  TW_LAME_ENTRY_POINTS(TW_RESET_ENTRY_POINT)
  TW_LAME_EXTRA_ENTRY_POINTS(TW_RESET_ENTRY_POINT)
#undef TW_RESET_ENTRY_POINT
}

}  // namespace

void LoadLameLibrary() {
  if (LameLoaded) {
    ++lameUses;
    return;
  }
  lameModule = platform::LoadLibraryExA("lame_enc.dll", nullptr, 0);
  if (lameModule == nullptr) return;
  LameLoaded = true;
  lameUses = 1;
#define TW_LOOK_UP_ENTRY_POINT(name, type) \
  name = reinterpret_cast<type>(platform::GetProcAddress(lameModule, #name));
  TW_LAME_ENTRY_POINTS(TW_LOOK_UP_ENTRY_POINT)
  TW_LAME_EXTRA_ENTRY_POINTS(TW_LOOK_UP_ENTRY_POINT)
#undef TW_LOOK_UP_ENTRY_POINT
}

void UnloadLameLibrary() {
  if (lameUses > 0 && --lameUses > 0) return;
  LameLoaded = false;
  if (lameModule != nullptr) {
    platform::FreeLibrary(lameModule);
    lameModule = nullptr;
  }
  // Pointers into a freed library must not survive it.
  resetEntryPoints();
}

}  // namespace acs
