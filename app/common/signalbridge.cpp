#include "signalbridge.h"

#include <QSocketNotifier>

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

namespace {

constexpr int kBridgedSignals[] = { SIGTERM, SIGINT, SIGHUP };
constexpr int kSignalCount = sizeof kBridgedSignals / sizeof kBridgedSignals[0];

int s_pipe[2] = { -1, -1 };
struct sigaction s_previous[kSignalCount];

extern "C" void onQuitSignal(int signalNumber)
{
    // Only async-signal-safe calls here. A full pipe means a request is
    // already waiting, so a failed write loses nothing.
    const int savedErrno = errno;
    const unsigned char byte = static_cast<unsigned char>(signalNumber);
    ssize_t ignored = ::write(s_pipe[1], &byte, 1);
    (void)ignored;
    errno = savedErrno;
}

void closePipe()
{
    for (int &fd : s_pipe) {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
}

} // namespace

QuitSignalBridge::QuitSignalBridge(QObject *parent)
    : QObject(parent)
{
    if (s_pipe[0] >= 0)
        return;
    if (::pipe2(s_pipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        s_pipe[0] = s_pipe[1] = -1;
        return;
    }
    m_notifier = new QSocketNotifier(s_pipe[0], QSocketNotifier::Read, this);
    connect(m_notifier, SIGNAL(activated(int)), this, SLOT(readPipe()));

    struct sigaction action
    {
    };
    action.sa_handler = onQuitSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int i = 0; i < kSignalCount; ++i) {
        if (::sigaction(kBridgedSignals[i], &action, &s_previous[i]) != 0) {
            for (int k = 0; k < i; ++k)
                ::sigaction(kBridgedSignals[k], &s_previous[k], nullptr);
            delete m_notifier;
            m_notifier = nullptr;
            closePipe();
            return;
        }
    }
    m_active = true;
}

QuitSignalBridge::~QuitSignalBridge()
{
    if (!m_active)
        return;
    for (int i = 0; i < kSignalCount; ++i)
        ::sigaction(kBridgedSignals[i], &s_previous[i], nullptr);
    delete m_notifier;
    closePipe();
}

void QuitSignalBridge::readPipe()
{
    unsigned char byte = 0;
    int last = -1;
    while (::read(s_pipe[0], &byte, 1) == 1)
        last = byte;
    if (last >= 0)
        emit quitRequested(last);
}
