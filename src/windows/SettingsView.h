#pragma once

#include "SettingsModel.h"

#include <QWidget>

class Card;
class ConnectorController;
class QCheckBox;
class QLabel;
class QPushButton;
class SymbolView;
class UninstallSheet;
class WindowState;

// The settings page: the session hooks and gateway cards, the start, update, Orvane and uninstall cards
// (greyed out in isolated validation mode), and the notice line. Owns the uninstall sheet and the page's
// flags `autoInstall`, `confirmsUninstall` and `deletesData`, which live as long as the page.
class SettingsView : public QWidget {
    Q_OBJECT

public:
    SettingsView(ConnectorController& controller, WindowState& window, QWidget* parent = nullptr);

    const SettingsModel& model() const { return model_; }
    bool confirmsUninstall() const { return confirmsUninstall_; }
    bool deletesData() const { return deletesData_; }
    // Presents the sheet while true, closes it when set false.
    void setConfirmsUninstall(bool on);

    // Parts, for tests.
    QList<Card*> cards() const;
    QCheckBox* statusItemSwitch() const { return statusItem_; }
    QPushButton* loginItemsButton() const { return loginItems_; }
    QCheckBox* autoInstallSwitch() const { return autoInstallSwitch_; }
    QPushButton* connectButton() const { return connect_; }
    QPushButton* uninstallButton() const { return uninstall_; }
    QWidget* noticeLine() const { return notice_; }
    UninstallSheet* sheet() const { return sheet_; }

private:
    void render();

    ConnectorController& controller_;
    bool autoInstall_;
    bool confirmsUninstall_ = false;
    bool deletesData_ = false;
    SettingsModel model_;

    Card* hooksCard_ = nullptr;
    Card* strellCard_ = nullptr;
    Card* startCard_ = nullptr;
    Card* updateCard_ = nullptr;
    Card* senvikCard_ = nullptr;
    Card* uninstallCard_ = nullptr;
    QCheckBox* statusItem_ = nullptr;
    QPushButton* loginItems_ = nullptr;
    QCheckBox* autoInstallSwitch_ = nullptr;
    QPushButton* connect_ = nullptr;
    QPushButton* uninstall_ = nullptr;
    QWidget* notice_ = nullptr;
    QLabel* noticeText_ = nullptr;
    UninstallSheet* sheet_ = nullptr;
};
