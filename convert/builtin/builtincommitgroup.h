#pragma once

#include "axcommitgroup.h"

#include "core/csvcommit.h"

// The built-in application's commit group: the engine's CsvCommitGroup
// behind the seam's interface. The application's SaveAs hands its CSV file
// to the group of the application object (AxObject::setCommitGroup) when it
// has one.
class BuiltinCommitGroup final : public AxCommitGroup
{
public:
    bool isPending(const QString &path) override;
    bool isSettled(const QString &path) override;
    Outcome wait(const QString &path, QString *reason) override;
    Outcome rename(const QString &path, const QString &newPath, QString *reason) override;
    void commitSoon() override { m_group.commitSoon(); }
    void hurry() override { m_group.hurry(); }

    // What the CSV writer hands its files to (sd::CsvCommitGroup::Scope).
    sd::CsvCommitGroup &engineGroup() { return m_group; }

private:
    sd::CsvCommitGroup m_group;
};
