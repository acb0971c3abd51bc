#include "StartView.h"

#include "StatusDot.h"

#include "Accessibility.h"
#include "Async.h"
#include "Brand.h"
#include "ConnectorController.h"
#include "Controls.h"
#include "ElidedLabel.h"
#include "QrCode.h"
#include "Symbols.h"

#include <QDesktopServices>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QUrl>
#include <QVBoxLayout>

namespace {

// A widget that paints a rounded rectangle behind its children.
class Panel : public QWidget {
public:
    explicit Panel(QWidget* parent, qreal radius = 10) : QWidget(parent), radius_(radius) {}
    QColor fill = Brand::controlBackground;
    QColor outline = Qt::transparent;
    qreal outlineWidth = 0;

    void setLook(const QColor& f, const QColor& o, qreal width) {
        if (f == fill && o == outline && width == outlineWidth)
            return;
        fill = f;
        outline = o;
        outlineWidth = width;
        update();
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const qreal inset = outlineWidth / 2;
        QPainterPath shape;
        shape.addRoundedRect(QRectF(rect()).adjusted(inset, inset, -inset, -inset), radius_, radius_);
        painter.fillPath(shape, fill);
        if (outlineWidth > 0) {
            painter.setPen(QPen(outline, outlineWidth));
            painter.drawPath(shape);
        }
    }

private:
    qreal radius_;
};

// The round step marker: a check, or the step number.
class Marker : public QWidget {
public:
    explicit Marker(QWidget* parent) : QWidget(parent) { setFixedSize(22, 22); }
    void set(StartModel::Marker kind, int number) {
        kind_ = kind;
        number_ = number;
        update();
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        QColor disc;
        switch (kind_) {
        case StartModel::Marker::done:
            disc = Brand::green;
            break;
        case StartModel::Marker::current:
            disc = Brand::accent;
            break;
        case StartModel::Marker::later:
            disc = Brand::withOpacity(Brand::secondary, 0.18);
            break;
        }
        painter.setPen(Qt::NoPen);
        painter.setBrush(disc);
        painter.drawEllipse(QRectF(rect()));
        if (kind_ == StartModel::Marker::done) {
            Symbols::paint(painter, QStringLiteral("checkmark"), QRectF(6, 6, 10, 10), Qt::white, true);
            return;
        }
        painter.setFont(Brand::font(12, QFont::Bold));
        painter.setPen(kind_ == StartModel::Marker::current ? Brand::withOpacity(Qt::black, 0.8)
                                                            : Brand::secondary);
        painter.drawText(rect(), Qt::AlignCenter, QString::number(number_));
    }

private:
    StartModel::Marker kind_ = StartModel::Marker::later;
    int number_ = 1;
};

QPushButton* actionButton(bool prominent, QWidget* parent) {
    return Controls::button(
        QString(), prominent ? Controls::ButtonStyle::prominent : Controls::ButtonStyle::regular, parent);
}

} // namespace

class StartView::NodeView : public Panel {
public:
    explicit NodeView(QWidget* parent) : Panel(parent, 9) {
        auto* column = new QVBoxLayout(this);
        column->setContentsMargins(9, 8, 9, 8);
        column->setSpacing(2);
        title = Controls::label(QString(), Brand::font(12, QFont::DemiBold), Brand::primaryText, this, true);
        subtitle = Controls::label(QString(), Brand::font(11), Brand::secondary, this, true);
        status = Controls::label(QString(), Brand::font(11), Brand::primaryText, this, true);
        column->addWidget(title);
        column->addWidget(subtitle);
        column->addWidget(status);
        column->addStretch(1);
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
        Accessibility::oneElement(this);
    }
    void set(const StartModel::Node& node) {
        Controls::setText(title, Controls::keepRunEndsTogether(node.title));
        Controls::setText(subtitle, Controls::keepRunEndsTogether(node.subtitle));
        Controls::setText(status, Controls::keepRunEndsTogether(node.status));
        Controls::setColor(status, node.fine ? Brand::green : Brand::primaryText);
        if (node.fine)
            setLook(Brand::withOpacity(Brand::green, 0.1), Brand::withOpacity(Brand::green, 0.45), 0.5);
        else
            setLook(Brand::controlBackground, Brand::accent, 1);
        setAccessibleName(node.accessibleLabel);
    }
    QLabel* title;
    QLabel* subtitle;
    QLabel* status;
};

class StartView::StepView : public Panel {
public:
    StepView(StartView* page, QWidget* parent) : Panel(parent, 10) {
        auto* column = new QVBoxLayout(this);
        column->setContentsMargins(14, 11, 14, 11);
        column->setSpacing(8);

        line = new QWidget(this);
        auto* row = new QHBoxLayout(line);
        row->setContentsMargins(0, 0, 0, 0);
        row->setSpacing(10);
        marker = new Marker(line);
        Accessibility::oneElement(line); // the marker is not read; the line's label says it all
        auto* texts = new QVBoxLayout;
        texts->setSpacing(1);
        title = Controls::label(QString(), Brand::font(13, QFont::DemiBold), Brand::primaryText, line);
        detail = Controls::label(QString(), Brand::font(12), Brand::secondary, line, true);
        texts->addWidget(title);
        texts->addWidget(detail);
        row->addWidget(marker, 0, Qt::AlignVCenter);
        row->addLayout(texts, 1);
        column->addWidget(line);

        help = new QWidget(this);
        auto* indent = new QHBoxLayout(help);
        indent->setContentsMargins(32, 0, 0, 0);
        auto* helpColumn = new QVBoxLayout;
        helpColumn->setSpacing(8);
        indent->addLayout(helpColumn);
        helpText = Controls::label(QString(), Brand::font(12), Brand::primaryText, help, true);
        helpState = Controls::label(QString(), Brand::font(12), Brand::secondary, help, true);
        engines = new QWidget(help);
        engineLines = new QVBoxLayout(engines);
        engineLines->setContentsMargins(0, 0, 0, 0);
        engineLines->setSpacing(6);
        note = Controls::label(QString(), Brand::font(12), Brand::secondary, help, true);
        regularButton = actionButton(false, help);
        prominentButton = actionButton(true, help);
        auto* buttons = new QHBoxLayout;
        buttons->addWidget(regularButton);
        buttons->addWidget(prominentButton);
        buttons->addStretch(1);
        helpColumn->addWidget(helpText);
        helpColumn->addWidget(helpState);
        helpColumn->addWidget(engines);
        helpColumn->addWidget(note);
        helpColumn->addLayout(buttons);
        column->addWidget(help);
        for (QPushButton* button : {regularButton, prominentButton})
            QObject::connect(button, &QPushButton::clicked, page, [this, page] { page->act(action); });
    }

    void set(const StartModel::StepRow& step, const std::optional<StartModel::Help>& current) {
        marker->set(step.marker, step.number);
        Controls::setText(title, step.title);
        const bool active = step.marker != StartModel::Marker::later;
        Controls::setColor(title, active ? Brand::primaryText : Brand::secondary);
        Controls::showIf(detail, step.detail.has_value());
        if (step.detail)
            Controls::setText(detail, *step.detail);
        // Marker and texts read as one element; the marker itself is not announced.
        line->setAccessibleName(step.accessibleLabel);
        const bool isCurrent = step.marker == StartModel::Marker::current;
        if (isCurrent)
            setLook(Brand::controlBackground, Brand::accent, 1.5);
        else
            setLook(Brand::controlBackground, Brand::separator, 0.5);

        const bool showsHelp = current && current->step == step.step;
        Controls::showIf(help, showsHelp);
        if (!showsHelp)
            return;
        const StartModel::Help& h = *current;
        action = h.action;
        Controls::setText(helpText, h.text);
        Controls::showIf(helpState, h.state.has_value());
        if (h.state)
            Controls::setText(helpState, *h.state);
        renderEngines(h.engines);
        Controls::showIf(note, h.note.has_value());
        if (h.note)
            Controls::setText(note, *h.note);
        const bool hasAction = h.action != StartModel::Action::none;
        Controls::showIf(regularButton, hasAction && !h.prominent);
        Controls::showIf(prominentButton, hasAction && h.prominent);
        QPushButton* shown = h.prominent ? prominentButton : regularButton;
        if (shown->text() != h.actionTitle)
            shown->setText(h.actionTitle);
        shown->setEnabled(h.actionEnabled);
    }

    void renderEngines(const QList<StartModel::EngineLine>& list) {
        Controls::showIf(engines, !list.isEmpty());
        while (engineRows.size() < list.size()) {
            auto* row = new QWidget(engines);
            auto* layout = new QHBoxLayout(row);
            layout->setContentsMargins(0, 0, 0, 0);
            layout->setSpacing(8);
            auto* dot = new StatusDot(row);
            auto* name = Controls::label(QString(), Brand::font(13, QFont::Medium), Brand::primaryText, row);
            name->setFixedWidth(92);
            auto* summary = new ElidedLabel(QString(), row);
            summary->setElideMode(Qt::ElideRight);
            summary->setFont(Brand::font(12));
            summary->setColor(Brand::secondary);
            layout->addWidget(dot, 0, Qt::AlignVCenter);
            layout->addWidget(name);
            layout->addWidget(summary, 1);
            engineLines->addWidget(row);
            engineRows << row;
        }
        while (engineRows.size() > list.size())
            delete engineRows.takeLast();
        for (qsizetype i = 0; i < list.size(); ++i) {
            QWidget* row = engineRows[i];
            row->findChild<StatusDot*>()->setColor(
                list[i].usable ? Brand::green : Brand::withOpacity(Brand::secondary, 0.5));
            Controls::setText(row->findChild<QLabel*>(), list[i].title);
            row->findChild<ElidedLabel*>()->setText(list[i].summary);
        }
    }

    QWidget* line;
    Marker* marker;
    QLabel* title;
    QLabel* detail;
    QWidget* help;
    QLabel* helpText;
    QLabel* helpState;
    QWidget* engines;
    QVBoxLayout* engineLines;
    QList<QWidget*> engineRows;
    QLabel* note;
    QPushButton* regularButton;
    QPushButton* prominentButton;
    StartModel::Action action = StartModel::Action::none;
};

// The download page's QR code: 84 × 84 on white with a 4-point margin, scaled without smoothing.
class StartView::QrView : public QWidget {
public:
    explicit QrView(QWidget* parent) : QWidget(parent), code_(QrCode::image(StartProgress::downloadPage)) {
        setFixedSize(92, 92);
        setAccessibleName(StartTexts::qrLabel);
        setVisible(!code_.isNull());
    }
    bool hasCode() const { return !code_.isNull(); }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        QPainterPath shape;
        shape.addRoundedRect(QRectF(rect()), 6, 6);
        painter.setClipPath(shape);
        painter.fillRect(rect(), Qt::white);
        painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
        painter.drawImage(QRect(4, 4, 84, 84), code_);
    }

private:
    QImage code_;
};

StartView::StartView(ConnectorController& controller, WindowState& window, QWidget* parent)
    : QWidget(parent), controller_(controller) {
    Q_UNUSED(window);
    auto* page = new QVBoxLayout(this);
    page->setContentsMargins(0, 0, 0, 0);
    page->setSpacing(10);

    // 1. Introduction: two runs of one wrapping text.
    auto* intro = new QLabel(this);
    intro->setFont(Brand::font(13));
    intro->setWordWrap(true);
    intro->setTextFormat(Qt::RichText);
    intro->setText(
        QStringLiteral("<span style=\"font-weight:600\">%1</span><span style=\"color:%2\">%3</span>")
            .arg(StartTexts::introStrong.toHtmlEscaped(), Brand::secondary.name(),
                 StartTexts::introRest.toHtmlEscaped()));
    intro->setAccessibleName(StartTexts::introStrong + StartTexts::introRest);
    page->addWidget(intro);

    // 2. Diagram.
    auto* diagram = new QHBoxLayout;
    diagram->setSpacing(6);
    for (int i = 0; i < 3; ++i) {
        if (i > 0)
            diagram->addWidget(new SymbolView(QStringLiteral("arrow.right"), Symbols::sizeForFont(11),
                                              Brand::secondary, this),
                               0, Qt::AlignVCenter);
        auto* node = new NodeView(this);
        nodes_ << node;
        diagram->addWidget(node, 1);
    }
    page->addLayout(diagram);

    // 3. Steps.
    for (int i = 0; i < 3; ++i) {
        auto* step = new StepView(this, this);
        steps_ << step;
        page->addWidget(step);
    }

    // 4. Completion.
    auto* complete = new Panel(this);
    complete->setLook(Brand::withOpacity(Brand::accent, 0.14), Qt::transparent, 0);
    auto* completeColumn = new QVBoxLayout(complete);
    completeColumn->setContentsMargins(14, 14, 14, 14);
    completeColumn->setSpacing(8);
    completeColumn->addWidget(Controls::label(StartTexts::doneTitle, Brand::font(14, QFont::DemiBold),
                                              Brand::primaryText, complete));
    completeColumn->addWidget(
        Controls::label(StartTexts::doneText, Brand::font(12), Brand::primaryText, complete, true));
    auto* openButton = Controls::button(StartTexts::openSenvik, Controls::ButtonStyle::prominent, complete);
    auto* openRow = new QHBoxLayout;
    openRow->addWidget(openButton);
    openRow->addStretch(1);
    completeColumn->addLayout(openRow);
    connect(openButton, &QPushButton::clicked, this, [this] { act(StartModel::Action::openSenvik); });
    complete_ = complete;
    page->addWidget(complete);

    // 5. Phone panel.
    auto* phone = new Panel(this);
    auto* phoneRow = new QHBoxLayout(phone);
    phoneRow->setContentsMargins(14, 14, 14, 14);
    phoneRow->setSpacing(14);
    qr_ = new QrView(phone);
    if (qr_->hasCode())
        phoneRow->addWidget(qr_, 0, Qt::AlignTop);
    auto* phoneTexts = new QVBoxLayout;
    phoneTexts->setSpacing(4);
    phoneTexts->addWidget(
        Controls::label(StartTexts::phoneTitle, Brand::font(13, QFont::DemiBold), Brand::primaryText, phone));
    phoneTexts->addWidget(
        Controls::label(StartTexts::phoneText, Brand::font(12), Brand::secondary, phone, true));
    phoneTexts->addStretch(1);
    phoneRow->addLayout(phoneTexts, 1);
    phone_ = phone;
    page->addWidget(phone);

    connect(&controller_, &ConnectorController::changed, this, &StartView::render);
    render();
}

void StartView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    recorded_.reset();
    render();
}

void StartView::render() {
    if (rendered_ && !isVisible())
        return;
    const StartInput input = StartInput::of(controller_);
    // Completion is recorded when the page appears and whenever the progress changes while it is shown.
    if (isVisible() && recorded_ != input.progress) {
        recorded_ = input.progress;
        input.progress.rememberIfComplete();
    }
    StartModel next = StartModel::from(input);
    if (rendered_ && next == model_)
        return;
    model_ = std::move(next);
    rendered_ = true;
    for (qsizetype i = 0; i < nodes_.size() && i < model_.nodes.size(); ++i)
        nodes_[i]->set(model_.nodes[i]);
    for (qsizetype i = 0; i < steps_.size() && i < model_.steps.size(); ++i)
        steps_[i]->set(model_.steps[i], model_.help);
    Controls::showIf(complete_, model_.complete);
}

void StartView::act(StartModel::Action action) {
    switch (action) {
    case StartModel::Action::none:
        return;
    case StartModel::Action::findAgain:
        Async::spawn(controller_.cliAction(QStringLiteral("cli-check"), std::nullopt, true), "tool check");
        return;
    case StartModel::Action::openDownloadPage:
        QDesktopServices::openUrl(QUrl(StartProgress::downloadPage));
        return;
    case StartModel::Action::openSenvik:
        Async::spawn(controller_.openSenvik(), "open Orvane");
        return;
    }
}

QWidget* StartView::qrCode() const {
    return qr_;
}
