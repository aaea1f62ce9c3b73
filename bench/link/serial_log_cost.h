// What the transfer log costs a serial download, measured the same way on
// every system (Windows too, where the emulator does not run): the link
// fetches a 64 KiB loader from the tests' scripted receiver over a fake
// serial line, with "Log transfer" off or on. The fake line moves its bytes
// at once, so the wall time is what the link, the log and the dump cost.
#pragma once

namespace tolv::bench {

struct SerialLogCost {
  double cpuSeconds = 0;     // one download over the fake line, median of the runs
  double lineSeconds = 0;    // the same bytes on a 115200-baud line (11,520 bytes per second)
  double serialSeconds = 0;  // the sum: an upper bound of the download over a real port
};

// Runs downloads downloads (at least 1) with the log off or on, into a
// folder of its own under the system's temporary folder. Throws
// std::runtime_error when a download fails.
SerialLogCost SerialLogCost_Measure(bool log, int downloads);

}  // namespace tolv::bench
