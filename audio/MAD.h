#pragma once
// Run-time binding of the libmad MP3 decoder (MADLib.dll, on Debian libmad.so.0).
//
// Loaded when the program starts, after libvorbisfile, and freed when it ends. Nothing calls it and
// nothing depends on it: a missing library is never reported. Entry points the library lacks stay
// null.

#include "platform/system/DynLib.h"

namespace acs {

// Every entry point looked up, in lookup order: X(name, pointer type).
#define TW_MAD_ENTRY_POINTS(X)              \
  X(mad_decoder_init, platform::FARPROC)    \
  X(mad_decoder_finish, platform::FARPROC)  \
  X(mad_decoder_run, platform::FARPROC)     \
  X(mad_decoder_message, platform::FARPROC) \
  X(mad_stream_buffer, platform::FARPROC)   \
  X(mad_stream_skip, platform::FARPROC)     \
  X(mad_stream_sync, platform::FARPROC)

#define TW_DECLARE_ENTRY_POINT(name, type) extern type name;
TW_MAD_ENTRY_POINTS(TW_DECLARE_ENTRY_POINT)
#undef TW_DECLARE_ENTRY_POINT

// Set once the library has been loaded at start.
extern bool LibMADLoaded;

// The unit's counted start-up and shutdown (see ogg.h); starting it starts the VorbisFile unit
// first, so that one start-up loads every library of the Ogg Vorbis writer in order.
void InitializeMADUnit();
void FinalizeMADUnit();

}  // namespace acs
