#include "SettingsView.h"

#include "Async.h"
#include "Brand.h"
#include "Card.h"
#include "ConnectorController.h"
#include "ConnectorPaths.h"
#include "ConnectorSettings.h"
#include "Controls.h"
#include "SessionHooksView.h"
#include "StrellSettingsView.h"
#include "Symbols.h"
#include "UninstallSheet.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSignalBlocker>
#include <QVBoxLayout>

namespace {

QLabel* note(const QString& text, QWidget* parent) {
    auto* result = new QLabel(text, parent);
    result->setFont(Brand::font(12));
    result->setTextFormat(Qt::PlainText); // texts from files and the bridge: no markup, no mnemonics
    result->setWordWrap(true);
    QPalette palette = result->palette();
    palette.setColor(QPalette::WindowText, Brand::secondary);
    result->setPalette(palette);
    return result;
}

QVBoxLayout* contentLayout(Card* card) {
    return static_cast<QVBoxLayout*>(card->content()->layout());
}

} // namespace

SettingsView::SettingsView(ConnectorController& controller, WindowState&, QWidget* parent)
    : QWidget(parent), controller_(controller), autoInstall_(ConnectorSettings::autoInstallUpdates()) {
    auto* page = new QVBoxLayout(this);
    page->setContentsMargins(0, 0, 0, 0);
    page->setSpacing(14);

    hooksCard_ = new Card(SettingsModel::hooksCard, new SessionHooksView(controller), this);
    strellCard_ = new Card(SettingsModel::strellCard, new StrellSettingsView(controller), this);
    page->addWidget(hooksCard_);
    page->addWidget(strellCard_);

    startCard_ = new Card(SettingsModel::startCard, nullptr, this);
    statusItem_ = new QCheckBox(SettingsModel::statusItemSwitch, startCard_);
    statusItem_->setFont(Brand::font(13));
    contentLayout(startCard_)->addWidget(statusItem_);
    contentLayout(startCard_)->addWidget(note(SettingsModel::statusItemNote, startCard_));
    loginItems_ =
        Controls::button(SettingsModel::loginItemsButton, Controls::ButtonStyle::regular, startCard_);
    contentLayout(startCard_)->addWidget(loginItems_, 0, Qt::AlignLeft);
    page->addWidget(startCard_);

    updateCard_ = new Card(SettingsModel::updateCard, nullptr, this);
    autoInstallSwitch_ = new QCheckBox(SettingsModel::autoInstallSwitch, updateCard_);
    autoInstallSwitch_->setFont(Brand::font(13));
    contentLayout(updateCard_)->addWidget(autoInstallSwitch_);
    contentLayout(updateCard_)->addWidget(note(SettingsModel::autoInstallNote, updateCard_));
    page->addWidget(updateCard_);

    senvikCard_ = new Card(SettingsModel::senvikCard, nullptr, this);
    contentLayout(senvikCard_)->addWidget(note(SettingsModel::senvikNote, senvikCard_));
    connect_ = Controls::button(SettingsModel::connectButton, Controls::ButtonStyle::regular, senvikCard_);
    contentLayout(senvikCard_)->addWidget(connect_, 0, Qt::AlignLeft);
    page->addWidget(senvikCard_);

    uninstallCard_ = new Card(SettingsModel::uninstallCard, nullptr, this);
    auto* uninstallRow = new QHBoxLayout;
    uninstallRow->setContentsMargins(0, 0, 0, 0);
    uninstallRow->addWidget(note(SettingsModel::uninstallNote, uninstallCard_), 1);
    uninstall_ =
        Controls::button(SettingsModel::uninstallButton, Controls::ButtonStyle::destructive, uninstallCard_);
    uninstallRow->addWidget(uninstall_);
    contentLayout(uninstallCard_)->addLayout(uninstallRow);
    page->addWidget(uninstallCard_);

    notice_ = new QWidget(this);
    auto* noticeRow = new QHBoxLayout(notice_);
    noticeRow->setContentsMargins(0, 0, 0, 0);
    noticeRow->setSpacing(6);
    noticeRow->addWidget(new SymbolView(QStringLiteral("exclamationmark.triangle"), Symbols::sizeForFont(12),
                                        Brand::orange, notice_),
                         0, Qt::AlignTop);
    noticeText_ = new QLabel(notice_);
    noticeText_->setFont(Brand::font(12));
    noticeText_->setWordWrap(true);
    noticeText_->setTextFormat(Qt::PlainText);
    QPalette orange = noticeText_->palette();
    orange.setColor(QPalette::WindowText, Brand::orange);
    noticeText_->setPalette(orange);
    noticeRow->addWidget(noticeText_, 1);
    page->addWidget(notice_);
    page->addStretch(1);

    // Only the user's own flips act: render() sets the switches with their signals blocked.
    connect(statusItem_, &QCheckBox::toggled, this,
            [this](bool on) { controller_.setStatusItemAtLogin(on); });
    connect(loginItems_, &QPushButton::clicked, this, [this] { controller_.openLoginItemsSettings(); });
    connect(autoInstallSwitch_, &QCheckBox::toggled, this, [this](bool on) {
        autoInstall_ = on;
        ConnectorSettings::setAutoInstallUpdates(on);
        controller_.installUpdateIfIdle(); // switching it on may install a waiting update at once
        render();
    });
    connect(connect_, &QPushButton::clicked, this,
            [this] { Async::spawn(controller_.announce(false), "connect Orvane"); });
    connect(uninstall_, &QPushButton::clicked, this, [this] { setConfirmsUninstall(true); });
    connect(&controller_, &ConnectorController::changed, this, &SettingsView::render);
    render();
}

QList<Card*> SettingsView::cards() const {
    return {hooksCard_, strellCard_, startCard_, updateCard_, senvikCard_, uninstallCard_};
}

void SettingsView::setConfirmsUninstall(bool on) {
    confirmsUninstall_ = on;
    if (on) {
        if (!sheet_) {
            sheet_ = new UninstallSheet(controller_, deletesData_, window());
            connect(sheet_, &QDialog::finished, this, [this] { confirmsUninstall_ = false; });
        }
        sheet_->render();
        sheet_->open();
    } else if (sheet_ && sheet_->isVisible()) {
        sheet_->reject();
    }
}

void SettingsView::render() {
    model_ = SettingsModel::from(controller_, ConnectorPaths::isolated(), autoInstall_);
    for (Card* card : {startCard_, updateCard_, senvikCard_, uninstallCard_})
        card->setEnabled(model_.systemCardsEnabled);
    {
        const QSignalBlocker quietStatusItem(statusItem_);
        const QSignalBlocker quietAutoInstall(autoInstallSwitch_);
        statusItem_->setChecked(model_.statusItemAtLogin);
        autoInstallSwitch_->setChecked(model_.autoInstall);
    }
    loginItems_->setVisible(model_.showsLoginItemsButton);
    connect_->setEnabled(model_.connectEnabled);
    notice_->setVisible(model_.notice.has_value());
    if (noticeText_->text() != model_.notice.value_or(QString()))
        noticeText_->setText(model_.notice.value_or(QString()));
}
