// Reads an update payload file whole, undoing its bzip2 compression and its
// bytewise inversion as the run's options say.
#ifndef MAROVETIN_LAUNCHER_PAYLOAD_LOADER_H_
#define MAROVETIN_LAUNCHER_PAYLOAD_LOADER_H_

#include <cstddef>
#include <string>
#include <vector>

namespace launcher {

// What the processor probe found.
struct ProcessorInfo {
  bool hasMmx = false;  // cpuid leaf 1, EDX bit 23

  static ProcessorInfo Probe();
};

class PayloadLoader {
 public:
  // Both flags off; the processor is probed.
  PayloadLoader();
  // Both flags off; the probe result is given (tests pick the routine).
  explicit PayloadLoader(ProcessorInfo info);

  PayloadLoader(const PayloadLoader&) = delete;
  PayloadLoader& operator=(const PayloadLoader&) = delete;

  // Fills buffer (which the caller has emptied) with the file's bytes; a
  // bzip2 file may hold several streams one after the other, and all are
  // decoded in turn. Returns -1 when the file cannot be read: an absent path,
  // a file that does not open (buffer untouched), or a bzip2 data or read
  // error, bytes after the last stream that begin no stream included (buffer
  // keeps what was decoded before it, not inverted). Safe to call from
  // several threads at once. Otherwise
  // returns the file's size after a plain read without inversion, and 0 after
  // every other successful read. A plain read that comes up short leaves the
  // missing bytes 0.
  int loadFile(const char* path, std::vector<unsigned char>& buffer) const;
  int loadFile(const std::string& path, std::vector<unsigned char>& buffer) const {
    return loadFile(path.c_str(), buffer);
  }

  // Complements every byte of [start, start + length).
  void invertBuffer(unsigned char* start, std::size_t length) const;

  bool invertBytes() const { return invertBytes_; }
  void setInvertBytes(bool on) { invertBytes_ = on; }
  bool readBzip2() const { return readBzip2_; }
  void setReadBzip2(bool on) { readBzip2_ = on; }
  const ProcessorInfo& processorInfo() const { return processorInfo_; }

 private:
  int loadBzip2(const char* path, std::vector<unsigned char>& buffer) const;
  int loadPlain(const char* path, std::vector<unsigned char>& buffer) const;

  bool invertBytes_ = false;  // "-de"
  bool readBzip2_ = false;    // "-dc"
  ProcessorInfo processorInfo_;
};

// The process's one loader, set by the launcher's start-up and cleared by its
// exit routine; null outside that span.
extern PayloadLoader* thePayloadLoader;

}  // namespace launcher

#endif  // MAROVETIN_LAUNCHER_PAYLOAD_LOADER_H_
