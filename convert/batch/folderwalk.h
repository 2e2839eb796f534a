#pragma once

#include <QFileInfoList>
#include <QList>
#include <QString>

#include <functional>

// The folder walk of a batch: every file of the tree at `root`, a folder's
// own files (hidden ones included, file links left out) sorted by lower-cased
// name, then the tree of each sub-folder (hidden ones left out, folder links
// followed) in the same order. A folder that cannot be read contributes
// nothing. Names that are not valid in the locale's encoding are left out
// (the program could not open them by such a name).
//
// Each folder is listed once, with one pass over its entries, and entered by
// its path: the work grows with the number of folders and entries, not with
// the depth of the tree (a 4,000-deep tree took minutes when every level
// resolved its whole path). A folder already open on the way down (the same
// device and inode, reached again through a link) is not entered again, so a
// link cycle cannot loop; a folder reached through links on separate branches
// is walked on each, like any other folder, up to kMaxFolderVisits times (so
// that links that fan out level after level cannot make the walk
// exponential).
//
// `stopRequested` is asked before every folder and every few hundred
// entries; once it answers true the walk ends at once, *stopped is set and
// the files found so far are returned.
//
// With `problems`, what the walk cannot take in is reported there, in the
// order of the walk, rather than passed over without a word: folders that
// cannot be read (UnreadableFolderReason) and the entries a folder names in
// bytes the locale cannot decode (UndecodableEntries, walkchecks.h).
// Most times one folder is walked in one batch, through different links.
constexpr int kMaxFolderVisits = 16;

struct WalkProblem;

QFileInfoList WalkFolderTree(const QString &root, const std::function<bool()> &stopRequested = {},
                             bool *stopped = nullptr, QList<WalkProblem> *problems = nullptr);

// The same walk, handing each file's absolute path to `found` in that order
// and keeping nothing itself: a batch keeps only the paths it needs, a few
// dozen bytes each, where a QFileInfo takes some hundreds.
void WalkFolderPaths(const QString &root, const std::function<void(QString &&)> &found,
                     const std::function<bool()> &stopRequested = {}, bool *stopped = nullptr,
                     QList<WalkProblem> *problems = nullptr);
