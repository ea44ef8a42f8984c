// A top-level window of the plant whose close is told to its owner from the event queue,
// never inside the close, so that the owner may drop the whole window then.
#pragma once

#include <QApplication>
#include <QCloseEvent>
#include <QPointer>
#include <QWidget>

#include <functional>

namespace plantview {

class ClosingFrame : public QWidget {
  public:
    std::function<void()> closed;

  protected:
    void closeEvent(QCloseEvent *event) override {
        event->accept();
        hide();
        QMetaObject::invokeMethod(
            qApp,
            [frame = QPointer<ClosingFrame>(this)] {
                // A copy: the owner may drop the window, and this function with it.
                if (const std::function<void()> closed = frame ? frame->closed : nullptr)
                    closed();
            },
            Qt::QueuedConnection);
    }
};

} // namespace plantview
