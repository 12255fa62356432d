#pragma once
// Run-time binding of the LAME MP3 encoder (lame_enc.dll, on Debian libmp3lame.so.0).
//
// The MP3 writer does not link the library: LoadLameLibrary loads it by name and looks up its entry
// points, one pointer per name (null when the library lacks the name). The writer calls the encoder
// only through these pointers and refuses to be constructed while LameLoaded is false.
//
// Loading and unloading happen on the GUI thread (construction and destruction of the MP3 writers);
// the writers' workers only read the pointers afterwards.

#include <cstddef>

#include "platform/system/DynLib.h"

struct lame_global_struct;
typedef struct lame_global_struct lame_global_flags;

namespace acs {

using lame_t = lame_global_flags*;

// Types of the entry points the MP3 writer calls. Enumerated arguments (mode, VBR mode) are ints.
using lame_init_t = lame_t (*)();
using lame_set_int_t = int (*)(lame_t, int);
using lame_get_int_t = int (*)(const lame_global_flags*);
using lame_set_num_samples_t = int (*)(lame_t, unsigned long);
using lame_init_params_t = int (*)(lame_t);
using lame_encode_buffer_t = int (*)(lame_t, const short* left, const short* right, int samples,
                                     unsigned char* mp3buf, int mp3bufSize);
using lame_encode_buffer_interleaved_t = int (*)(lame_t, short* pcm, int frames,
                                                 unsigned char* mp3buf, int mp3bufSize);
using lame_encode_flush_t = int (*)(lame_t, unsigned char* mp3buf, int size);
using lame_close_t = int (*)(lame_t);
using lame_get_lametag_frame_t = std::size_t (*)(const lame_global_flags*, unsigned char* buffer,
                                                 std::size_t size);
using id3tag_init_t = void (*)(lame_t);
using id3tag_set_text_t = void (*)(lame_t, const char*);
using id3tag_set_text_int_t = int (*)(lame_t, const char*);

// Every entry point looked up, in lookup order: X(name, pointer type). Names the writer does not
// call keep the untyped platform::FARPROC.
#define TW_LAME_ENTRY_POINTS(X)                                       \
  X(lame_init, lame_init_t)                                           \
  X(lame_set_num_samples, lame_set_num_samples_t)                     \
  X(lame_get_num_samples, platform::FARPROC)                          \
  X(lame_set_in_samplerate, lame_set_int_t)                           \
  X(lame_get_in_samplerate, platform::FARPROC)                        \
  X(lame_set_num_channels, lame_set_int_t)                            \
  X(lame_get_num_channels, platform::FARPROC)                         \
  X(lame_set_scale, platform::FARPROC)                                \
  X(lame_get_scale, platform::FARPROC)                                \
  X(lame_set_scale_left, platform::FARPROC)                           \
  X(lame_get_scale_left, platform::FARPROC)                           \
  X(lame_set_scale_right, platform::FARPROC)                          \
  X(lame_get_scale_right, platform::FARPROC)                          \
  X(lame_set_out_samplerate, lame_set_int_t)                          \
  X(lame_get_out_samplerate, lame_get_int_t)                          \
  X(lame_set_analysis, platform::FARPROC)                             \
  X(lame_get_analysis, platform::FARPROC)                             \
  X(lame_set_bWriteVbrTag, lame_set_int_t)                            \
  X(lame_get_bWriteVbrTag, lame_get_int_t)                            \
  X(lame_set_decode_only, platform::FARPROC)                          \
  X(lame_get_decode_only, platform::FARPROC)                          \
  X(lame_set_ogg, platform::FARPROC)                                  \
  X(lame_get_ogg, platform::FARPROC)                                  \
  X(lame_set_quality, lame_set_int_t)                                 \
  X(lame_get_quality, platform::FARPROC)                              \
  X(lame_set_mode, lame_set_int_t)                                    \
  X(lame_get_mode, platform::FARPROC)                                 \
  X(lame_set_mode_automs, platform::FARPROC)                          \
  X(lame_get_mode_automs, platform::FARPROC)                          \
  X(lame_set_force_ms, platform::FARPROC)                             \
  X(lame_get_force_ms, platform::FARPROC)                             \
  X(lame_set_free_format, platform::FARPROC)                          \
  X(lame_get_free_format, platform::FARPROC)                          \
  X(lame_set_brate, lame_set_int_t)                                   \
  X(lame_get_brate, platform::FARPROC)                                \
  X(lame_set_compression_ratio, platform::FARPROC)                    \
  X(lame_get_compression_ratio, platform::FARPROC)                    \
  X(lame_set_preset, platform::FARPROC)                               \
  X(lame_set_asm_optimizations, platform::FARPROC)                    \
  X(lame_set_copyright, lame_set_int_t)                               \
  X(lame_get_copyright, platform::FARPROC)                            \
  X(lame_set_original, lame_set_int_t)                                \
  X(lame_get_original, platform::FARPROC)                             \
  X(lame_set_error_protection, lame_set_int_t)                        \
  X(lame_get_error_protection, platform::FARPROC)                     \
  X(lame_set_padding_type, platform::FARPROC)                         \
  X(lame_get_padding_type, platform::FARPROC)                         \
  X(lame_set_extension, platform::FARPROC)                            \
  X(lame_get_extension, platform::FARPROC)                            \
  X(lame_set_strict_ISO, platform::FARPROC)                           \
  X(lame_get_strict_ISO, platform::FARPROC)                           \
  X(lame_set_VBR, lame_set_int_t)                                     \
  X(lame_get_VBR, platform::FARPROC)                                  \
  X(lame_set_VBR_q, lame_set_int_t)                                   \
  X(lame_get_VBR_q, platform::FARPROC)                                \
  X(lame_set_VBR_mean_bitrate_kbps, platform::FARPROC)                \
  X(lame_get_VBR_mean_bitrate_kbps, platform::FARPROC)                \
  X(lame_set_VBR_min_bitrate_kbps, lame_set_int_t)                    \
  X(lame_get_VBR_min_bitrate_kbps, platform::FARPROC)                 \
  X(lame_set_VBR_max_bitrate_kbps, lame_set_int_t)                    \
  X(lame_get_VBR_max_bitrate_kbps, platform::FARPROC)                 \
  X(lame_set_VBR_hard_min, platform::FARPROC)                         \
  X(lame_get_VBR_hard_min, platform::FARPROC)                         \
  X(lame_set_lowpassfreq, platform::FARPROC)                          \
  X(lame_get_lowpassfreq, platform::FARPROC)                          \
  X(lame_set_lowpasswidth, platform::FARPROC)                         \
  X(lame_get_lowpasswidth, platform::FARPROC)                         \
  X(lame_set_highpassfreq, platform::FARPROC)                         \
  X(lame_get_highpassfreq, platform::FARPROC)                         \
  X(lame_set_highpasswidth, platform::FARPROC)                        \
  X(lame_get_highpasswidth, platform::FARPROC)                        \
  X(lame_get_version, platform::FARPROC)                              \
  X(lame_get_encoder_delay, platform::FARPROC)                        \
  X(lame_get_encoder_padding, platform::FARPROC)                      \
  X(lame_get_framesize, platform::FARPROC)                            \
  X(lame_get_mf_samples_to_encode, platform::FARPROC)                 \
  X(lame_get_size_mp3buffer, platform::FARPROC)                       \
  X(lame_get_frameNum, platform::FARPROC)                             \
  X(lame_get_totalframes, platform::FARPROC)                          \
  X(lame_init_params, lame_init_params_t)                             \
  X(get_lame_version, platform::FARPROC)                              \
  X(get_lame_short_version, platform::FARPROC)                        \
  X(get_lame_very_short_version, platform::FARPROC)                   \
  X(get_psy_version, platform::FARPROC)                               \
  X(get_lame_url, platform::FARPROC)                                  \
  X(get_lame_version_numerical, platform::FARPROC)                    \
  X(lame_encode_buffer, lame_encode_buffer_t)                         \
  X(lame_encode_buffer_interleaved, lame_encode_buffer_interleaved_t) \
  X(lame_encode_buffer_float, platform::FARPROC)                      \
  X(lame_encode_flush, lame_encode_flush_t)                           \
  X(lame_encode_flush_nogap, platform::FARPROC)                       \
  X(lame_init_bitstream, platform::FARPROC)                           \
  X(lame_close, lame_close_t)                                         \
  X(lame_decode_init, platform::FARPROC)                              \
  X(lame_decode, platform::FARPROC)                                   \
  X(lame_decode_headers, platform::FARPROC)                           \
  X(lame_decode1, platform::FARPROC)                                  \
  X(lame_decode1_headers, platform::FARPROC)                          \
  X(id3tag_genre_list, platform::FARPROC)                             \
  X(id3tag_init, id3tag_init_t)                                       \
  X(id3tag_add_v2, platform::FARPROC)                                 \
  X(id3tag_v1_only, platform::FARPROC)                                \
  X(id3tag_v2_only, platform::FARPROC)                                \
  X(id3tag_space_v1, platform::FARPROC)                               \
  X(id3tag_pad_v2, platform::FARPROC)                                 \
  X(id3tag_set_title, id3tag_set_text_t)                              \
  X(id3tag_set_artist, id3tag_set_text_t)                             \
  X(id3tag_set_album, id3tag_set_text_t)                              \
  X(id3tag_set_year, id3tag_set_text_t)                               \
  X(id3tag_set_comment, id3tag_set_text_t)                            \
  X(id3tag_set_track, id3tag_set_text_int_t)                          \
  X(id3tag_set_genre, id3tag_set_text_int_t)

// Looked up besides the list above: the writer fills in the VBR/Info frame that the encoder
// reserves at the start of the file with the frame this entry point returns at the end of a run.
#define TW_LAME_EXTRA_ENTRY_POINTS(X) X(lame_get_lametag_frame, lame_get_lametag_frame_t)

#define TW_DECLARE_ENTRY_POINT(name, type) extern type name;
TW_LAME_ENTRY_POINTS(TW_DECLARE_ENTRY_POINT)
TW_LAME_EXTRA_ENTRY_POINTS(TW_DECLARE_ENTRY_POINT)
#undef TW_DECLARE_ENTRY_POINT

// True while the library is loaded (between a successful LoadLameLibrary and the UnloadLameLibrary
// that matches it).
extern bool LameLoaded;

// Loads the library unless it is loaded already, and looks up every entry point. A library that
// cannot be loaded leaves LameLoaded false and is not reported here: the writer reports it.
// Each successful call is one use of the library, to be ended by UnloadLameLibrary.
void LoadLameLibrary();

// Ends one use. The last use clears LameLoaded and frees the library; the next LoadLameLibrary
// loads it again.
void UnloadLameLibrary();

}  // namespace acs
