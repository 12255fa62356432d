#pragma once
// TWaveConverter: the sample data of one WAV file in memory, with its format, converted in one step
// through the compression manager and written out as a PCM WAV image.
//
// The stream's content is the sample data only (no header). Use:
//   LoadFromWave(file)      CurrentFormat and the content from a RIFF/WAVE file
//   NewFormat ...           the caller fills in the format wanted (wFormatTag, then
//   acmFormatSuggest) Convert()               content and CurrentFormat become the converted data
//   and NewFormat SaveWaveTo(image)       a 44-byte PCM header and the content
// The WAV reader uses it for files that hold MPEG layer 3 data (format tag 85).

#include <cstdint>

#include "audio/MSAcm.h"
#include "platform/runtime/Stream.h"

class TWaveConverter : public platform::TMemoryStream {
 public:
  // SaveWaveTo's result when the target stream failed (the MCI error "file not saved").
  static constexpr int MCIERR_FILE_NOT_SAVED = 286;

  TWaveConverter();

  // Reads a WAV file from Stream (positioned at its start): the fmt chunk into CurrentFormat, the
  // data chunk into the content. Nothing changes unless the file starts with "RIFF" and "WAVE" in
  // capitals. The file is scanned one byte at a time for the chunk ids "fmt ", "fact" and "data"
  // (exact case); a chunk's body is read whole and the scan goes on behind it, to the end of the
  // file. A fmt body longer than the record is not taken; bodies that run past the end of the file
  // are taken as far as they go; a data chunk of length 0 is passed over.
  void LoadFromWave(platform::TStream& Stream);

  // Converts the whole content from CurrentFormat to NewFormat, a piece at a time. 0 on success,
  // else the result of the first compression-manager call that failed, with the content and
  // CurrentFormat unchanged; data that does not decode fails at its first piece. After a success
  // the content is what the data decoded to, made up with zeros (silence for PCM) to the length the
  // manager estimated, but to at most one frame more than was decoded: the estimate rests on the
  // byte rate the file declares, which may be false.
  int Convert();

  // Writes "RIFF", "WAVE", a 16-byte fmt chunk (the first 16 bytes of CurrentFormat) and the data
  // chunk into Stream, which is expected to be empty. 0, or MCIERR_FILE_NOT_SAVED when the stream
  // raised a platform::Exception; other exceptions pass through. The content's position is kept.
  int SaveWaveTo(platform::TStream& Stream);

  MSAcm::TWaveFormatRecord CurrentFormat{};  // the format of the content
  MSAcm::TWaveFormatRecord NewFormat{};      // the format Convert converts to

 private:
  // Bytes of a format record that are zeroed and copied: the manager's largest format, bounded by
  // the record.
  std::uint32_t FMaxFmtSize = 0;
};
