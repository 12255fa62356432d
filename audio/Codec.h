#pragma once
// Run-time binding of libvorbis (vorbis.dll, on Debian libvorbis.so.0).
//
// Loaded when the program starts, after libogg, and freed when it ends. A library that cannot be
// loaded leaves LibvorbisLoaded false and is not reported here: the Ogg Vorbis writer reports it.
// Entry points the library lacks stay null.
//
// The records (vorbis_info, vorbis_comment, vorbis_dsp_state, vorbis_block) are those of the
// library's public header.

#include <vorbis/codec.h>

#include "platform/system/DynLib.h"

namespace acs {

// Types of the entry points the Ogg Vorbis writer calls.
using vorbis_info_t = void (*)(vorbis_info*);
using vorbis_comment_t = void (*)(vorbis_comment*);
using vorbis_comment_add_tag_t = void (*)(vorbis_comment*, const char* tag, const char* contents);
using vorbis_analysis_init_t = int (*)(vorbis_dsp_state*, vorbis_info*);
using vorbis_block_init_t = int (*)(vorbis_dsp_state*, vorbis_block*);
using vorbis_analysis_headerout_t = int (*)(vorbis_dsp_state*, vorbis_comment*, ogg_packet* header,
                                            ogg_packet* comments, ogg_packet* codebooks);
using vorbis_analysis_buffer_t = float** (*)(vorbis_dsp_state*, int values);
using vorbis_analysis_wrote_t = int (*)(vorbis_dsp_state*, int values);
using vorbis_analysis_blockout_t = int (*)(vorbis_dsp_state*, vorbis_block*);
using vorbis_analysis_t = int (*)(vorbis_block*, ogg_packet*);
using vorbis_block_t = int (*)(vorbis_block*);
using vorbis_bitrate_flushpacket_t = int (*)(vorbis_dsp_state*, ogg_packet*);
using vorbis_dsp_clear_t = void (*)(vorbis_dsp_state*);

// Every entry point looked up, in lookup order: X(name, pointer type).
#define TW_CODEC_ENTRY_POINTS(X)                              \
  X(vorbis_info_init, vorbis_info_t)                          \
  X(vorbis_info_clear, vorbis_info_t)                         \
  X(vorbis_info_blocksize, platform::FARPROC)                 \
  X(vorbis_comment_init, vorbis_comment_t)                    \
  X(vorbis_comment_add, platform::FARPROC)                    \
  X(vorbis_comment_add_tag, vorbis_comment_add_tag_t)         \
  X(vorbis_comment_query, platform::FARPROC)                  \
  X(vorbis_comment_query_count, platform::FARPROC)            \
  X(vorbis_comment_clear, vorbis_comment_t)                   \
  X(vorbis_block_init, vorbis_block_init_t)                   \
  X(vorbis_block_clear, vorbis_block_t)                       \
  X(vorbis_dsp_clear, vorbis_dsp_clear_t)                     \
  X(vorbis_analysis_init, vorbis_analysis_init_t)             \
  X(vorbis_commentheader_out, platform::FARPROC)              \
  X(vorbis_analysis_headerout, vorbis_analysis_headerout_t)   \
  X(vorbis_analysis_buffer, vorbis_analysis_buffer_t)         \
  X(vorbis_analysis_wrote, vorbis_analysis_wrote_t)           \
  X(vorbis_analysis_blockout, vorbis_analysis_blockout_t)     \
  X(vorbis_analysis, vorbis_analysis_t)                       \
  X(vorbis_bitrate_addblock, vorbis_block_t)                  \
  X(vorbis_bitrate_flushpacket, vorbis_bitrate_flushpacket_t) \
  X(vorbis_synthesis_headerin, platform::FARPROC)             \
  X(vorbis_synthesis_init, platform::FARPROC)                 \
  X(vorbis_synthesis, platform::FARPROC)                      \
  X(vorbis_synthesis_blockin, platform::FARPROC)              \
  X(vorbis_synthesis_pcmout, platform::FARPROC)               \
  X(vorbis_synthesis_read, platform::FARPROC)                 \
  X(vorbis_packet_blocksize, platform::FARPROC)

#define TW_DECLARE_ENTRY_POINT(name, type) extern type name;
TW_CODEC_ENTRY_POINTS(TW_DECLARE_ENTRY_POINT)
#undef TW_DECLARE_ENTRY_POINT

// Set once the library has been loaded at start.
extern bool LibvorbisLoaded;

// The unit's counted start-up and shutdown (see ogg.h); starting it starts the ogg unit first.
void InitializeCodecUnit();
void FinalizeCodecUnit();

}  // namespace acs
