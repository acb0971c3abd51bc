#include "DiagnosticsView.h"

#include "Async.h"
#include "Brand.h"
#include "ConnectorController.h"
#include "Controls.h"
#include "Symbols.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

namespace {

QLabel* label(const QString& text, int size, QFont::Weight weight, const QColor& color, QWidget* parent) {
    auto* result = new QLabel(text, parent);
    result->setFont(Brand::font(size, weight));
    result->setTextFormat(Qt::PlainText); // texts from files and the bridge: no markup, no mnemonics
    QPalette palette = result->palette();
    palette.setColor(QPalette::WindowText, color);
    result->setPalette(palette);
    return result;
}

// Reads the facts on a worker and hands them to the page, if it is still there.
QCoro::Task<void> readFactsFor(QPointer<DiagnosticsView> view, QString bundlePath,
                               std::shared_ptr<Workspace> apps,
                               std::function<void(DiagnosticsView&, Diagnostics::Facts)> deliver) {
    auto read = [bundlePath, apps] { return Diagnostics::gather(bundlePath, apps); };
    Diagnostics::Facts facts = co_await Async::onWorker(std::move(read));
    if (view)
        deliver(*view, std::move(facts));
}

} // namespace

DiagnosticsView::DiagnosticsView(ConnectorController& controller, WindowState&, QWidget* parent)
    : QWidget(parent), controller_(controller) {
    facts_.bundlePath = controller.bundlePath;

    auto* page = new QVBoxLayout(this);
    page->setContentsMargins(0, 0, 0, 0);
    page->setSpacing(0);

    rowsLayout_ = new QVBoxLayout;
    rowsLayout_->setContentsMargins(0, 0, 0, 0);
    rowsLayout_->setSpacing(0);
    page->addLayout(rowsLayout_);

    page->addSpacing(12);
    auto* controls = new QHBoxLayout;
    controls->setContentsMargins(0, 0, 0, 0);
    controls->setSpacing(8);
    recheck_ = Controls::button(DiagnosticsModel::recheck, Controls::ButtonStyle::regular, this);
    startBridge_ = Controls::button(DiagnosticsModel::startBridge, Controls::ButtonStyle::regular, this);
    copy_ = Controls::button(DiagnosticsModel::copy, Controls::ButtonStyle::regular, this);
    showLog_ = Controls::button(DiagnosticsModel::showLog, Controls::ButtonStyle::regular, this);
    lastCheck_ = label(QString(), 11, QFont::Normal, Brand::secondary, this);
    controls->addWidget(recheck_);
    controls->addWidget(startBridge_);
    controls->addWidget(copy_);
    controls->addWidget(showLog_);
    controls->addWidget(lastCheck_);
    controls->addStretch(1);
    page->addLayout(controls);

    page->addSpacing(10);
    auto* note = label(DiagnosticsModel::note, 11, QFont::Normal, Brand::secondary, this);
    note->setWordWrap(true);
    page->addWidget(note);
    page->addStretch(1);

    connect(recheck_, &QPushButton::clicked, this,
            [this] { Async::spawn(controller_.refresh(), "diagnostics recheck"); });
    connect(startBridge_, &QPushButton::clicked, this, [this] { controller_.startBridge(); });
    connect(copy_, &QPushButton::clicked, this, [this] { copyReport(); });
    connect(showLog_, &QPushButton::clicked, this, [this] { controller_.revealLog(); });
    connect(&controller_, &ConnectorController::changed, this, [this] {
        render();
        readFacts();
    });
    render();
}

void DiagnosticsView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    readFacts();
}

void DiagnosticsView::readFacts() {
    if (!isVisible())
        return;
    // One reading at a time; changes that arrive meanwhile ask for one more afterwards.
    if (readingFacts_) {
        readAgain_ = true;
        return;
    }
    readingFacts_ = true;
    Async::spawn(readFactsFor(QPointer<DiagnosticsView>(this), controller_.bundlePath, controller_.workspace,
                              [](DiagnosticsView& view, Diagnostics::Facts facts) {
                                  view.readingFacts_ = false;
                                  if (facts != view.facts_) {
                                      view.facts_ = std::move(facts);
                                      view.render();
                                  }
                                  if (view.readAgain_) {
                                      view.readAgain_ = false;
                                      view.readFacts();
                                  }
                              }),
                 "diagnostics facts");
}

void DiagnosticsView::copyReport() {
    Async::spawn(controller_.copyDiagnosticReport(), "diagnostic report copy");
    copied_ = true;
    render();
    // Each copy starts its own timer; the first one to finish clears the flag.
    QTimer::singleShot(2000, this, [this] {
        copied_ = false;
        render();
    });
}

DiagnosticsView::RowView DiagnosticsView::makeRow() {
    RowView row;
    row.block = new QWidget(this);
    auto* block = new QVBoxLayout(row.block);
    block->setContentsMargins(0, 0, 0, 0);
    block->setSpacing(0);

    auto* line = new QHBoxLayout;
    line->setContentsMargins(0, 8, 0, 8);
    line->setSpacing(8);
    row.symbol = new SymbolView(QString(), Symbols::sizeForFont(14), Brand::green, row.block);
    auto* symbolColumn = new QVBoxLayout;
    symbolColumn->setContentsMargins(0, 0, 0, 0);
    symbolColumn->addWidget(row.symbol, 0, Qt::AlignHCenter);
    symbolColumn->addStretch(1);
    auto* symbolBox = new QWidget(row.block);
    symbolBox->setFixedWidth(18);
    symbolBox->setLayout(symbolColumn);
    line->addWidget(symbolBox, 0, Qt::AlignTop);

    auto* texts = new QVBoxLayout;
    texts->setContentsMargins(0, 0, 0, 0);
    texts->setSpacing(2);
    row.title = label(QString(), 13, QFont::Medium, Brand::primaryText, row.block);
    row.detail = label(QString(), 12, QFont::Normal, Brand::secondary, row.block);
    row.detail->setWordWrap(true);
    row.detail->setTextInteractionFlags(Qt::TextSelectableByMouse);
    row.detail->setTextFormat(Qt::PlainText);
    row.title->setTextFormat(Qt::PlainText);
    texts->addWidget(row.title);
    texts->addWidget(row.detail);
    line->addLayout(texts, 1);
    block->addLayout(line);

    auto* divider = new QFrame(row.block);
    divider->setFrameShape(QFrame::HLine);
    divider->setFixedHeight(1);
    divider->setStyleSheet(
        QStringLiteral("background: %1; border: none;").arg(Brand::separator.name(QColor::HexArgb)));
    block->addWidget(divider);
    return row;
}

void DiagnosticsView::render() {
    model_ = DiagnosticsModel::from(controller_, Diagnostics::checks(controller_, facts_), copied_);

    // Rows are kept and changed in place; only the count adjusts, so selection and scroll stay.
    while (rows_.size() < model_.rows.size()) {
        rows_ << makeRow();
        rowsLayout_->addWidget(rows_.last().block);
    }
    while (rows_.size() > model_.rows.size()) {
        RowView gone = rows_.takeLast();
        rowsLayout_->removeWidget(gone.block);
        delete gone.block;
    }
    for (qsizetype i = 0; i < model_.rows.size(); ++i) {
        const DiagnosticsModel::Row& row = model_.rows[i];
        RowView& view = rows_[i];
        view.symbol->setSymbol(row.symbol);
        view.symbol->setColor(Brand::color(row.tone));
        if (view.title->text() != row.title)
            view.title->setText(row.title);
        if (view.detail->text() != row.detail)
            view.detail->setText(row.detail);
    }

    startBridge_->setVisible(model_.showsStartBridge);
    copy_->setText(model_.copyTitle);
    lastCheck_->setVisible(model_.lastCheck.has_value());
    lastCheck_->setText(model_.lastCheck.value_or(QString()));
}
