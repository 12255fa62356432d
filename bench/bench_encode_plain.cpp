#include "bench/bench_encode_plain.h"

#include <lame/lame.h>
#include <vorbis/vorbisenc.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <memory>

namespace {

struct FileCloser {
  void operator()(FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<FILE, FileCloser>;

File create(const std::string& path) {
  File f(std::fopen(path.c_str(), "wb"));
  if (!f) {
    std::perror(path.c_str());
    std::exit(1);
  }
  return f;
}

}  // namespace

void PlainMp3Encode(const std::vector<std::int16_t>& pcm, int rate, const std::string& path) {
  File out = create(path);
  const int frames = static_cast<int>(pcm.size() / 2);
  lame_t lame = lame_init();
  lame_set_num_samples(lame, static_cast<unsigned long>(frames));
  lame_set_in_samplerate(lame, rate);
  lame_set_num_channels(lame, 2);
  lame_set_out_samplerate(lame, 0);
  lame_set_mode(lame, STEREO);
  lame_set_copyright(lame, 0);
  lame_set_original(lame, 1);
  lame_set_error_protection(lame, 0);
  lame_set_brate(lame, 128);
  lame_set_quality(lame, 5);
  lame_init_params(lame);
  std::vector<unsigned char> mp3(17440);
  std::vector<short> block(8192);
  for (int at = 0; at < frames; at += 4096) {
    const int n = std::min(4096, frames - at);
    std::copy(pcm.begin() + 2 * at, pcm.begin() + 2 * (at + n), block.begin());
    const int r = lame_encode_buffer_interleaved(lame, block.data(), n, mp3.data(),
                                                 static_cast<int>(mp3.size()));
    if (r > 0) std::fwrite(mp3.data(), 1, static_cast<std::size_t>(r), out.get());
  }
  const int r = lame_encode_flush(lame, mp3.data(), static_cast<int>(mp3.size()));
  if (r > 0) std::fwrite(mp3.data(), 1, static_cast<std::size_t>(r), out.get());
  lame_close(lame);
}

void PlainOggEncode(const std::vector<std::int16_t>& pcm, int rate, const std::string& path) {
  File out = create(path);
  vorbis_info vi;
  vorbis_comment vc;
  vorbis_dsp_state vd;
  vorbis_block vb;
  ogg_stream_state os;
  ogg_page og;
  ogg_packet op;
  vorbis_info_init(&vi);
  vorbis_encode_init(&vi, 2, rate, 128000, 128000, 128000);
  vorbis_comment_init(&vc);
  vorbis_analysis_init(&vd, &vi);
  vorbis_block_init(&vd, &vb);
  ogg_stream_init(&os, 0);
  ogg_packet h1, h2, h3;
  vorbis_analysis_headerout(&vd, &vc, &h1, &h2, &h3);
  ogg_stream_packetin(&os, &h1);
  ogg_stream_packetin(&os, &h2);
  ogg_stream_packetin(&os, &h3);
  auto writePage = [&] {
    std::fwrite(og.header, 1, static_cast<std::size_t>(og.header_len), out.get());
    std::fwrite(og.body, 1, static_cast<std::size_t>(og.body_len), out.get());
  };
  while (ogg_stream_flush(&os, &og) != 0) writePage();
  const int frames = static_cast<int>(pcm.size() / 2);
  bool eos = false;
  for (int at = 0; !eos; at += 16384) {
    const int n = std::max(0, std::min(16384, frames - at));
    if (n > 0) {
      float** buffers = vorbis_analysis_buffer(&vd, 16384);
      for (int i = 0; i < n; ++i) {
        buffers[0][i] = pcm[static_cast<std::size_t>(2 * (at + i))] / 32768.0f;
        buffers[1][i] = pcm[static_cast<std::size_t>(2 * (at + i) + 1)] / 32768.0f;
      }
    }
    vorbis_analysis_wrote(&vd, n);
    while (vorbis_analysis_blockout(&vd, &vb) == 1) {
      vorbis_analysis(&vb, nullptr);
      vorbis_bitrate_addblock(&vb);
      while (vorbis_bitrate_flushpacket(&vd, &op) == 1) {
        ogg_stream_packetin(&os, &op);
        while (!eos && ogg_stream_pageout(&os, &og) != 0) {
          writePage();
          eos = ogg_page_eos(&og) != 0;
        }
      }
    }
  }
  ogg_stream_clear(&os);
  vorbis_block_clear(&vb);
  vorbis_dsp_clear(&vd);
  vorbis_comment_clear(&vc);
  vorbis_info_clear(&vi);
}
