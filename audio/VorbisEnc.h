#pragma once
// Run-time binding of libvorbisenc (vorbisenc.dll, on Debian libvorbisenc.so.2).
//
// Loaded when the program starts, after libvorbis, and freed when it ends. A library that cannot be
// loaded leaves LibvorbisencLoaded false and is not reported here: the Ogg Vorbis writer reports
// it. Entry points the library lacks stay null.

#include <vorbis/codec.h>

#include "platform/system/DynLib.h"

namespace acs {

// Types of the entry points the Ogg Vorbis writer calls.
using vorbis_encode_init_t = int (*)(vorbis_info*, long channels, long rate, long maxBitrate,
                                     long nominalBitrate, long minBitrate);
using vorbis_encode_setup_vbr_t = int (*)(vorbis_info*, long channels, long rate, float quality);
using vorbis_encode_setup_init_t = int (*)(vorbis_info*);

// Every entry point looked up, in lookup order: X(name, pointer type).
#define TW_VORBISENC_ENTRY_POINTS(X)                      \
  X(vorbis_encode_init, vorbis_encode_init_t)             \
  X(vorbis_encode_setup_managed, platform::FARPROC)       \
  X(vorbis_encode_setup_vbr, vorbis_encode_setup_vbr_t)   \
  X(vorbis_encode_init_vbr, platform::FARPROC)            \
  X(vorbis_encode_setup_init, vorbis_encode_setup_init_t) \
  X(vorbis_encode_ctl, platform::FARPROC)

#define TW_DECLARE_ENTRY_POINT(name, type) extern type name;
TW_VORBISENC_ENTRY_POINTS(TW_DECLARE_ENTRY_POINT)
#undef TW_DECLARE_ENTRY_POINT

// Set once the library has been loaded at start.
extern bool LibvorbisencLoaded;

// The unit's counted start-up and shutdown (see ogg.h); starting it starts the Codec unit first.
void InitializeVorbisEncUnit();
void FinalizeVorbisEncUnit();

}  // namespace acs
