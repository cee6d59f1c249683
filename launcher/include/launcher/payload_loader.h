// Reads an update payload file, undoing its bzip2 compression and its
// bytewise inversion as the run's options say: piece by piece into a sink, in
// bounded memory whatever the file's size, or whole into a buffer.
#ifndef MAROVETIN_LAUNCHER_PAYLOAD_LOADER_H_
#define MAROVETIN_LAUNCHER_PAYLOAD_LOADER_H_

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "platform/env.h"
#include "update/payload_sink.h"

namespace launcher {

// What the processor probe found.
struct ProcessorInfo {
  bool hasMmx = false;  // cpuid leaf 1, EDX bit 23

  static ProcessorInfo Probe();
};

class PayloadFile;  // a payload file being read

class PayloadLoader {
 public:
  // Both flags off; the processor is probed.
  PayloadLoader();
  // Both flags off; the probe result is given (tests pick the routine).
  explicit PayloadLoader(ProcessorInfo info);

  PayloadLoader(const PayloadLoader&) = delete;
  PayloadLoader& operator=(const PayloadLoader&) = delete;

  // Hands the file's decoded bytes to sink in order, a piece at a time; a
  // bzip2 file may hold several streams one after the other, and all are
  // decoded in turn. The result says why a file could not be decoded: it does
  // not open, a read failed (with the system's reason), it is not a bzip2
  // stream, the stream is truncated or damaged, or bytes that begin no stream
  // follow it. The sink may be told to restart: bzip2 blocks are written out
  // before their checksum is known, and a file the fast decoder gives up on
  // is decoded again from its start by the library. Memory stays bounded
  // (about 7 MB a thread for bzip2 payloads, 256 KiB for plain ones). Safe to
  // call from several threads at once.
  update::PayloadResult decodeFile(const char* path, update::PayloadSink& sink) const;
  update::PayloadResult decodeFile(const std::string& path, update::PayloadSink& sink) const {
    return decodeFile(path.c_str(), sink);
  }

  // The file as a reader of its decoded bytes when they need no decoder
  // ("-dc" off), so that their size is known before they are read; null for
  // bzip2 payloads and files that do not open.
  std::unique_ptr<update::PayloadReader> openPlain(const std::string& path) const;

  // Fills buffer (which the caller has emptied) with the whole of the file's
  // decoded bytes. Returns -1 when decodeFile fails (buffer then keeping what
  // was decoded before the failure, not necessarily inverted), the file's
  // size after a plain read without inversion (-1 beyond 2 GiB - 1), and 0
  // after every other successful read.
  int loadFile(const char* path, std::vector<unsigned char>& buffer) const;
  int loadFile(const std::string& path, std::vector<unsigned char>& buffer) const {
    return loadFile(path.c_str(), buffer);
  }

  // Complements every byte of [start, start + length).
  void invertBuffer(unsigned char* start, std::size_t length) const;

  bool invertBytes() const { return invertBytes_; }
  void setInvertBytes(bool on) { invertBytes_ = on; }
  bool readBzip2() const { return readBzip2_; }
  // What payload files are opened and read through (the system's unless set).
  void setEnv(platform::Env* env) { env_ = env; }
  void setReadBzip2(bool on) { readBzip2_ = on; }
  const ProcessorInfo& processorInfo() const { return processorInfo_; }

 private:
  update::PayloadResult decodeBzip2(PayloadFile& file, update::PayloadSink& sink) const;
  update::PayloadResult decodePlain(PayloadFile& file, update::PayloadSink& sink) const;

  platform::Env* env_ = platform::Env::Default();
  bool invertBytes_ = false;  // "-de"
  bool readBzip2_ = false;    // "-dc"
  ProcessorInfo processorInfo_;
};

// The process's one loader, set by the launcher's start-up and cleared by its
// exit routine; null outside that span.
extern PayloadLoader* thePayloadLoader;

}  // namespace launcher

#endif  // MAROVETIN_LAUNCHER_PAYLOAD_LOADER_H_
