#pragma once

#include <QString>

// What one batch did, counted for its closing line: a workbook counts as
// converted only when it opened and every worksheet of it that is not blank
// became a CSV file; a CSV file only when it was completely written.
struct BatchOutcome
{
    int convertedWorkbooks = 0;
    int csvFiles = 0;
    int failedWorkbooks = 0; // did not open, or a worksheet of it was not written
    int unreadableFolders = 0; // could not be searched
    int failedReencodes = 0; // CSV files left in their encoding by the UTF-8 pass
};

// The closing line: "成功将N个excel文件转换为M个csv文件。", or, when the source
// tree holds no workbook at all, a line that says so; then, when anything
// failed, how many workbooks, folders and re-encodes failed.
QString SummaryText(const BatchOutcome &outcome);
