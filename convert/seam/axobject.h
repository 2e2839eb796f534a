#pragma once

#include "axcommitgroup.h"

#include <QObject>
#include <QString>
#include <QVariant>

#include <functional>
#include <memory>

// The automation seam. AxObject has the shape of ActiveQt's QAxObject: an
// application is selected by its programmatic identifier, members are called
// by their signature text, and every sub-object is a child of the object it
// came from. Behind it stands an AxServer tree that an application provides.
// The seam knows no application of its own: each registers its factory under
// its programmatic identifier (the built-in spreadsheet application through
// registerBuiltinApplication()). The member texts are in automationnames.h.

// What a failed call tells about its failure, as a COM server's exception
// information does: a code, the source and a description for the user.
struct AxException
{
    int code = 0;
    QString source;
    QString description;
    QString help;
};

// One node of an application's object model. Members are matched by their
// exact signature text. Whatever a node cannot answer yields an invalid
// QVariant, no sub-object or false. A call that fails for a reason the user
// should see raises an exception (raiseException) before it returns.
class AxServer
{
public:
    virtual ~AxServer() = default;

    virtual QVariant call(const char *member, const QVariantList &args);
    virtual std::unique_ptr<AxServer> subObject(const char *member, const QVariantList &args);
    virtual QVariant property(const char *name);
    virtual bool setProperty(const char *name, const QVariant &value);

    // The exception the last call raised, if any; taking it clears it.
    bool takeException(AxException *exception);

    // The batch's commit group, set on an application node before its first
    // call (AxObject::setCommitGroup); an application that cannot use it
    // ignores it. Not owned.
    virtual void joinCommitGroup(AxCommitGroup *group);

protected:
    void raiseException(int code, const QString &source, const QString &description);

private:
    bool m_raised = false;
    AxException m_exception;
};

using AxApplicationFactory = std::function<std::unique_ptr<AxServer>()>;
using AxCommitGroupFactory = std::function<std::unique_ptr<AxCommitGroup>()>;

// The applications known by programmatic identifier. The program's entry
// functions register the built-in spreadsheet application as
// "Excel.Application"; tests add their fakes under identifiers of their own.
// Registering an identifier again replaces its factories. Thread-safe.
namespace AxRegistry {
// `commitGroups`, when given, makes the commit groups of the application
// (axcommitgroup.h).
void registerApplication(const QString &progId, AxApplicationFactory factory,
                         AxCommitGroupFactory commitGroups = {});
void unregisterApplication(const QString &progId);
// A new instance of the application, or nullptr for an unknown identifier.
std::unique_ptr<AxServer> createApplication(const QString &progId);
// A new commit group of the application, or nullptr when it has none.
std::unique_ptr<AxCommitGroup> createCommitGroup(const QString &progId);
} // namespace AxRegistry

// Prepares the calling thread for automation calls; call once per thread
// before the first AxObject is used there. Returns false if it was already done.
bool AxInitializeThread();

class AxObject final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY(AxObject)

public:
    explicit AxObject(QObject *parent = nullptr);
    ~AxObject() override;

    // Selects the application by programmatic identifier and starts it. Selecting
    // the identifier that is already selected keeps the running instance.
    // False (and no application) for an unknown identifier.
    bool setControl(const QString &progId);
    QString control() const { return m_control; }
    bool isNull() const { return !m_server; }
    // The commit group that the applications this object selects from now
    // on save into (not owned; nullptr: none).
    void setCommitGroup(AxCommitGroup *group) { m_commitGroup = group; }

    // Calls a method; the arguments are the leading valid values.
    QVariant dynamicCall(const char *function, const QVariant &var1 = QVariant(),
                         const QVariant &var2 = QVariant(), const QVariant &var3 = QVariant(),
                         const QVariant &var4 = QVariant());
    // A sub-object as a new child of this object, or nullptr.
    AxObject *querySubObject(const char *name, const QVariant &var1 = QVariant(),
                             const QVariant &var2 = QVariant(), const QVariant &var3 = QVariant(),
                             const QVariant &var4 = QVariant());
    // Automation properties of the object (they hide QObject's own).
    QVariant property(const char *name) const;
    bool setProperty(const char *name, const QVariant &value);

signals:
    // A call on this object failed with a reason, as QAxObject reports a COM
    // exception; emitted before the call returns.
    void exception(int code, const QString &source, const QString &desc, const QString &help);

private:
    void reportException() const;

    AxObject(std::unique_ptr<AxServer> server, QObject *parent);

    QString m_control;
    std::unique_ptr<AxServer> m_server;
    AxCommitGroup *m_commitGroup = nullptr;
};
