#pragma once

// The channel through which a reader hands a sheet's cells to the CSV writer
// while it reads, so that a sheet never has to be held whole. The writer
// sets Sheet::stream before it asks a loader that streams
// (SheetLoader::streams()) for the sheet; the reader then calls begin() once
// before the first cell and hands the cells over in batches. The writer
// writes them on the fly on the guess that the range the file states is the
// used range, and reads the sheet the ordinary way when the guess fails.

#include "core/model.h"

#include <cstddef>
#include <string>
#include <vector>

namespace sd {

class SheetStream
{
public:
    virtual ~SheetStream() = default;

    // Cells a reader gathers before it hands them over.
    virtual size_t batchCells() const = 0;
    // Text cells of a batch whose text index is textBase() or more hold
    // their text in the batch: index - textBase() into `texts` of
    // handOver(). Such text is never added to Workbook::strings.
    virtual size_t textBase() const = 0;
    // The cells are about to start. `hint` is the range the file states the
    // sheet uses, nullptr when it states none; `sheet` holds what was read
    // before the cells. False: stop reading, the sheet is read whole.
    virtual bool begin(const CellRange *hint, const Sheet &sheet) = 0;
    // Takes the cells read since the last call (in file order) and their
    // texts, leaving both empty. False: stop reading.
    virtual bool handOver(std::vector<Cell> &cells, std::vector<std::string> &texts) = 0;
    // The reader met something that only the whole sheet can settle (`why`
    // says what); it stops reading.
    virtual void abandon(const char *why) = 0;
};

} // namespace sd
