#include "ui/ShutdownRequests.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <QGuiApplication>
#include <QSessionManager>
#include <QSocketNotifier>
#include <cerrno>

namespace {
int g_pipe[2] = {-1, -1};
constexpr int kSignals[] = {SIGTERM, SIGHUP, SIGINT};

// Async-signal-safe: one write of the signal number, errno preserved.
void OnSignal(int signo) {
    const int saved = errno;
    const unsigned char byte = static_cast<unsigned char>(signo);
    [[maybe_unused]] ssize_t n = ::write(g_pipe[1], &byte, 1);
    errno = saved;
}
}  // namespace

CShutdownRequests::CShutdownRequests(QObject* parent) : QObject(parent) {
    if (auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance())) {
        // The session is ending: finish now, the session manager may not wait for a signal.
        connect(app, &QGuiApplication::commitDataRequest, this, [this](QSessionManager&) {
            m_nLastSignal = 0;
            emit ShutdownRequested();
        });
    }
    if (g_pipe[0] >= 0) return;  // another instance already owns the handlers
    if (::pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        g_pipe[0] = g_pipe[1] = -1;
        return;
    }
    struct sigaction action = {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signo : kSignals) ::sigaction(signo, &action, nullptr);
    m_pNotifier = new QSocketNotifier(g_pipe[0], QSocketNotifier::Read, this);
    connect(m_pNotifier, &QSocketNotifier::activated, this, &CShutdownRequests::OnPipeReadable);
}

CShutdownRequests::~CShutdownRequests() {
    if (!m_pNotifier) return;
    struct sigaction action = {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    for (int signo : kSignals) ::sigaction(signo, &action, nullptr);
    delete m_pNotifier;
    ::close(g_pipe[0]);
    ::close(g_pipe[1]);
    g_pipe[0] = g_pipe[1] = -1;
}

void CShutdownRequests::OnPipeReadable() {
    unsigned char byte = 0;
    bool any = false;
    while (::read(g_pipe[0], &byte, 1) == 1) {
        m_nLastSignal = byte;
        any = true;
    }
    if (any) emit ShutdownRequested();
}
