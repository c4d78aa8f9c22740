#include "app/termination_requests.h"

#include <sys/socket.h>
#include <unistd.h>
#include <QCoreApplication>
#include <QEvent>
#include <QGuiApplication>
#include <QSessionManager>
#include <QSocketNotifier>
#include <cerrno>
#include <iterator>
#include <stdexcept>
#include <system_error>
#include <type_traits>

namespace tertulia {

namespace {

constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP};

// Where the handler writes; -1 while no TerminationRequests exists.
volatile std::sig_atomic_t signalWriteEnd = -1;

extern "C" void WriteSignalByte(int signal) {
    const int savedErrno = errno;
    const char byte = static_cast<char>(signal);
    // Non-blocking: when the pair is full, an end is pending already.
    if (signalWriteEnd >= 0) (void)!write(signalWriteEnd, &byte, 1);
    errno = savedErrno;
}

}  // namespace

TerminationRequests::TerminationRequests(std::function<void()> end, std::function<void()> save)
    : end_(std::move(end)) {
    if (signalWriteEnd >= 0) throw std::logic_error("termination requests are already handled");
    int pair[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, pair) != 0) {
        throw std::system_error(errno, std::generic_category(), "socketpair");
    }
    readEnd_ = pair[0];
    writeEnd_ = pair[1];
    signalWriteEnd = writeEnd_;
    notifier_ = std::make_unique<QSocketNotifier>(readEnd_, QSocketNotifier::Read);
    connect(notifier_.get(), &QSocketNotifier::activated, this, &TerminationRequests::ReadSignals);

    struct sigaction action {};
    action.sa_handler = &WriteSignalByte;
    sigemptyset(&action.sa_mask);
    // Blocking calls go on after the handler; the network client also retries on EINTR.
    action.sa_flags = SA_RESTART;
    static_assert(std::size(kSignals) == std::extent_v<decltype(previous_)>);
    for (std::size_t i = 0; i < std::size(kSignals); ++i) {
        sigaction(kSignals[i], &action, &previous_[i]);
    }

    QCoreApplication::instance()->installEventFilter(this);
    if (auto* gui = qobject_cast<QGuiApplication*>(QCoreApplication::instance())) {
        connect(gui, &QGuiApplication::commitDataRequest, this,
                [save = std::move(save)](QSessionManager&) {
                    if (save) save();
                });
    }
}

TerminationRequests::~TerminationRequests() {
    for (std::size_t i = 0; i < std::size(kSignals); ++i) {
        sigaction(kSignals[i], &previous_[i], nullptr);
    }
    signalWriteEnd = -1;
    notifier_.reset();
    close(readEnd_);
    close(writeEnd_);
}

void TerminationRequests::ReadSignals() {
    char bytes[64];
    bool any = false;
    while (read(readEnd_, bytes, sizeof bytes) > 0) any = true;
    if (any && end_) end_();
}

bool TerminationRequests::eventFilter(QObject* watched, QEvent* event) {
    // An application-wide filter sees every event; only the application's own Quit matters.
    if (event->type() != QEvent::Quit || watched != QCoreApplication::instance()) return false;
    if (end_) end_();
    return true;
}

}  // namespace tertulia
