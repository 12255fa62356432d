#pragma once
// Run-time binding of libvorbisfile (vorbisfile.dll, on Debian libvorbisfile.so.3).
//
// Loaded when the program starts, after libvorbisenc, and freed when it ends. No component calls
// this library, but the Ogg Vorbis writer refuses to be constructed while LibvorbisfileLoaded is
// false. Entry points the library lacks stay null.

#include "platform/system/DynLib.h"

namespace acs {

// Every entry point looked up, in lookup order: X(name, pointer type).
#define TW_VORBISFILE_ENTRY_POINTS(X)      \
  X(ov_clear, platform::FARPROC)           \
  X(ov_open_callbacks, platform::FARPROC)  \
  X(ov_test_callbacks, platform::FARPROC)  \
  X(ov_test_open, platform::FARPROC)       \
  X(ov_bitrate, platform::FARPROC)         \
  X(ov_bitrate_instant, platform::FARPROC) \
  X(ov_streams, platform::FARPROC)         \
  X(ov_seekable, platform::FARPROC)        \
  X(ov_serialnumber, platform::FARPROC)    \
  X(ov_raw_total, platform::FARPROC)       \
  X(ov_pcm_total, platform::FARPROC)       \
  X(ov_time_total, platform::FARPROC)      \
  X(ov_raw_seek, platform::FARPROC)        \
  X(ov_pcm_seek, platform::FARPROC)        \
  X(ov_pcm_seek_page, platform::FARPROC)   \
  X(ov_time_seek, platform::FARPROC)       \
  X(ov_time_seek_page, platform::FARPROC)  \
  X(ov_raw_tell, platform::FARPROC)        \
  X(ov_pcm_tell, platform::FARPROC)        \
  X(ov_time_tell, platform::FARPROC)       \
  X(ov_info, platform::FARPROC)            \
  X(ov_comment, platform::FARPROC)         \
  X(ov_read_float, platform::FARPROC)      \
  X(ov_read, platform::FARPROC)

#define TW_DECLARE_ENTRY_POINT(name, type) extern type name;
TW_VORBISFILE_ENTRY_POINTS(TW_DECLARE_ENTRY_POINT)
#undef TW_DECLARE_ENTRY_POINT

// Set once the library has been loaded at start.
extern bool LibvorbisfileLoaded;

// The unit's counted start-up and shutdown (see ogg.h); starting it starts the VorbisEnc unit
// first.
void InitializeVorbisFileUnit();
void FinalizeVorbisFileUnit();

}  // namespace acs
