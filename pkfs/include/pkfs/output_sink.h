// Where the library's own lines go: "Load <volume> to Pkfs", the "Cost Time"
// line of an add, the wait for a volume another process holds, and the
// warning about a directory checksum that does not match. The library never
// writes to standard output or standard error by itself; it hands each text
// to the sink of its manager (CFSManager::SetOutputSink).
#ifndef PKFS_OUTPUT_SINK_H_
#define PKFS_OUTPUT_SINK_H_

#include <functional>
#include <string>

namespace pkfs {

// Which of the two standard streams a text is meant for: progress lines go to
// standard output, waits and warnings to standard error. A sink may send both
// anywhere it likes; the choice tells it what the text is.
enum class OutputStream { kOutput, kError };

// Receives one text at a time, as the library would have printed it (a line
// end included where the line is complete). Called on the thread of the
// library call that produced it.
using OutputSink = std::function<void(OutputStream stream, const std::string& text)>;

// The default sink: writes text to standard output or standard error and
// flushes that stream, so that it keeps its place among the process's other
// lines.
void WriteToStandardStreams(OutputStream stream, const std::string& text);

// A sink that drops everything (a tool whose own output owns the streams).
void DiscardOutput(OutputStream stream, const std::string& text);

}  // namespace pkfs

#endif  // PKFS_OUTPUT_SINK_H_
