// What the update driver needs from the application that runs it. The
// launcher implements it; tests supply their own.
#ifndef UPDATE_UPDATE_HOST_H_
#define UPDATE_UPDATE_HOST_H_

#include <memory>
#include <string>
#include <vector>

#include "platform/env.h"
#include "update/payload_sink.h"

namespace update {

class UpdateHost {
 public:
  virtual ~UpdateHost() = default;

  // The directory the update works on, already normalised to "/" separators.
  virtual const std::string& workPath() const = 0;
  // The main pack volume's file name ("DATA.pak" unless "-sp" gave another).
  virtual const std::string& packName() const = 0;
  // The installation directory as read at start-up.
  virtual const std::string& currentDir() const = 0;
  // "-v": gate the update on the version check.
  virtual bool checkVersion() const = 0;
  // "-df": delete each update file once it is safely in place.
  virtual bool deleteSources() const = 0;
  // Appends one line to the run log (nothing when the log is off).
  virtual void writeLog(const std::string& text) = 0;
  // Reads a payload file whole, undoing compression and inversion. -1 on
  // failure (see the payload loader for the other results). The dialog's
  // read-ahead calls it from several threads at once.
  virtual int loadFile(const std::string& path, std::vector<unsigned char>& buffer) = 0;
  // Hands a payload file's decoded bytes to sink, a piece at a time, in
  // bounded memory whatever the file's size; the result says why a file
  // cannot be decoded. Called from several threads at once. By default the
  // file is loaded whole through loadFile.
  virtual PayloadResult decodeFile(const std::string& path, PayloadSink& sink) {
    std::vector<unsigned char> bytes;
    if (loadFile(path, bytes) == -1) return PayloadResult::Unreadable("cannot be read");
    return sink.Write(bytes.data(), bytes.size()) ? PayloadResult::Decoded()
                                                  : PayloadResult::Stopped();
  }
  // True when decodeFile's result tells which file it read (its opened
  // stamp): whoever must notice a later change to the file then needs no
  // look at the path of its own before the decode.
  virtual bool stampsPayloads() const { return false; }
  // The payload at path as a reader of its decoded bytes, when they can be
  // read without a decoder (neither "-dc" is set), so that their size is
  // known first; null otherwise, or when the file does not open.
  virtual std::unique_ptr<PayloadReader> openPlainPayload(const std::string& path) {
    static_cast<void>(path);
    return nullptr;
  }
  // True when loadFile gives a file's bytes as they are on disk (neither "-dc"
  // nor "-de"): a loose file that "-df" deletes afterwards may then be moved
  // into place instead of copied.
  virtual bool payloadsAsDelivered() const { return false; }
  // What the update reaches every file through (the system's by default).
  virtual platform::Env* env() const { return platform::Env::Default(); }
};

}  // namespace update

#endif  // UPDATE_UPDATE_HOST_H_
