// Where the seven bytes of a handset report sit in the buffers the HID stack reads and writes.
//
// Windows starts every report buffer with the report id, 0 for a device that does not number its
// reports, and a buffer is exactly as long as the device's report of that kind plus that byte
// (HIDP_CAPS' InputReportByteLength and OutputReportByteLength). So:
// - a device without report ids: the seven bytes follow a leading 0;
// - a device with report ids: the seven bytes are the buffer itself, their first byte being the
//   report id (the handset's output reports always start with the same byte, 0xC0).
// Short buffers keep what fits; missing bytes read as 0.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace hidmar {

inline constexpr std::size_t kReportLength = 7;
using Report = std::array<std::uint8_t, kReportLength>;

// What a device's capabilities say about its reports. Lengths include the report id byte.
struct ReportShape {
  std::size_t inputLength = 0;
  std::size_t outputLength = 0;
  bool numbered = false;  // the device declares report ids
};

// The output report length hid.dll gives the handset's collection: the seven bytes, after the
// leading 0 of a device without report ids (with report ids the first of the seven is the id).
inline constexpr std::size_t HandsetOutputLength(bool numbered) { return numbered ? kReportLength : kReportLength + 1; }

// A collection the handset's commands reach: its output report is exactly the handset's.
inline constexpr bool TakesHandsetReports(const ReportShape& shape) {
  return shape.outputLength == HandsetOutputLength(shape.numbered);
}

// The buffer to write for `report`: exactly `shape.outputLength` bytes (empty when the device
// has no output report, which no write can reach).
inline std::vector<std::uint8_t> OutputBuffer(const ReportShape& shape, const Report& report) {
  std::vector<std::uint8_t> buffer(shape.outputLength, 0);
  const std::size_t first = shape.numbered ? 0 : 1;
  if (buffer.size() > first) {
    std::copy_n(report.begin(), std::min(kReportLength, buffer.size() - first), buffer.begin() + first);
  }
  return buffer;
}

// The seven report bytes in a buffer the device delivered (`buffer` holds what was read).
inline Report InputReport(const ReportShape& shape, const std::vector<std::uint8_t>& buffer) {
  Report report{};
  const std::size_t first = shape.numbered ? 0 : 1;
  if (buffer.size() > first) {
    std::copy_n(buffer.begin() + first, std::min(kReportLength, buffer.size() - first), report.begin());
  }
  return report;
}

}  // namespace hidmar
