#pragma once

#include "StrellSettingsModel.h"

#include <QCoroTask>
#include <QList>
#include <QPointer>
#include <QWidget>

class ConnectorController;
class QAbstractButton;
class QButtonGroup;
class QComboBox;
class QLabel;
class QLineEdit;
class QMessageBox;
class QPushButton;

// The settings page's "Strell 单岗位（试验）" card: edits a local copy of the bridge's gateway routing,
// checks it and saves it after a confirmation. The rules live in StrellSettingsModel; this only renders them
// and passes the user's edits on.
class StrellSettingsView : public QWidget {
    Q_OBJECT

public:
    explicit StrellSettingsView(ConnectorController& controller, QWidget* parent = nullptr);

    const StrellSettingsModel& model() const { return model_; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    void render();
    void askToSave();
    QCoro::Task<void> save(StrellDraft draft, qint64 revision);

    ConnectorController& controller_;
    StrellSettingsModel model_;

    QLabel* absent_ = nullptr;
    QWidget* column_ = nullptr;
    QLabel* current_ = nullptr;
    QButtonGroup* mode_ = nullptr;
    QWidget* gateway_ = nullptr;
    QWidget* roleRow_ = nullptr;
    QComboBox* role_ = nullptr;
    QList<StrellSettingsModel::RoleOption> shownOptions_;
    QLabel* noRoles_ = nullptr;
    QLineEdit* origin_ = nullptr;
    QLineEdit* modelField_ = nullptr;
    QList<QLabel*> warnings_;
    QPushButton* check_ = nullptr;
    QPushButton* reload_ = nullptr;
    QPushButton* save_ = nullptr;
    QWidget* spinner_ = nullptr;
    QLabel* result_ = nullptr;
    QPointer<QMessageBox> confirmation_;
};
