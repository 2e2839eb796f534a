#pragma once

#include <QString>

// Files saved in groups: what an application may offer a batch beside its
// object model. On its own, a save (SaveAs) makes its file durable and gives
// it its name before it returns, one flush to disk per file. A batch that
// converts many workbooks asks the application for a commit group
// (AxRegistry::createCommitGroup) and sets it on each application object it
// drives (AxObject::setCommitGroup); the application's saves then hand their
// complete files to the group, which makes many of them durable with one
// flush and only then names them, and the batch waits for each file's name
// when it reports the workbook. An application without commit groups (a
// COM server, the tests' fake) simply saves as before.
//
// A group never replaces a file that a batch still running gave its name,
// this one or another (in this process or another): runs side by side into
// one folder never replace each other's files, while a file of an earlier
// run is replaced as a save replaces it. A file whose name is taken so waits
// for the batch to choose another (rename).
//
// Paths are those given to SaveAs. Thread-safe.
class AxCommitGroup
{
public:
    enum class Outcome {
        Named, // the file has its name
        NameTaken, // a running batch's file has it; rename() the file
        Failed, // no file (*reason); an older file of that name is untouched
    };

    virtual ~AxCommitGroup() = default;

    // Whether the save to `path` handed its file to this group, which has
    // not yet been asked for its outcome.
    virtual bool isPending(const QString &path) = 0;
    // Whether the outcome of `path` is known (wait() would not block).
    virtual bool isSettled(const QString &path) = 0;
    // Waits for the outcome of `path`.
    virtual Outcome wait(const QString &path, QString *reason) = 0;
    // Gives a file whose name was taken the name `newPath` in the same
    // folder, at once.
    virtual Outcome rename(const QString &path, const QString &newPath, QString *reason) = 0;
    // Commits what was handed in so far without gathering more first (a
    // caller is about to wait for it).
    virtual void commitSoon() = 0;
    // No more than a few files are still to come: from now on each is
    // committed as it comes.
    virtual void hurry() = 0;
};
