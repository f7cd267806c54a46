#pragma once

#include <QObject>

#include <functional>
#include <memory>
#include <vector>

class QThread;

// Runs work off the GUI thread, one piece at a time as far as the caller is concerned: a new
// start() or cancel() abandons the piece in hand (its cancel function is called and its done
// function never will be) without waiting for it. Each piece runs on a thread of its own and
// is joined when it ends; the destructor cancels whatever still runs and waits for it (for at
// most the final wait, if one is set: a thread still running then is left to end on its own
// and is joined and deleted on this thread's event loop when it does). Owned by the document.
class BackgroundTask : public QObject {
    Q_OBJECT
public:
    explicit BackgroundTask(QObject* parent = nullptr);
    ~BackgroundTask() override;

    // `work` runs on a new thread; `done` runs on this object's thread once `work` has
    // returned, unless the piece was abandoned before; `cancel` is called (on this object's
    // thread) when it is abandoned and must make `work` return soon.
    void start(std::function<void()> work, std::function<void()> done,
               std::function<void()> cancel);

    // Abandons the piece in hand, if any; returns at once.
    void cancel();

    // True from start() until the piece's done function has run or it was abandoned.
    bool running() const { return current_ != nullptr; }

    // Pieces whose threads have not ended yet, the abandoned ones included.
    int threads() const { return int(pieces_.size()); }

    // How long the destructor waits for the threads of abandoned pieces, in milliseconds, all
    // of them together; negative: as long as they run.
    void setFinalWait(int ms) { finalWaitMs_ = ms; }

    // Threads left running by owners that went, and not ended yet. A program that leaves
    // with some must not run its static destructors under them.
    static int orphans();

private:
    struct Piece;
    void ended(Piece* piece);

    std::vector<std::unique_ptr<Piece>> pieces_;
    Piece* current_ = nullptr;
    int finalWaitMs_ = -1;
};
