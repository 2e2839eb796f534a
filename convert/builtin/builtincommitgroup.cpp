#include "builtincommitgroup.h"

#include <QFile>

namespace {

// The writer knows a file by the path it was given, in the local encoding.
QByteArray key(const QString &path)
{
    return QFile::encodeName(path);
}

AxCommitGroup::Outcome outcomeOf(sd::CommitOutcome outcome, sd::Error error, QString *reason)
{
    switch (outcome) {
    case sd::CommitOutcome::Named:
        return AxCommitGroup::Outcome::Named;
    case sd::CommitOutcome::NameTaken:
        return AxCommitGroup::Outcome::NameTaken;
    case sd::CommitOutcome::Failed:
        break;
    }
    // The batch says the path before the reason.
    error.where.clear();
    if (reason)
        *reason = QString::fromStdString(error.description());
    return AxCommitGroup::Outcome::Failed;
}

} // namespace

bool BuiltinCommitGroup::isPending(const QString &path)
{
    return m_group.isHandedIn(key(path));
}

bool BuiltinCommitGroup::isSettled(const QString &path)
{
    return m_group.isSettled(key(path));
}

AxCommitGroup::Outcome BuiltinCommitGroup::wait(const QString &path, QString *reason)
{
    sd::Error error;
    const sd::CommitOutcome outcome = m_group.wait(key(path), &error);
    return outcomeOf(outcome, error, reason);
}

AxCommitGroup::Outcome BuiltinCommitGroup::rename(const QString &path, const QString &newPath,
                                                  QString *reason)
{
    sd::Error error;
    const sd::CommitOutcome outcome = m_group.rename(key(path), key(newPath), &error);
    return outcomeOf(outcome, error, reason);
}
