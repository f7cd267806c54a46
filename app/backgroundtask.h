#pragma once

#include <QObject>

#include <functional>
#include <memory>
#include <vector>

class QThread;

// Runs work off the GUI thread, one piece at a time as far as the caller is concerned: a new
// start() or cancel() abandons the piece in hand (its cancel function is called and its done
// function never will be) without waiting for it. Each piece runs on a thread of its own and
// is joined when it ends; the destructor cancels whatever still runs and waits for it, so no
// thread outlives its owner. Owned by the window.
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

private:
    struct Piece;
    void ended(Piece* piece);

    std::vector<std::unique_ptr<Piece>> pieces_;
    Piece* current_ = nullptr;
};
