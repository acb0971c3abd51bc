#pragma once

#include <QObject>
#include <QStringList>

// The application shell of the window and menu-bar modes. Owns the application's long-lived objects and runs
// the launch sequence; lives as long as the application, on the main thread only.
class ConnectorAppDelegate : public QObject {
    Q_OBJECT

public:
    explicit ConnectorAppDelegate(QStringList arguments, QObject* parent = nullptr);
    ~ConnectorAppDelegate() override;

    // Before the event loop runs: preferences get their fallbacks before anything reads them.
    void applicationWillFinishLaunching();
    // Once the event loop runs: starts the launch sequence and returns at once.
    void applicationDidFinishLaunching();

    // The launch flags, unchanged from the process's argument vector.
    const QStringList& arguments() const { return arguments_; }

private:
    QStringList arguments_;
};
