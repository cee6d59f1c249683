// Writes one payload: the source's bytes, inverted (-de) and then
// bzip2-compressed (-dc) as the options say, streamed in bounded pieces to a
// scratch file that is renamed to its name below OUT only when it is whole.
// One writer per worker; it keeps its buffers from file to file.
#ifndef MKUPDATE_PAYLOAD_WRITER_H_
#define MKUPDATE_PAYLOAD_WRITER_H_

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "mkupdate/entry_source.h"
#include "mkupdate/out_dir.h"
#include "platform/status.h"

namespace mkupdate {

class PayloadWriter {
 public:
  PayloadWriter(OutDir* out, bool invert, bool compress, const std::atomic<bool>* stop);

  // Writes source, which must hold exactly size bytes, as OUT/relative, and
  // adds the payload's size to *written. The failure names the file and why.
  platform::Status Write(EntrySource& source, const std::string& shownSource, std::uint64_t size,
                         const std::string& relative, std::uint64_t* written);

 private:
  platform::Status Encode(EntrySource& source, const std::string& shownSource, std::uint64_t size,
                          int fd, const std::string& scratch, std::uint64_t* written);

  OutDir* out_;
  bool invert_;
  bool compress_;
  const std::atomic<bool>* stop_;
  std::vector<unsigned char> input_;
  std::vector<unsigned char> output_;
};

// Every byte of data inverted, in place.
void InvertBytes(unsigned char* data, std::size_t length);

}  // namespace mkupdate

#endif  // MKUPDATE_PAYLOAD_WRITER_H_
