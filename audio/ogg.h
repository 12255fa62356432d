#pragma once
// Run-time binding of libogg (ogg.dll, on Debian libogg.so.0).
//
// The library is loaded when the program starts and freed when it ends. A library that cannot be
// loaded leaves LiboggLoaded false and is not reported here: the Ogg Vorbis writer reports it when
// it is constructed. Entry points the library lacks stay null.
//
// The records (ogg_stream_state, ogg_page, ogg_packet) are those of the library's public header.

#include <ogg/ogg.h>

#include "platform/system/DynLib.h"

namespace acs {

// Types of the entry points the Ogg Vorbis writer calls.
using ogg_stream_init_t = int (*)(ogg_stream_state*, int serialno);
using ogg_stream_clear_t = int (*)(ogg_stream_state*);
using ogg_stream_packetin_t = int (*)(ogg_stream_state*, ogg_packet*);
using ogg_stream_page_t = int (*)(ogg_stream_state*, ogg_page*);
using ogg_page_eos_t = int (*)(const ogg_page*);

// Every entry point looked up, in lookup order: X(name, pointer type).
#define TW_OGG_ENTRY_POINTS(X)                  \
  X(ogg_stream_init, ogg_stream_init_t)         \
  X(ogg_stream_clear, ogg_stream_clear_t)       \
  X(ogg_stream_reset, platform::FARPROC)        \
  X(ogg_stream_destroy, platform::FARPROC)      \
  X(ogg_stream_eos, platform::FARPROC)          \
  X(ogg_page_checksum_set, platform::FARPROC)   \
  X(ogg_page_version, platform::FARPROC)        \
  X(ogg_page_continued, platform::FARPROC)      \
  X(ogg_page_bos, platform::FARPROC)            \
  X(ogg_page_eos, ogg_page_eos_t)               \
  X(ogg_page_granulepos, platform::FARPROC)     \
  X(ogg_page_serialno, platform::FARPROC)       \
  X(ogg_page_pageno, platform::FARPROC)         \
  X(ogg_page_packets, platform::FARPROC)        \
  X(ogg_packet_clear, platform::FARPROC)        \
  X(oggpack_writeinit, platform::FARPROC)       \
  X(oggpack_reset, platform::FARPROC)           \
  X(oggpack_writeclear, platform::FARPROC)      \
  X(oggpack_readinit, platform::FARPROC)        \
  X(oggpack_write, platform::FARPROC)           \
  X(oggpack_look, platform::FARPROC)            \
  X(oggpack_look_huff, platform::FARPROC)       \
  X(oggpack_look1, platform::FARPROC)           \
  X(oggpack_adv, platform::FARPROC)             \
  X(oggpack_adv_huff, platform::FARPROC)        \
  X(oggpack_adv1, platform::FARPROC)            \
  X(oggpack_read, platform::FARPROC)            \
  X(oggpack_read1, platform::FARPROC)           \
  X(oggpack_bytes, platform::FARPROC)           \
  X(oggpack_bits, platform::FARPROC)            \
  X(oggpack_get_buffer, platform::FARPROC)      \
  X(ogg_stream_packetin, ogg_stream_packetin_t) \
  X(ogg_stream_pageout, ogg_stream_page_t)      \
  X(ogg_stream_flush, ogg_stream_page_t)        \
  X(ogg_sync_init, platform::FARPROC)           \
  X(ogg_sync_clear, platform::FARPROC)          \
  X(ogg_sync_reset, platform::FARPROC)          \
  X(ogg_sync_destroy, platform::FARPROC)        \
  X(ogg_sync_buffer, platform::FARPROC)         \
  X(ogg_sync_wrote, platform::FARPROC)          \
  X(ogg_sync_pageseek, platform::FARPROC)       \
  X(ogg_sync_pageout, platform::FARPROC)        \
  X(ogg_stream_pagein, platform::FARPROC)       \
  X(ogg_stream_packetout, platform::FARPROC)    \
  X(ogg_stream_packetpeek, platform::FARPROC)

#define TW_DECLARE_ENTRY_POINT(name, type) extern type name;
TW_OGG_ENTRY_POINTS(TW_DECLARE_ENTRY_POINT)
#undef TW_DECLARE_ENTRY_POINT

// Set once the library has been loaded at start.
extern bool LiboggLoaded;

// The unit's start-up and shutdown, counted: the first InitializeOggUnit loads the library, the
// FinalizeOggUnit that matches the last one frees it. The program's start-up and shutdown call
// them; so do the units whose libraries must load after this one.
void InitializeOggUnit();
void FinalizeOggUnit();

}  // namespace acs
