#include "OverviewView.h"

#include "Async.h"
#include "Brand.h"
#include "Card.h"
#include "ConnectorController.h"
#include "Controls.h"
#include "StatusRow.h"
#include "Symbols.h"

#include <QFontMetrics>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPainter>
#include <QPainterPath>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>

using Controls::ButtonStyle;

namespace {

// A symbol beside wrapping text, both in one colour: the callout's lines and the notice.
QWidget* symbolLine(const QString& symbol, int fontSize, const QColor& symbolColor, const QColor& textColor,
                    QLabel** text, QWidget* parent) {
    auto* line = new QWidget(parent);
    auto* row = new QHBoxLayout(line);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(6);
    auto* mark = new SymbolView(symbol, Symbols::sizeForFont(fontSize), symbolColor, line);
    *text = Controls::label(QString(), Brand::font(fontSize), textColor, line, true);
    row->addWidget(mark, 0, Qt::AlignTop);
    row->addWidget(*text, 1);
    return line;
}

// Keeps `pool` at `count` widgets made by `make` and added to `layout` at `offset` + index.
template <typename W, typename Make> void resizePool(QList<W*>& pool, qsizetype count, Make make) {
    while (pool.size() < count)
        pool << make(pool.size());
    while (pool.size() > count)
        delete pool.takeLast();
}

} // namespace

// The rounded, tinted box of the health callout.
class OverviewView::CalloutBox : public QWidget {
public:
    using QWidget::QWidget;
    QColor tone = Brand::orange;

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        QPainterPath shape;
        shape.addRoundedRect(QRectF(rect()), 10, 10);
        painter.fillPath(shape, Brand::withOpacity(tone, 0.1));
    }
};

struct OverviewView::PairingWidgets : QWidget {
    QLabel* label;
    QLabel* detail;
    QPushButton* disconnect;
    Pairing pairing;

    explicit PairingWidgets(QWidget* parent) : QWidget(parent) {
        auto* row = new QHBoxLayout(this);
        row->setContentsMargins(0, 0, 0, 0);
        row->setSpacing(10);
        row->addWidget(new SymbolView(QStringLiteral("person.crop.circle.fill"), Symbols::sizeForFont(22),
                                      Brand::withOpacity(Brand::accent, 0.85), this));
        auto* texts = new QVBoxLayout;
        texts->setSpacing(1);
        label = Controls::label(QString(), Brand::font(13, QFont::Medium), Brand::primaryText, this);
        detail = Controls::label(QString(), Brand::font(11), Brand::secondary, this);
        texts->addWidget(label);
        texts->addWidget(detail);
        row->addLayout(texts, 1);
        disconnect = Controls::button(OverviewTexts::disconnect, ButtonStyle::small, this);
        row->addWidget(disconnect, 0, Qt::AlignVCenter);
    }
};

struct OverviewView::ToolWidgets : QWidget {
    QLabel* heading;
    QLabel* message;
    QLabel* models;
    QPushButton* update;
    CliTool tool;

    explicit ToolWidgets(QWidget* parent) : QWidget(parent) {
        auto* row = new QHBoxLayout(this);
        row->setContentsMargins(0, 0, 0, 0);
        row->setSpacing(10);
        auto* texts = new QVBoxLayout;
        texts->setSpacing(3);
        heading = Controls::label(QString(), Brand::font(13, QFont::Medium), Brand::primaryText, this);
        message = Controls::label(QString(), Brand::font(12), Brand::secondary, this, true);
        models = Controls::label(QString(), Brand::font(11), Brand::secondary, this);
        texts->addWidget(heading);
        texts->addWidget(message);
        texts->addWidget(models);
        row->addLayout(texts, 1);
        update = Controls::button(OverviewTexts::update, ButtonStyle::regular, this);
        row->addWidget(update, 0, Qt::AlignVCenter);
    }
};

OverviewView::OverviewView(ConnectorController& controller, WindowState& window, QWidget* parent)
    : QWidget(parent), controller_(controller) {
    Q_UNUSED(window);
    auto* page = new QVBoxLayout(this);
    page->setContentsMargins(0, 0, 0, 0);
    page->setSpacing(14);

    // 1. Callout.
    callout_ = new CalloutBox(this);
    calloutLayout_ = new QVBoxLayout(callout_);
    calloutLayout_->setContentsMargins(12, 12, 12, 12);
    calloutLayout_->setSpacing(8);
    calloutButton_ = Controls::button(QString(), ButtonStyle::small, callout_);
    auto* calloutButtonRow = new QHBoxLayout;
    calloutButtonRow->addWidget(calloutButton_);
    calloutButtonRow->addStretch(1);
    calloutLayout_->addLayout(calloutButtonRow);
    connect(calloutButton_, &QPushButton::clicked, this, [this] {
        if (!model_.callout)
            return;
        if (model_.callout->button == OverviewModel::Callout::Button::openLoginItems)
            controller_.openLoginItemsSettings();
        else if (model_.callout->button == OverviewModel::Callout::Button::startBridge)
            controller_.startBridge();
    });
    page->addWidget(callout_);

    // 2. Bridge and engines.
    auto* status = new Card(OverviewTexts::statusCard, nullptr, this);
    statusLayout_ = static_cast<QVBoxLayout*>(status->content()->layout());
    page->addWidget(status);

    // 3. Pairings.
    auto* pairings = new Card(OverviewTexts::pairingsCard, nullptr, this);
    pairingsLayout_ = static_cast<QVBoxLayout*>(pairings->content()->layout());
    noPairings_ = Controls::label(QString(), Brand::font(12), Brand::secondary, pairings->content(), true);
    pairingsLayout_->addWidget(noPairings_);
    page->addWidget(pairings);

    // 4. Executor tools.
    auto* tools = new Card(OverviewTexts::toolsCard, nullptr, this);
    QWidget* toolsBody = tools->content();
    toolsLayout_ = static_cast<QVBoxLayout*>(toolsBody->layout());
    toolsUnavailable_ = Controls::label(QString(), Brand::font(12), Brand::secondary, toolsBody, true);
    toolButtons_ = new QWidget(toolsBody);
    auto* buttonRow = new QHBoxLayout(toolButtons_);
    buttonRow->setContentsMargins(0, 0, 0, 0);
    buttonRow->setSpacing(8);
    checkTools_ = Controls::button(OverviewTexts::checkTools, ButtonStyle::regular, toolButtons_);
    refreshModels_ = Controls::button(OverviewTexts::refreshModels, ButtonStyle::regular, toolButtons_);
    toolsSpinner_ = new Spinner(toolButtons_);
    buttonRow->addStretch(1);
    buttonRow->addWidget(checkTools_);
    buttonRow->addWidget(refreshModels_);
    buttonRow->addWidget(toolsSpinner_);
    buttonRow->addStretch(1);
    toolsMessage_ = Controls::label(QString(), Brand::font(12), Brand::secondary, toolsBody, true);
    openRunsNote_ = Controls::label(QString(), Brand::font(12), Brand::secondary, toolsBody, true);
    toolsLayout_->addWidget(toolsUnavailable_);
    toolsLayout_->addWidget(toolButtons_);
    toolsLayout_->addWidget(toolsMessage_);
    toolsLayout_->addWidget(openRunsNote_);
    connect(checkTools_, &QPushButton::clicked, this, [this] {
        Async::spawn(controller_.cliAction(QStringLiteral("cli-check"), std::nullopt, true), "tool check");
    });
    connect(refreshModels_, &QPushButton::clicked, this, [this] {
        Async::spawn(controller_.cliAction(QStringLiteral("cli-refresh"), std::nullopt, true),
                     "model refresh");
    });
    page->addWidget(tools);

    // 5. The connector's own update.
    auto* update = new Card(OverviewTexts::updateCard, nullptr, this);
    auto* updateRow = new QHBoxLayout;
    updateRow->setSpacing(10);
    auto* updateTexts = new QVBoxLayout;
    updateTexts->setSpacing(2);
    versionLine_ = Controls::label(QString(), Brand::font(13, QFont::Medium), Brand::primaryText, update);
    updateLine_ = Controls::label(QString(), Brand::font(12), Brand::secondary, update, true);
    updateTexts->addWidget(versionLine_);
    updateTexts->addWidget(updateLine_);
    updateRow->addLayout(updateTexts, 1);
    checkConnector_ = Controls::button(OverviewTexts::checkConnector, ButtonStyle::regular, update);
    updateSpinner_ = new Spinner(update);
    updateProgress_ = new QProgressBar(update);
    updateProgress_->setFixedWidth(90);
    // The bar sits on the version line's baseline: its top margin is the room above it in that line.
    const int barTop = std::max(0, QFontMetrics(versionLine_->font()).ascent() - 6);
    updateProgress_->setFixedHeight(6 + barTop);
    updateProgress_->setTextVisible(false);
    updateProgress_->setRange(0, 1000);
    updateProgress_->setStyleSheet(
        QStringLiteral("QProgressBar { background: rgba(0,0,0,25); border: none; margin-top: %2px; "
                       "border-radius: 3px; } QProgressBar::chunk { background: %1; "
                       "border-radius: 3px; }")
            .arg(Brand::accent.name())
            .arg(barTop));
    waitButtons_ = new QWidget(update);
    auto* waitRow = new QHBoxLayout(waitButtons_);
    waitRow->setContentsMargins(0, 0, 0, 0);
    waitRow->setSpacing(8);
    auto* cancelWait = Controls::button(OverviewTexts::cancelWait, ButtonStyle::regular, waitButtons_);
    auto* installNow = Controls::button(OverviewTexts::installNow, ButtonStyle::regular, waitButtons_);
    installNow->setToolTip(OverviewTexts::installNowHelp);
    waitRow->addWidget(cancelWait);
    waitRow->addWidget(installNow);
    installButton_ = Controls::button(OverviewTexts::update, ButtonStyle::prominent, update);
    for (QWidget* control :
         {static_cast<QWidget*>(checkConnector_), static_cast<QWidget*>(updateSpinner_),
          static_cast<QWidget*>(updateProgress_), waitButtons_, static_cast<QWidget*>(installButton_)})
        updateRow->addWidget(control, 0, Qt::AlignTop);
    static_cast<QVBoxLayout*>(update->content()->layout())->addLayout(updateRow);
    connect(checkConnector_, &QPushButton::clicked, this,
            [this] { Async::spawn(controller_.checkForUpdates(true), "connector update check"); });
    connect(cancelWait, &QPushButton::clicked, this, [this] { controller_.cancelInstallWait(); });
    connect(installNow, &QPushButton::clicked, this, [this] { controller_.installNow(); });
    connect(installButton_, &QPushButton::clicked, this, [this] { controller_.requestInstall(); });
    page->addWidget(update);

    // 6. Notice.
    notice_ = symbolLine(QStringLiteral("exclamationmark.triangle"), 12, Brand::orange, Brand::orange,
                         &noticeText_, this);
    page->addWidget(notice_);

    connect(&controller_, &ConnectorController::changed, this, &OverviewView::render);
    render();
}

void OverviewView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    render();
}

void OverviewView::render() {
    // A hidden page catches up when it is shown.
    if (rendered_ && !isVisible())
        return;
    OverviewModel next = OverviewModel::from(OverviewInput::of(controller_));
    if (rendered_ && next == model_)
        return;
    model_ = std::move(next);
    rendered_ = true;
    renderCallout();
    renderStatus();
    renderPairings();
    renderTools();
    renderUpdate();
    Controls::showIf(notice_, model_.notice.has_value());
    if (model_.notice)
        Controls::setText(noticeText_, *model_.notice);
}

void OverviewView::renderCallout() {
    Controls::showIf(callout_, model_.callout.has_value());
    if (!model_.callout)
        return;
    const OverviewModel::Callout& c = model_.callout.value();
    const QColor tone = Brand::color(c.tone);
    // Grey is for the mark; its texts stay in the primary colour to be readable.
    const QColor textColor = c.tone == Tone::secondary ? Brand::primaryText : tone;
    callout_->tone = tone;
    resizePool(calloutLines_, c.lines.size(), [&](qsizetype index) {
        QLabel* text = nullptr;
        QWidget* line = symbolLine(c.symbol, 13, tone, textColor, &text, callout_);
        calloutLayout_->insertWidget(int(index), line);
        return line;
    });
    for (qsizetype i = 0; i < c.lines.size(); ++i) {
        QWidget* line = calloutLines_[i];
        auto* mark = line->findChild<SymbolView*>();
        auto* text = line->findChild<QLabel*>();
        mark->setSymbol(c.symbol);
        mark->setColor(tone);
        Controls::setColor(text, textColor);
        Controls::setText(text, c.lines[i]);
    }
    Controls::showIf(calloutButton_, c.button != OverviewModel::Callout::Button::none);
    calloutButton_->setText(c.buttonTitle);
    callout_->update();
}

void OverviewView::renderStatus() {
    resizePool(statusRows_, model_.status.size(), [&](qsizetype) {
        auto* row = new StatusRow(QString(), QString(), QString(), false, statusLayout_->parentWidget());
        statusLayout_->addWidget(row);
        return row;
    });
    for (qsizetype i = 0; i < model_.status.size(); ++i) {
        const OverviewModel::Row& r = model_.status[i];
        statusRows_[i]->set(r.symbol, r.title, r.detail, r.ok);
    }
}

void OverviewView::renderPairings() {
    Controls::showIf(noPairings_, model_.noPairings.has_value());
    if (model_.noPairings)
        Controls::setText(noPairings_, *model_.noPairings);
    resizePool(pairingRows_, model_.pairings.size(), [&](qsizetype) {
        auto* row = new PairingWidgets(pairingsLayout_->parentWidget());
        connect(row->disconnect, &QPushButton::clicked, this,
                [this, row] { controller_.disconnect(row->pairing); });
        pairingsLayout_->addWidget(row);
        return row;
    });
    for (qsizetype i = 0; i < model_.pairings.size(); ++i) {
        const OverviewModel::PairingRow& p = model_.pairings[i];
        PairingWidgets* row = pairingRows_[i];
        row->pairing = p.pairing;
        Controls::setText(row->label, p.label);
        Controls::setText(row->detail, p.detail);
        row->disconnect->setAccessibleName(OverviewTexts::disconnect + QStringLiteral(" ") + p.label);
    }
}

void OverviewView::renderTools() {
    const OverviewModel::Tools& t = model_.tools;
    resizePool(toolRows_, t.rows.size(), [&](qsizetype index) {
        auto* row = new ToolWidgets(toolsLayout_->parentWidget());
        connect(row->update, &QPushButton::clicked, this, [this, row] { confirmToolUpdate(row->tool); });
        toolsLayout_->insertWidget(int(index), row);
        return row;
    });
    for (qsizetype i = 0; i < t.rows.size(); ++i) {
        const OverviewModel::ToolRow& r = t.rows[i];
        ToolWidgets* row = toolRows_[i];
        row->tool = r.tool;
        Controls::setText(row->heading, r.heading);
        Controls::setText(row->message, r.message);
        Controls::showIf(row->message, !r.message.isEmpty());
        Controls::showIf(row->models, r.models.has_value());
        if (r.models)
            Controls::setText(row->models, *r.models);
        Controls::showIf(row->update, r.hasUpdateButton);
        row->update->setEnabled(r.updateEnabled);
        row->update->setAccessibleName(OverviewTexts::update + QStringLiteral(" ") + r.tool.title());
    }
    Controls::showIf(toolsUnavailable_, t.unavailable.has_value());
    if (t.unavailable)
        Controls::setText(toolsUnavailable_, *t.unavailable);
    toolButtons_->setEnabled(t.buttonsEnabled);
    refreshModels_->setEnabled(t.refreshEnabled);
    Controls::showIf(toolsSpinner_, t.busy);
    Controls::showIf(toolsMessage_, t.message.has_value());
    if (t.message)
        Controls::setText(toolsMessage_, *t.message);
    Controls::showIf(openRunsNote_, t.openRunsNote.has_value());
    if (t.openRunsNote)
        Controls::setText(openRunsNote_, *t.openRunsNote);
}

void OverviewView::renderUpdate() {
    using Kind = OverviewModel::UpdateControl::Kind;
    Controls::setText(versionLine_, model_.versionLine);
    Controls::setText(updateLine_, model_.updateLine);
    const OverviewModel::UpdateControl& c = model_.updateControl;
    Controls::showIf(checkConnector_, c.kind == Kind::checkButton);
    Controls::showIf(updateSpinner_, c.kind == Kind::spinner);
    Controls::showIf(updateProgress_, c.kind == Kind::progressBar);
    if (c.fraction)
        updateProgress_->setValue(qRound(*c.fraction * 1000));
    Controls::showIf(waitButtons_, c.kind == Kind::waitButtons);
    Controls::showIf(installButton_, c.kind == Kind::installButton);
    installButton_->setToolTip(c.installHelp);
}

void OverviewView::confirmToolUpdate(const CliTool& tool) {
    if (confirmation_)
        return;
    cliToUpdate_ = tool;
    const ToolUpdateConfirmation texts = ToolUpdateConfirmation::of(tool);
    auto* box = new QMessageBox(QMessageBox::NoIcon, texts.title, texts.message, QMessageBox::NoButton, this);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::WindowModal);
    box->setText(texts.title);
    box->setInformativeText(texts.message);
    QPushButton* confirm = box->addButton(texts.confirm, QMessageBox::AcceptRole);
    box->addButton(texts.cancel, QMessageBox::RejectRole);
    box->setDefaultButton(confirm);
    confirmation_ = box;
    // Whatever ends the alert clears the tool; only the confirming button sends the update.
    connect(box, &QMessageBox::buttonClicked, this, [this, confirm](QAbstractButton* clicked) {
        const std::optional<CliTool> tool = cliToUpdate_;
        cliToUpdate_.reset();
        confirmation_ = nullptr;
        if (clicked == confirm && tool)
            Async::spawn(controller_.cliAction(QStringLiteral("cli-update"), tool->id, true), "tool update");
    });
    connect(box, &QDialog::finished, this, [this] {
        cliToUpdate_.reset();
        confirmation_ = nullptr;
    });
    box->open();
}
