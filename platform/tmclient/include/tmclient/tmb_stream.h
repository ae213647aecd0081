#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "tmclient/export.h"

class QRSDateTime;
class QRSErrorMsg;

// A marshalling stream: one request or one reply of a remote call.
//
// A stream is either being written (after open(), empty) or being read (after
// load() hands it the bytes of a frame). Every value carries a type tag;
// structures, lists and the stream itself carry names, and readers check
// them. The byte coding is described in docs/wire-format.md.
//
// Errors are sticky: the first one sets failed() and every later operation
// does nothing. A reader never trusts a count or a length that the remaining
// bytes cannot hold, and never reads past the buffer.
class TMCLIENT_API tmb_stream {
 public:
  tmb_stream();
  ~tmb_stream();
  tmb_stream(const tmb_stream&) = delete;
  tmb_stream& operator=(const tmb_stream&) = delete;

  // Makes the stream an empty, open stream for writing. Always true.
  bool open();
  // Puts the stream in read mode over a copy of `bytes` (a frame received
  // from the far end). The stream is open afterwards.
  void load(std::string_view bytes);
  void load(std::string&& bytes);

  // True when the stream is not open or has recorded an error.
  bool failed() const;
  // What the first failure was about ("" while none): the name of the value,
  // structure or list being coded when it failed, for logs and dumps.
  const std::string& failed_at() const;

  // Writing: the stream header with its name. Reading: checks it.
  bool begin_stream(const char* name);
  // Writing: the end marker. Reading: checks the end marker and that no byte
  // follows it.
  bool end_stream();

  bool begin_write_struct(const char* name);
  bool end_write_struct();
  bool begin_read_struct(const char* name);
  bool end_read_struct();
  bool begin_write_list(const char* name, int count);
  bool end_write_list();
  // `count` receives the element count; a count that the remaining bytes
  // cannot hold fails the stream.
  bool begin_read_list(const char* name, int& count);
  bool end_read_list();

  tmb_stream& operator<<(int v);
  tmb_stream& operator<<(short v);
  tmb_stream& operator<<(const int64_t& v);
  tmb_stream& operator<<(const uint64_t& v);
  tmb_stream& operator<<(const std::string& v);
  tmb_stream& operator<<(const QRSDateTime& v);
  tmb_stream& operator<<(const QRSErrorMsg& v);

  tmb_stream& operator>>(int& v);
  tmb_stream& operator>>(short& v);
  tmb_stream& operator>>(int64_t& v);
  tmb_stream& operator>>(uint64_t& v);
  tmb_stream& operator>>(std::string& v);
  tmb_stream& operator>>(QRSDateTime& v);
  tmb_stream& operator>>(QRSErrorMsg& v);

  // The bytes written so far (write mode) or loaded (read mode).
  const std::string& bytes() const;

  // The largest frame a stream writes or accepts, in bytes.
  static constexpr std::size_t kMaxFrameSize = 256u * 1024u * 1024u;

 private:
  // (representation is the implementation's)
};
