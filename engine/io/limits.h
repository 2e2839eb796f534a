#pragma once

// Every bound of the engine, in one place, with the reason for its value.
//
// A workbook is hostile input: a few kilobytes of valid file can ask for
// gigabytes of memory, hours of work or terabytes of output while staying
// inside every format rule. These bounds are what stands between such a file
// and the machine. Each one is a multiple of the largest real figure that
// the test corpus (../shared/corpus, 669 workbooks) and the benchmark
// workbooks (bench/README.md: a 200,000 x 20 sheet of 3.7 M cells, three
// 20,000 x 100 sheets) show, and together they keep any workbook of a few
// megabytes under 1 GiB of memory and a few seconds of work. A workbook
// that passes a bound is refused with ErrorCode::TooLarge and a detail that
// names the sheet and the bound, and the batch goes on with the next one.
//
// Corpus figures used below (largest in the corpus):
//   cells in a sheet 167,235; merged areas in a sheet 112; inline text of a
//   sheet 55.5 MB in 21,492 strings (sheetjs large_strings.xlsx); shared
//   strings 17,693 (220 KB); displayed text of a cell 31,003 characters;
//   empty cells inside a used range 2,097,147 (libxlsxwriter data04.xlsx,
//   1,048,576 x 2); CSV of a sheet 55.7 MB; sheets in a workbook 66.

#include <cstddef>
#include <cstdint>

namespace sd {

// ---- Zip container and XML tokeniser (engine/io) ----------------------------
// Checked against the corpus and the benchmark workbooks: the largest real
// part is 143 MB (the 200,000 x 20 sheet), the highest real compression
// ratio 121:1 (a sheet of long repeated strings).

// Largest inflated size of one part: as much as the whole workbook may
// inflate. Parts over kWholePartLimit stream, so this bounds time, not
// memory; a full-height sheet of 20 numeric columns as XlsxWriter writes it
// is an 866 MB part (bench/make_scale_workbook.py), and the application
// opens it.
constexpr uint64_t kMaxPartSize = uint64_t(2) << 30;
// Largest inflated size of all the parts read from one workbook. Also what
// bounds the work of sheets that share one part: each reading counts.
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
// Most package relationships (or content-type overrides) read from one part.
// Each costs a map entry of about 150 bytes; a real package has one per
// part it holds (external targets, such as hyperlinks, are not kept), and
// the zip directory holds at most kMaxZipEntries parts.
constexpr size_t kMaxRelationships = 4 * kMaxZipEntries;

// Most records read from the cell metadata part (xl/metadata.xml), which
// says which formulas are dynamic arrays. The application writes a handful
// (one block per kind of metadata); each costs a bit or a short name.
constexpr size_t kMaxMetadataRecords = 1 << 20;

// Most tables read from one package, and the most bytes of their names
// and column names together. They are read when the workbook opens (every
// sheet's formulas may refer to any of them); a real workbook has a few
// dozen, each with a name per column.
constexpr size_t kMaxTables = 65536;
constexpr size_t kMaxTableNameBytes = size_t(64) << 20;

// ---- Workbook-wide tables (both readers) ------------------------------------

// Most sheets in a workbook (66 in the corpus). Each sheet is loaded and
// written on its own, so a list of thousands of sheets that all name the
// same part would repeat the work, and the writing, thousands of times.
constexpr size_t kMaxSheets = 4096;
// Longest sheet name kept, in bytes. The application allows 31 characters;
// a longer name is cut here (it is still too long for an output file name
// and refused there) so that a flood of huge names costs no memory.
constexpr size_t kMaxSheetNameBytes = 1024;
// Most entries in the cell-format table (xlsx cellXfs, BIFF XF records).
// The application's own limit is 65,490 formats; an <xf/> of five bytes
// would otherwise add 4 bytes of table and 8 of renderer cache.
constexpr size_t kMaxCellFormats = size_t(1) << 20;
// Longest number-format code kept, in bytes. The application refuses codes
// of 255 characters or more (MS-OI29500 2.1.712, numFmt); a longer code is
// read as General. Rendering a number costs time in proportion to its code,
// for every cell that uses it.
constexpr size_t kMaxFormatCodeBytes = 1024;
// Most bytes of distinct format codes one workbook's renderer parses (a
// parsed code takes about 50 bytes per character). The application holds
// 200-250 custom formats at most, about 10 KB; codes beyond this bound
// render as General.
constexpr size_t kMaxParsedFormatBytes = size_t(1) << 20;
// Most shared strings a workbook may hold (.xlsx sharedStrings, the .xls
// SST). Each costs a 32-byte string object even when empty.
constexpr size_t kMaxSharedStrings = size_t(16) << 20;
// Most memory the shared strings of one workbook may take, counting each
// string's object and its characters (kTextObjectBytes + length): 192 MB,
// room for three million strings of 30 characters, 170 times the strings
// of the corpus' largest table (20 million empty strings in 60 MB of SST
// took 1.15 GB).
constexpr uint64_t kMaxSharedStringBytes = uint64_t(192) << 20;
// What one stored string costs besides its characters (the string object).
constexpr uint64_t kTextObjectBytes = 32;

// ---- One sheet (both readers) -------------------------------------------
// A sheet's memory is its cells (32 bytes each) plus its own text; these
// three bounds keep one sheet under about 400 MB while it loads.

// Most cells of one sheet: 8,388,608 (256 MB), twice the benchmark's
// 200,000 x 20 sheet and 50 times the corpus' largest. A cell is anything
// the file records for a position: a value, or a format alone (53 million
// styled empty cells fit in 1.7 MB of .xlsx).
constexpr size_t kMaxSheetCells = size_t(1) << 23;
// Most merged areas of one sheet (112 in the corpus). A merged area only
// widens the used range, which costs no memory; the bound keeps the time
// spent on them in proportion to a real sheet.
constexpr size_t kMaxSheetMergedAreas = size_t(1) << 20;
// Most memory the sheet's own text may take (inline strings, formula
// results, text the reader keeps for one cell), counted as for shared
// strings: 128 MB, over twice the corpus' largest (55.5 MB).
constexpr uint64_t kMaxSheetTextBytes = uint64_t(128) << 20;

// ---- Formulas kept for recalculation ------------------------------------
// The bounds on defined names, formula text and array formulas are the
// formula engine's own: engine/formula/formulalimits.h. Whatever the readers
// keep of formulas (text, tokens, one entry per formula cell) is counted
// against kMaxSheetTextBytes above.

// ---- .xls record streams --------------------------------------------------

// Most records of one BIFF substream (the globals, or one sheet with its
// embedded charts). A BIFF8 sheet holds at most 65,536 x 256 = 16.7 M cells;
// four records per cell are more than any real sheet writes. Records are
// read as they stream by, so this bounds time, not memory.
constexpr uint64_t kMaxSubstreamRecords = uint64_t(1) << 26;
// Most bytes of records read from one workbook stream, over all its sheets
// (sheets may start at the same offset and be read again and again): the
// .xls counterpart of kMaxWorkbookInflated.
constexpr uint64_t kMaxWorkbookRecordBytes = uint64_t(2) << 30;
// Largest stream of a protected workbook that is read into memory to be
// decrypted: the workbook stream of an .xls with FILEPASS, or the
// EncryptedPackage of an encrypted .xlsx (whose EncryptionInfo is bounded
// below, with the rest of the decryption's bounds). The
// bytes of an .xls stream are keyed on their position in it, so such a
// stream is read whole and decrypted in place instead of streaming through
// a window as an unprotected one does; a package is decrypted into a zip in
// memory. The corpus' largest .xls is under 5 MB and the benchmark's
// largest package 30 MB; 256 MB holds a sheet of kMaxSheetCells numbers (18
// bytes a record: 151 MB) with room, and twice that (stream and decrypted
// copy) stays inside the 1 GiB that a hostile workbook may take (a sparse
// file can declare a stream of gigabytes).
constexpr uint64_t kMaxDecryptedStreamBytes = uint64_t(256) << 20;
// Cell buffers of an .xls sheet are reserved from the sheet's bytes (never
// from a count the file states) up to this many cells; beyond, they grow.
constexpr size_t kMaxCellReservation = size_t(1) << 20;

// ---- Decryption (engine/crypto) --------------------------------------------
// Each is checked before any key derivation, so a hostile encryption header
// cannot make opening a file slow.

// Agile key derivation: hash iterations per password. Office writes 100,000;
// the format allows up to 10,000,000, which this bound keeps (about four
// seconds of SHA-512 per password on a current machine).
#ifdef FUZZING_BUILD_MODE_UNSAFE_FOR_PRODUCTION
constexpr uint32_t kMaxSpinCount = 1000; // keeps every fuzz input fast
#else
constexpr uint32_t kMaxSpinCount = 10000000;
#endif
// The EncryptionInfo stream: an Agile descriptor is a few kilobytes.
constexpr size_t kMaxEncryptionInfoSize = 1 << 20;
// Salts: the format allows 1 to 65,536 bytes.
constexpr size_t kMaxSaltSize = 65536;

// ---- Displayed text (engine/core/display) -----------------------------------

// Most characters a cell shows: the application's own limit on the text of
// a cell ("Excel specifications and limits": 32,767 characters; MS-OI29500
// 2.1.706 restricts <t> to 32,767 characters). Counted, as the application
// counts them, in UTF-16 code units. A format that repeats the text ("@@@")
// can show more; the text is cut there (see DisplayFormatter::append).
constexpr size_t kMaxCellTextUnits = 32767;

// ---- CSV output (engine/core/csvwriter) -------------------------------------

// Most empty fields a sheet's CSV may pad with: the used range less the
// cells the sheet records. Cells at A1 and XFD1048576 make a used range of
// 17 billion fields (a 17 GB file of commas from 1.4 KB); the corpus' most
// is 2.1 million. A sheet beyond this bound (about 256 MB of commas) is
// refused before anything is written.
constexpr uint64_t kMaxSheetPadding = uint64_t(1) << 28;
// Most bytes of CSV written from one workbook, all its sheets together:
// 2 GiB, 37 times the corpus' largest sheet. Cells may legitimately show
// up to kMaxCellTextUnits characters each through a format, so this, not
// the cell count, is what bounds the output; a sheet that would pass it is
// cut off (its file is not written) with a reason.
constexpr uint64_t kMaxWorkbookCsvBytes = uint64_t(2) << 30;
// The writer encodes and writes in blocks of about this size, also within
// a row: at most one block and one cell's text are held at a time.
constexpr size_t kCsvBlockBytes = size_t(1) << 20;
// A sheet whose CSV is sure to exceed this size (from its used range alone)
// is written only when the disk has room for it; smaller files are simply
// written, and a full disk is caught by the checked writes.
constexpr uint64_t kFreeSpaceCheckBytes = uint64_t(64) << 20;

} // namespace sd
