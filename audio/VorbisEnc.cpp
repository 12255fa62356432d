#include "audio/VorbisEnc.h"

#include "audio/Codec.h"

namespace acs {

#define TW_DEFINE_ENTRY_POINT(name, type) type name = nullptr;
TW_VORBISENC_ENTRY_POINTS(TW_DEFINE_ENTRY_POINT)
#undef TW_DEFINE_ENTRY_POINT

bool LibvorbisencLoaded = false;

namespace {

platform::HMODULE module = nullptr;

// Start-ups not yet matched by a shutdown. Zero before any dynamic initialisation runs, so another
// unit may start this one before the program reaches this file's own start-up object.
int unitUses = 0;

// Loads the library when the program starts and frees it when the program ends.
struct UnitLifetime {
  UnitLifetime() { InitializeVorbisEncUnit(); }
  ~UnitLifetime() { FinalizeVorbisEncUnit(); }
  UnitLifetime(const UnitLifetime&) = delete;
  UnitLifetime& operator=(const UnitLifetime&) = delete;
} unitLifetime;

}  // namespace

void InitializeVorbisEncUnit() {
  if (unitUses++ > 0) return;
  // The libraries are loaded in a fixed order, and freed in the reverse one.
  InitializeCodecUnit();
  module = platform::LoadLibraryExA("vorbisenc.dll", nullptr, 0);
  if (module == nullptr) return;
  LibvorbisencLoaded = true;
#define TW_LOOK_UP_ENTRY_POINT(name, type) \
  name = reinterpret_cast<type>(platform::GetProcAddress(module, #name));
  TW_VORBISENC_ENTRY_POINTS(TW_LOOK_UP_ENTRY_POINT)
#undef TW_LOOK_UP_ENTRY_POINT
}

void FinalizeVorbisEncUnit() {
  if (unitUses == 0 || --unitUses > 0) return;
  if (module != nullptr) {
    platform::FreeLibrary(module);
    module = nullptr;
  }
  LibvorbisencLoaded = false;
#define TW_RESET_ENTRY_POINT(name, type) name = nullptr;
  TW_VORBISENC_ENTRY_POINTS(TW_RESET_ENTRY_POINT)
#undef TW_RESET_ENTRY_POINT
  FinalizeCodecUnit();
}

}  // namespace acs
