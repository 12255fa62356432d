#include "audio/ACS_LAME.h"

#include <algorithm>
#include <bit>
#include <exception>
#include <utility>

// The encoder takes 16-bit samples in host order straight from the input block, which holds them
// little-endian.
static_assert(std::endian::native == std::endian::little);

namespace {

// What LAME asks for one call: 1.25 x samples + 7200 bytes, for 8192 samples per channel.
constexpr int kMinOutBufferSize = 17440;

struct RequiredEntryPoint {
  const char* name;
  bool present;
};

// Every entry point a run calls unconditionally; one missing would be a call through null.
std::vector<RequiredEntryPoint> requiredEntryPoints() {
  return {
      {"lame_init", acs::lame_init != nullptr},
      {"lame_set_num_samples", acs::lame_set_num_samples != nullptr},
      {"lame_set_in_samplerate", acs::lame_set_in_samplerate != nullptr},
      {"lame_set_num_channels", acs::lame_set_num_channels != nullptr},
      {"lame_set_out_samplerate", acs::lame_set_out_samplerate != nullptr},
      {"lame_set_mode", acs::lame_set_mode != nullptr},
      {"lame_set_copyright", acs::lame_set_copyright != nullptr},
      {"lame_set_original", acs::lame_set_original != nullptr},
      {"lame_set_error_protection", acs::lame_set_error_protection != nullptr},
      {"lame_set_brate", acs::lame_set_brate != nullptr},
      {"lame_set_quality", acs::lame_set_quality != nullptr},
      {"lame_set_bWriteVbrTag", acs::lame_set_bWriteVbrTag != nullptr},
      {"lame_set_VBR", acs::lame_set_VBR != nullptr},
      {"lame_set_VBR_q", acs::lame_set_VBR_q != nullptr},
      {"lame_set_VBR_min_bitrate_kbps", acs::lame_set_VBR_min_bitrate_kbps != nullptr},
      {"lame_set_VBR_max_bitrate_kbps", acs::lame_set_VBR_max_bitrate_kbps != nullptr},
      {"lame_init_params", acs::lame_init_params != nullptr},
      {"lame_encode_buffer", acs::lame_encode_buffer != nullptr},
      {"lame_encode_buffer_interleaved", acs::lame_encode_buffer_interleaved != nullptr},
      {"lame_encode_flush", acs::lame_encode_flush != nullptr},
      {"lame_close", acs::lame_close != nullptr},
      {"id3tag_init", acs::id3tag_init != nullptr},
      {"id3tag_set_title", acs::id3tag_set_title != nullptr},
      {"id3tag_set_artist", acs::id3tag_set_artist != nullptr},
      {"id3tag_set_album", acs::id3tag_set_album != nullptr},
      {"id3tag_set_year", acs::id3tag_set_year != nullptr},
      {"id3tag_set_track", acs::id3tag_set_track != nullptr},
      {"id3tag_set_comment", acs::id3tag_set_comment != nullptr},
      {"id3tag_set_genre", acs::id3tag_set_genre != nullptr},
  };
}

}  // namespace

int MP3BitRateKbps(TMP3BitRate rate) {
  static constexpr int kKbps[] = {8,  16,  24,  32,  40,  48,  56,  64,  80,
                                  96, 112, 128, 144, 160, 192, 224, 256, 320};
  return kKbps[rate];
}

int MP3SampleRateHz(TMP3SampleRate rate) {
  switch (rate) {
    case srDefault:
      return 0;
    case sr11kHz:
      return 11025;
    case sr22kHz:
      return 22050;
    case sr44kHz:
      return 44100;
    case sr32kHz:
      return 32000;
    case sr41kHz:
      return 44100;  // there is no 41 kHz MPEG rate; the nearest is meant
    case sr48kHz:
      return 48000;
  }
  return 0;
}

TMP3Out::TMP3Out(platform::TComponent* AOwner) : TACSFileOut(AOwner) {
  acs::LoadLameLibrary();
  if (!acs::LameLoaded) throw EACSException("lame_enc.dll library could not be loaded.");
}

TMP3Out::~TMP3Out() {
  EndWorker();
  // A run abandoned by the destruction never reached Done: release what it held.
  ReleaseRun();
  acs::UnloadLameLibrary();
}

void TMP3Out::Prepare() {
  if (FFileName.empty()) throw EACSException("File name is not assigned.");
  for (const auto& entry : requiredEntryPoints()) {
    if (!entry.present) {
      throw EACSException(std::string("lame_enc.dll library has no entry point \"") + entry.name +
                          "\", so MP3 files cannot be written.");
    }
  }
  TACSInput* input = Input();
  const int bits = input->GetBitsPerSample();
  const int channels = input->GetChannels();
  const int rate = input->GetSampleRate();
  CheckEncoderInput(bits, channels, rate, "MP3");

  FStream = std::make_unique<platform::TFileStream>(FFileName, platform::fmCreate);
  NoteFileCreated();
  FStreamStart = 0;
  try {
    input->Init();
  } catch (...) {
    FStream.reset();
    throw;
  }
  try {
    FHandle = acs::lame_init();
    if (FHandle == nullptr) throw EACSException("The MP3 encoder could not be started.");
    const int size = input->Size();
    const int frames = size > 0 ? size / ((bits / 8) * channels) : 0;
    acs::lame_set_num_samples(FHandle, static_cast<unsigned long>(frames));
    acs::lame_set_in_samplerate(FHandle, rate);
    // Always two channels: a mono block is handed over as two equal channels (see DoOutput).
    acs::lame_set_num_channels(FHandle, 2);
    acs::lame_set_out_samplerate(FHandle, MP3SampleRateHz(FSampleRate));
    acs::lame_set_mode(FHandle, static_cast<int>(FMode));
    acs::lame_set_copyright(FHandle, FCopyright ? 1 : 0);
    acs::lame_set_original(FHandle, FOriginal ? 1 : 0);
    acs::lame_set_error_protection(FHandle, FCRC ? 1 : 0);
    if (!FEnableVBR) {
      acs::lame_set_brate(FHandle, MP3BitRateKbps(FBitRate));
      acs::lame_set_quality(FHandle, static_cast<int>(FQuality));
    } else {
      if (FWriteVBRHeader) acs::lame_set_bWriteVbrTag(FHandle, 1);
      acs::lame_set_VBR(FHandle, 2);
      acs::lame_set_VBR_q(FHandle, static_cast<int>(FVBRQuality));
      if (FVBRMaxBitrate < FVBRMinBitrate) std::swap(FVBRMinBitrate, FVBRMaxBitrate);
      acs::lame_set_VBR_min_bitrate_kbps(FHandle, FVBRMinBitrate);
      acs::lame_set_VBR_max_bitrate_kbps(FHandle, FVBRMaxBitrate);
    }
    // A refused set-up would make every encode call fail, and the run would end with an empty file
    // reported as done.
    if (acs::lame_init_params(FHandle) < 0) {
      throw EACSException(
          "The MP3 encoder does not accept these settings (" + std::to_string(rate) +
          " Hz input, " +
          (FEnableVBR ? std::string("VBR") : std::to_string(MP3BitRateKbps(FBitRate)) + " kbit/s") +
          ").");
    }
    // One call may return more frames than it was given samples when the encoder resamples upwards
    // (an 11025 Hz input encoded at 44100 Hz): give the output buffer room for that.
    FOutBufferSize = kMinOutBufferSize;
    const int outRate = acs::lame_get_out_samplerate ? acs::lame_get_out_samplerate(FHandle) : 0;
    if (rate > 0 && outRate > rate) {
      const long long upsampled = 8192LL * outRate / rate + 1;
      FOutBufferSize = std::max<int>(kMinOutBufferSize, static_cast<int>(upsampled * 5 / 4 + 7200));
    }
    FOutBuffer.assign(static_cast<std::size_t>(FOutBufferSize), 0);
  } catch (...) {
    ReleaseRun();
    try {
      input->Flush();
    } catch (...) {
      // The set-up failure is the one to report.
    }
    throw;
  }
}

bool TMP3Out::DoOutput(bool Abort) {
  if (!CanOutput) return true;
  if (Abort) return false;
  int channels = 0;
  const int n = GetInputData16(FBuffer, FNarrow, channels);
  if (n <= 0) return false;
  int r;
  if (channels == 2) {
    r = acs::lame_encode_buffer_interleaved(FHandle, FBuffer.data(), n / 4, FOutBuffer.data(),
                                            FOutBufferSize);
  } else {
    r = acs::lame_encode_buffer(FHandle, FBuffer.data(), FBuffer.data(), n / 2, FOutBuffer.data(),
                                FOutBufferSize);
  }
  if (r < 0) return false;
  FStream->WriteBuffer(FOutBuffer.data(), r);
  return true;
}

void TMP3Out::Done() {
  // Everything below must happen even when a write fails (a full disk): the first failure is
  // raised once the file is closed, the encoder released and the input flushed.
  std::exception_ptr failure;
  if (FHandle != nullptr) {
    acs::id3tag_init(FHandle);
    acs::id3tag_set_title(FHandle, FId3TagTitle.c_str());
    acs::id3tag_set_artist(FHandle, FId3TagArtist.c_str());
    acs::id3tag_set_album(FHandle, FId3TagAlbum.c_str());
    acs::id3tag_set_year(FHandle, FId3TagYear.c_str());
    acs::id3tag_set_track(FHandle, FId3TagTrack.c_str());
    acs::id3tag_set_comment(FHandle, FId3TagComment.c_str());
    acs::id3tag_set_genre(FHandle, FId3TagGenre.c_str());
    const int r = acs::lame_encode_flush(FHandle, FOutBuffer.data(), FOutBufferSize);
    try {
      if (FStream && r > 0) FStream->WriteBuffer(FOutBuffer.data(), r);
      // The encoder reserved its first frame for the VBR/Info header (frame count, seek table,
      // encoder delay), which is known only now. Without it the file would start with an empty
      // frame and players would misjudge a VBR file's length.
      if (FStream && acs::lame_get_bWriteVbrTag && acs::lame_get_lametag_frame &&
          acs::lame_get_bWriteVbrTag(FHandle) != 0) {
        const std::size_t n =
            acs::lame_get_lametag_frame(FHandle, FOutBuffer.data(), FOutBuffer.size());
        if (n > 0 && n <= FOutBuffer.size()) {
          const std::int64_t end = FStream->Position();
          FStream->SetPosition(FStreamStart);
          FStream->WriteBuffer(FOutBuffer.data(), static_cast<std::int64_t>(n));
          FStream->SetPosition(end);
        }
      }
      CheckFileStillNamed();
    } catch (...) {
      failure = std::current_exception();
    }
  }
  ReleaseRun();
  try {
    FlushInput();
  } catch (...) {
    if (!failure) failure = std::current_exception();
  }
  if (failure) std::rethrow_exception(failure);
}

void TMP3Out::ReleaseRun() {
  FStream.reset();
  if (FHandle != nullptr) {
    acs::lame_close(FHandle);
    FHandle = nullptr;
  }
  FOutBuffer.clear();
  FOutBuffer.shrink_to_fit();
}
