#include "audio/ogg.h"

namespace acs {

#define TW_DEFINE_ENTRY_POINT(name, type) type name = nullptr;
TW_OGG_ENTRY_POINTS(TW_DEFINE_ENTRY_POINT)
#undef TW_DEFINE_ENTRY_POINT

bool LiboggLoaded = false;

namespace {

platform::HMODULE module = nullptr;

// Start-ups not yet matched by a shutdown. Zero before any dynamic initialisation runs, so another
// unit may start this one before the program reaches this file's own start-up object.
int unitUses = 0;

// Loads the library when the program starts and frees it when the program ends.
struct UnitLifetime {
  UnitLifetime() { InitializeOggUnit(); }
  ~UnitLifetime() { FinalizeOggUnit(); }
  UnitLifetime(const UnitLifetime&) = delete;
  UnitLifetime& operator=(const UnitLifetime&) = delete;
} unitLifetime;

}  // namespace

void InitializeOggUnit() {
  if (unitUses++ > 0) return;

  module = platform::LoadLibraryExA("ogg.dll", nullptr, 0);
  if (module == nullptr) return;
  LiboggLoaded = true;
#define TW_LOOK_UP_ENTRY_POINT(name, type) \
  name = reinterpret_cast<type>(platform::GetProcAddress(module, #name));
  TW_OGG_ENTRY_POINTS(TW_LOOK_UP_ENTRY_POINT)
#undef TW_LOOK_UP_ENTRY_POINT
}

void FinalizeOggUnit() {
  if (unitUses == 0 || --unitUses > 0) return;
  if (module != nullptr) {
    platform::FreeLibrary(module);
    module = nullptr;
  }
  LiboggLoaded = false;
#define TW_RESET_ENTRY_POINT(name, type) name = nullptr;
  TW_OGG_ENTRY_POINTS(TW_RESET_ENTRY_POINT)
#undef TW_RESET_ENTRY_POINT
}

}  // namespace acs
