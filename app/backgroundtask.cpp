#include "app/backgroundtask.h"

#include <QDeadlineTimer>
#include <QThread>

#include <algorithm>

namespace {

// Threads whose owner went while they ran. Never freed, so that the list stays reachable
// whatever runs at the program's end.
std::vector<QThread*>& orphanList() {
    static auto* const list = new std::vector<QThread*>;
    return *list;
}

void reap(QThread* thread) {
    std::vector<QThread*>& list = orphanList();
    const auto it = std::find(list.begin(), list.end(), thread);
    if (it == list.end())
        return;
    list.erase(it);
    thread->wait();
    thread->deleteLater();
}

// The thread is joined and deleted on this thread's event loop once it has ended.
void adopt(QThread* thread) {
    orphanList().push_back(thread);
    QObject::connect(
        thread, &QThread::finished, thread, [thread] { reap(thread); }, Qt::QueuedConnection);
    if (thread->isFinished())
        reap(thread);
}

} // namespace

struct BackgroundTask::Piece {
    std::unique_ptr<QThread> thread;
    std::function<void()> done;
    std::function<void()> cancel;
};

BackgroundTask::BackgroundTask(QObject* parent) : QObject(parent) {}

BackgroundTask::~BackgroundTask() {
    cancel();
    const QDeadlineTimer deadline(finalWaitMs_ < 0 ? QDeadlineTimer(QDeadlineTimer::Forever)
                                                   : QDeadlineTimer(finalWaitMs_));
    for (const std::unique_ptr<Piece>& piece : pieces_) {
        piece->thread->disconnect(this);
        if (!piece->thread->wait(deadline))
            adopt(piece->thread.release());
    }
}

int BackgroundTask::orphans() {
    return int(orphanList().size());
}

void BackgroundTask::start(std::function<void()> work, std::function<void()> done,
                           std::function<void()> cancelWork) {
    cancel();
    auto piece = std::make_unique<Piece>();
    piece->thread.reset(QThread::create(std::move(work)));
    piece->done = std::move(done);
    piece->cancel = std::move(cancelWork);
    Piece* const p = piece.get();
    // QThread::finished comes from the ending thread itself; queued, the handler runs here.
    connect(
        p->thread.get(), &QThread::finished, this, [this, p] { ended(p); }, Qt::QueuedConnection);
    pieces_.push_back(std::move(piece));
    current_ = p;
    p->thread->start();
}

void BackgroundTask::cancel() {
    Piece* const p = current_;
    if (!p)
        return;
    current_ = nullptr;
    if (p->cancel)
        p->cancel();
}

void BackgroundTask::ended(Piece* piece) {
    const auto it =
        std::find_if(pieces_.begin(), pieces_.end(),
                     [piece](const std::unique_ptr<Piece>& x) { return x.get() == piece; });
    if (it == pieces_.end())
        return;
    // finished is sent just before the thread's last instructions: join it before it goes.
    piece->thread->wait();
    std::unique_ptr<Piece> owned = std::move(*it);
    pieces_.erase(it);
    if (current_ == piece) {
        current_ = nullptr;
        if (owned->done)
            owned->done();
    }
}
