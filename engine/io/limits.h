#pragma once

#include <cstddef>
#include <cstdint>

namespace sd {

// Caps on the zip container and the XML tokeniser that keep a hostile
// package from costing unbounded time or memory.
// Each was checked against every valid workbook of the test corpus and the
// benchmark workbooks: the largest real part is 143 MB (a 200,000 x 20
// sheet) and the highest real compression ratio 121:1 (a sheet of long
// repeated strings), so the caps leave ample room.

// Largest inflated size of one part.
constexpr uint64_t kMaxPartSize = uint64_t(512) << 20;
// Largest inflated size of all the parts read from one workbook.
constexpr uint64_t kMaxWorkbookInflated = uint64_t(2) << 30;
// Largest ratio of inflated to compressed size, checked for parts whose
// inflated size exceeds kRatioCheckFloor (tiny parts have meaningless ratios).
constexpr uint64_t kMaxCompressionRatio = 400;
constexpr uint64_t kRatioCheckFloor = uint64_t(1) << 20;
// Parts up to this size are inflated whole (faster); larger ones stream
// through a fixed-size window, so memory does not grow with the part.
constexpr uint64_t kWholePartLimit = uint64_t(16) << 20;
// Deepest element nesting accepted in any XML part.
constexpr int kMaxXmlDepth = 256;
// Largest single XML token (a tag with its attributes, or one text run)
// that the streaming tokenizer buffers.
constexpr size_t kMaxXmlToken = size_t(64) << 20;
// Most attributes on one element. Each costs a 32-byte record, so without a
// cap a tag of kMaxXmlToken bytes of a="" pairs would take half a gigabyte;
// real OOXML elements carry a few dozen at most.
constexpr size_t kMaxXmlAttributes = 4096;
// Largest number of entries in a zip directory.
constexpr size_t kMaxZipEntries = 65536;

} // namespace sd
