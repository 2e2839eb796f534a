#pragma once

#include <QString>

// Making a workbook's output folder, and the checks that keep every CSV file
// of a batch inside the output folder tree.

// Creates `folder` (absolute, '/'-separated) with CreateFolderChain and
// checks the result. Empty when it is a folder inside the output folder
// `canonicalSaveRoot` (its canonical path); otherwise the reason why nothing
// may be written there: its path is too long to be made, a level could not be
// made (and why), or a link leads it out of the output folder.
QString PrepareOutputFolder(const QString &canonicalSaveRoot, const QString &folder);

// Whether `path` names a regular file (not a link) whose folder lies inside
// the output folder `canonicalSaveRoot`.
bool IsFileInsideOutputTree(const QString &canonicalSaveRoot, const QString &path);
