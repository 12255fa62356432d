#include "audio/ACS_Vorbis.h"

#include <bit>
#include <cstring>
#include <exception>
#include <filesystem>
#include <set>

#include "audio/MAD.h"
#include "audio/VorbisFile.h"
#include "platform/runtime/ByteOrder.h"

static_assert(std::endian::native == std::endian::little);

namespace {

// The writer brings every binding unit into the program, and starting the last one starts them all
// in their order: ogg, Codec, VorbisEnc, VorbisFile, MAD. (Linked from a static library, a unit
// that nothing refers to would otherwise never be started.)
struct BindingsInUse {
  BindingsInUse() { acs::InitializeMADUnit(); }
  ~BindingsInUse() { acs::FinalizeMADUnit(); }
  BindingsInUse(const BindingsInUse&) = delete;
  BindingsInUse& operator=(const BindingsInUse&) = delete;
} bindingsInUse;

struct RequiredEntryPoint {
  const char* library;
  const char* name;
  bool present;
};

std::vector<RequiredEntryPoint> requiredEntryPoints() {
  return {
      {"ogg.dll", "ogg_stream_init", acs::ogg_stream_init != nullptr},
      {"ogg.dll", "ogg_stream_packetin", acs::ogg_stream_packetin != nullptr},
      {"ogg.dll", "ogg_stream_flush", acs::ogg_stream_flush != nullptr},
      {"ogg.dll", "ogg_stream_pageout", acs::ogg_stream_pageout != nullptr},
      {"ogg.dll", "ogg_page_eos", acs::ogg_page_eos != nullptr},
      {"ogg.dll", "ogg_stream_clear", acs::ogg_stream_clear != nullptr},
      {"vorbis.dll", "vorbis_info_init", acs::vorbis_info_init != nullptr},
      {"vorbis.dll", "vorbis_comment_init", acs::vorbis_comment_init != nullptr},
      {"vorbis.dll", "vorbis_comment_add_tag", acs::vorbis_comment_add_tag != nullptr},
      {"vorbis.dll", "vorbis_analysis_init", acs::vorbis_analysis_init != nullptr},
      {"vorbis.dll", "vorbis_block_init", acs::vorbis_block_init != nullptr},
      {"vorbis.dll", "vorbis_analysis_headerout", acs::vorbis_analysis_headerout != nullptr},
      {"vorbis.dll", "vorbis_analysis_buffer", acs::vorbis_analysis_buffer != nullptr},
      {"vorbis.dll", "vorbis_analysis_wrote", acs::vorbis_analysis_wrote != nullptr},
      {"vorbis.dll", "vorbis_analysis_blockout", acs::vorbis_analysis_blockout != nullptr},
      {"vorbis.dll", "vorbis_analysis", acs::vorbis_analysis != nullptr},
      {"vorbis.dll", "vorbis_bitrate_addblock", acs::vorbis_bitrate_addblock != nullptr},
      {"vorbis.dll", "vorbis_bitrate_flushpacket", acs::vorbis_bitrate_flushpacket != nullptr},
      {"vorbis.dll", "vorbis_block_clear", acs::vorbis_block_clear != nullptr},
      {"vorbis.dll", "vorbis_dsp_clear", acs::vorbis_dsp_clear != nullptr},
      {"vorbis.dll", "vorbis_comment_clear", acs::vorbis_comment_clear != nullptr},
      {"vorbis.dll", "vorbis_info_clear", acs::vorbis_info_clear != nullptr},
      {"vorbisenc.dll", "vorbis_encode_init", acs::vorbis_encode_init != nullptr},
      {"vorbisenc.dll", "vorbis_encode_setup_vbr", acs::vorbis_encode_setup_vbr != nullptr},
      {"vorbisenc.dll", "vorbis_encode_setup_init", acs::vorbis_encode_setup_init != nullptr},
  };
}

// Serial numbers must differ between the logical streams of one file: a reader takes a stream
// appended under the serial of an earlier one as part of that one, and its audio is lost. So an
// append whose Serial is already used in the file takes the next unused number instead.
int FreeSerial(platform::TStream& file, int wanted) {
  std::set<std::uint32_t> used;
  std::int64_t at = 0;
  const std::int64_t size = file.Size();
  std::uint8_t header[27 + 255];
  while (at + 27 <= size) {
    file.SetPosition(at);
    if (file.Read(header, 27) != 27 || std::memcmp(header, "OggS", 4) != 0) break;
    const int segments = header[26];
    if (file.Read(header + 27, segments) != segments) break;
    std::int64_t body = 0;
    for (int i = 0; i < segments; ++i) body += header[27 + i];
    used.insert(platform::GetLE32(header + 14));
    at += 27 + segments + body;
  }
  auto serial = static_cast<std::uint32_t>(wanted);
  while (used.count(serial) != 0) ++serial;
  return static_cast<int>(serial);
}

}  // namespace

int VorbisBitRateValue(TVorbisBitRate rate) {
  static constexpr int kBitRates[] = {-1,     45000,  48000,  56000,  64000,  80000,
                                      96000,  112000, 128000, 144000, 160000, 192000,
                                      224000, 256000, 320000, 499000};
  return kBitRates[rate];
}

TVorbisOut::TVorbisOut(platform::TComponent* AOwner) : TACSFileOut(AOwner) {
  if (!acs::LiboggLoaded) throw EACSException("ogg.dll library could not be loaded.");
  if (!acs::LibvorbisLoaded) throw EACSException("vorbis.dll library could not be loaded.");
  if (!acs::LibvorbisfileLoaded) throw EACSException("vorbisfile.dll library could not be loaded.");
  if (!acs::LibvorbisencLoaded) throw EACSException("vorbisenc.dll library could not be loaded.");
}

TVorbisOut::~TVorbisOut() {
  EndWorker();
  // A run abandoned by the destruction never reached Done: release what it held.
  ReleaseRun();
}

void TVorbisOut::SetFileMode(TFileOutputMode NewMode) { FFileMode = NewMode; }

void TVorbisOut::SetDesiredNominalBitrate(TVorbisBitRate Value) {
  FDesiredNominalBitrate = Value;
  if (Value < FMinimumBitrate) FMinimumBitrate = Value;
  if (FDesiredNominalBitrate > FDesiredMaximumBitrate) FDesiredMaximumBitrate = Value;
  if (FDesiredNominalBitrate == bbrAutoSelect) FDesiredMaximumBitrate = bbrAutoSelect;
}

void TVorbisOut::SetDesiredMaximumBitrate(TVorbisBitRate Value) {
  if (FDesiredNominalBitrate == bbrAutoSelect) return;
  if (Value == bbrAutoSelect || Value >= FDesiredNominalBitrate) FDesiredMaximumBitrate = Value;
}

void TVorbisOut::SetMinimumBitrate(TVorbisBitRate Value) {
  if (Value <= FDesiredNominalBitrate) FMinimumBitrate = Value;
}

void TVorbisOut::Prepare() {
  if (FFileName.empty()) throw EACSException("File name is not assigned.");
  for (const auto& entry : requiredEntryPoints()) {
    if (!entry.present) {
      throw EACSException(std::string(entry.library) + " library has no entry point \"" +
                          entry.name + "\", so Ogg Vorbis files cannot be written.");
    }
  }
  TACSInput* input = Input();
  const int bits = input->GetBitsPerSample();
  const int channels = input->GetChannels();
  const int rate = input->GetSampleRate();
  CheckEncoderInput(bits, channels, rate, "Ogg Vorbis");
  // Settings the encoder refuses are refused before the file is created or appended to, so a
  // refusal leaves no empty or damaged file behind.
  try {
    SetUpEncoder(channels, rate);
  } catch (...) {
    ReleaseRun();
    throw;
  }

  const bool append = FFileMode == foAppend && std::filesystem::exists(FFileName);
  try {
    FStream = std::make_unique<platform::TFileStream>(
        FFileName,
        append ? platform::fmOpenReadWrite | platform::fmShareExclusive : platform::fmCreate);
    // A file appended to was there before this run: it stays whatever happens.
    if (!append) NoteFileCreated();
    input->Init();
  } catch (...) {
    ReleaseRun();
    throw;
  }
  try {
    int serial = FSerial;
    if (append) {
      serial = FreeSerial(*FStream, FSerial);
      FStream->Seek(0, platform::soEnd);
    }
    EndOfStream = false;

    acs::vorbis_comment_init(&VComm);
    FCommentReady = true;
    for (const std::string& line : FComments) {
      // Each line keeps its own value, so that a name given twice (two artists) keeps both.
      const auto eq = line.find('=');
      const std::string name = eq == std::string::npos ? std::string() : line.substr(0, eq);
      const std::string value = eq == std::string::npos ? std::string() : line.substr(eq + 1);
      acs::vorbis_comment_add_tag(&VComm, name.c_str(), value.c_str());
    }

    acs::vorbis_analysis_init(&Vdsp, &VInfo);
    acs::vorbis_block_init(&Vdsp, &VBlock);
    acs::ogg_stream_init(&OggSS, serial);
    FAnalysisReady = true;

    acs::vorbis_analysis_headerout(&Vdsp, &VComm, &header, &header_comm, &header_cb);
    acs::ogg_stream_packetin(&OggSS, &header);
    acs::ogg_stream_packetin(&OggSS, &header_comm);
    acs::ogg_stream_packetin(&OggSS, &header_cb);
    // The headers stand on pages of their own; the audio starts on a new page.
    while (acs::ogg_stream_flush(&OggSS, &OggPg) != 0) WritePage();
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

void TVorbisOut::SetUpEncoder(int channels, int rate) {
  acs::vorbis_info_init(&VInfo);
  FInfoReady = true;
  int result;
  std::string settings;
  if (FDesiredNominalBitrate == bbrAutoSelect) {
    result = acs::vorbis_encode_setup_vbr(&VInfo, channels, rate, FCompression);
    if (result == 0) result = acs::vorbis_encode_setup_init(&VInfo);
    settings = "quality " + std::to_string(FCompression);
  } else {
    const int nominal = VorbisBitRateValue(FDesiredNominalBitrate);
    int maximum = VorbisBitRateValue(FDesiredMaximumBitrate);
    if (maximum < nominal) maximum = nominal;
    int minimum = VorbisBitRateValue(FMinimumBitrate);
    if (minimum < 0) minimum = nominal;
    result = acs::vorbis_encode_init(&VInfo, channels, rate, maximum, nominal, minimum);
    settings = std::to_string(nominal / 1000) + " kbit/s";
  }
  // A refused set-up leaves the settings unusable: encoding with them would crash the library.
  if (result != 0) {
    throw EACSException("The Ogg Vorbis encoder cannot encode " +
                        std::string(channels == 1 ? "mono" : "stereo") + " audio at " +
                        std::to_string(rate) + " Hz with " + settings + ".");
  }
}

bool TVorbisOut::DoOutput(bool Abort) {
  if (!CanOutput) return true;
  if (Abort || EndOfStream) return false;
  int channels = 0;
  const int n = GetInputData16(FBuffer, FNarrow, channels);
  if (n > 0) {
    const int frames = channels == 2 ? n / 4 : n / 2;
    // A block too short for one whole frame has nothing to encode; handing the encoder 0 frames
    // would tell it that the input has ended.
    if (frames > 0) Analyse(channels, frames);
  } else {
    Analyse(channels, 0);
  }
  WritePages();
  return true;
}

void TVorbisOut::Analyse(int channels, int frames) {
  if (frames == 0) {
    acs::vorbis_analysis_wrote(&Vdsp, 0);
    return;
  }
  if (channels == 2) {
    float** buffers = acs::vorbis_analysis_buffer(&Vdsp, 16384);
    for (int i = 0; i < frames; ++i) {
      buffers[0][i] = FBuffer[static_cast<std::size_t>(2 * i)] / 32768.0f;
      buffers[1][i] = FBuffer[static_cast<std::size_t>(2 * i + 1)] / 32768.0f;
    }
  } else {
    float** buffers = acs::vorbis_analysis_buffer(&Vdsp, 32768);
    for (int i = 0; i < frames; ++i)
      buffers[0][i] = FBuffer[static_cast<std::size_t>(i)] / 32768.0f;
  }
  acs::vorbis_analysis_wrote(&Vdsp, frames);
}

void TVorbisOut::WritePages() {
  while (acs::vorbis_analysis_blockout(&Vdsp, &VBlock) == 1) {
    acs::vorbis_analysis(&VBlock, nullptr);
    acs::vorbis_bitrate_addblock(&VBlock);
    while (acs::vorbis_bitrate_flushpacket(&Vdsp, &OggPk) == 1) {
      acs::ogg_stream_packetin(&OggSS, &OggPk);
      while (!EndOfStream && acs::ogg_stream_pageout(&OggSS, &OggPg) != 0) {
        WritePage();
        if (acs::ogg_page_eos(&OggPg) != 0) EndOfStream = true;
      }
    }
  }
}

void TVorbisOut::WritePage() {
  FStream->WriteBuffer(OggPg.header, OggPg.header_len);
  FStream->WriteBuffer(OggPg.body, OggPg.body_len);
}

void TVorbisOut::Done() {
  // Everything below must happen even when a write fails (a full disk): the first failure is
  // raised once the file is closed, the input flushed and the library state cleared.
  std::exception_ptr failure;
  if (FAnalysisReady && FStream && !EndOfStream) {
    // A stopped run: end the stream properly, with what the encoder still holds and the
    // end-of-stream page, so that the file (and anything appended to it later) stays valid.
    try {
      acs::vorbis_analysis_wrote(&Vdsp, 0);
      WritePages();
    } catch (...) {
      failure = std::current_exception();
    }
  }
  if (FStream && !failure) {
    try {
      CheckFileStillNamed();
    } catch (...) {
      failure = std::current_exception();
    }
  }
  FStream.reset();
  try {
    FlushInput();
  } catch (...) {
    if (!failure) failure = std::current_exception();
  }
  FComments.clear();
  ReleaseRun();
  if (failure) std::rethrow_exception(failure);
}

void TVorbisOut::ReleaseRun() {
  FStream.reset();
  if (FAnalysisReady) {
    acs::ogg_stream_clear(&OggSS);
    acs::vorbis_block_clear(&VBlock);
    acs::vorbis_dsp_clear(&Vdsp);
    FAnalysisReady = false;
  }
  if (FCommentReady) {
    acs::vorbis_comment_clear(&VComm);
    FCommentReady = false;
  }
  if (FInfoReady) {
    acs::vorbis_info_clear(&VInfo);
    FInfoReady = false;
  }
}
