#pragma once

#include <QObject>

// The pages of the main window, in the order of its page picker. Kept beside the controller (not with the
// window widgets) because the status item, the window and the application shell all name pages.
enum class WindowPage { start, overview, diagnostics, settings };

// Which page the main window shows. Lives as long as the application, so the last page survives closing and
// reopening the window. Every assignment is announced, also an equal one, like the controller's fields.
class WindowState : public QObject {
    Q_OBJECT

public:
    explicit WindowState(QObject* parent = nullptr) : QObject(parent) {}

    WindowPage page() const { return page_; }
    void setPage(WindowPage page) {
        page_ = page;
        emit changed();
    }

signals:
    void changed();

private:
    WindowPage page_ = WindowPage::overview;
};
