#include "SessionHooksView.h"

#include "Brand.h"
#include "SessionHooksModel.h"

#include "Async.h"
#include "ConnectorController.h"

#include <QCheckBox>
#include <QLabel>
#include <QVBoxLayout>

namespace {

QLabel* wrappingLabel(QWidget* parent, int size, bool secondary, QFont::Weight weight = QFont::Normal) {
    auto* label = new QLabel(parent);
    label->setWordWrap(true); // long texts wrap over as many lines as needed, never cut off
    label->setFont(Brand::font(size, weight));
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    label->setTextFormat(Qt::PlainText);
    if (secondary) {
        QPalette palette = label->palette();
        palette.setColor(QPalette::WindowText, Brand::secondary);
        label->setPalette(palette);
    }
    return label;
}

// Enough lines for both tools, the two fixed lines and the bridge's note.
constexpr int maxLines = 5;

} // namespace

SessionHooksView::SessionHooksView(ConnectorController& controller, QWidget* parent)
    : QWidget(parent), controller_(controller) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(10);

    hint_ = wrappingLabel(this, 12, true);
    layout->addWidget(hint_);

    report_ = new QWidget(this);
    auto* column = new QVBoxLayout(report_);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(10);

    switch_ = new QCheckBox(SessionHooksModel::switchTitle(), report_);
    switch_->setFont(Brand::font(13));
    switch_->setObjectName(QStringLiteral("hooks.switch"));
    // clicked() comes only from the user, never from render() setting the bridge's value.
    connect(switch_, &QCheckBox::clicked, this,
            [this](bool on) { Async::spawn(controller_.setSessionHooks(on), "session hooks switch"); });
    column->addWidget(switch_);

    QLabel* explanation = wrappingLabel(report_, 12, true);
    explanation->setText(SessionHooksModel::explanation());
    column->addWidget(explanation);

    auto* block = new QWidget(report_);
    auto* blockLayout = new QVBoxLayout(block);
    blockLayout->setContentsMargins(0, 0, 0, 0);
    blockLayout->setSpacing(4);
    QLabel* heading = wrappingLabel(block, 11, true, QFont::DemiBold);
    heading->setText(SessionHooksModel::heading());
    blockLayout->addWidget(heading);
    for (int i = 0; i < maxLines; ++i) {
        QLabel* line = wrappingLabel(block, 12, false);
        line->setObjectName(QStringLiteral("hooks.line%1").arg(i));
        line->setTextInteractionFlags(Qt::TextSelectableByMouse); // paths are worth copying
        blockLayout->addWidget(line);
        lines_.append(line);
    }
    column->addWidget(block);

    message_ = wrappingLabel(report_, 12, true);
    message_->setObjectName(QStringLiteral("hooks.message"));
    column->addWidget(message_);

    layout->addWidget(report_);

    connect(&controller_, &ConnectorController::changed, this, &SessionHooksView::render);
    render();
}

void SessionHooksView::render() {
    const SessionHooksModel model = SessionHooksModel::from(controller_);
    hint_->setVisible(!model.supported);
    hint_->setText(model.hint);
    report_->setVisible(model.supported);
    if (!model.supported)
        return;

    switch_->setChecked(model.switchOn);
    switch_->setEnabled(model.switchEnabled);
    for (int i = 0; i < lines_.size(); ++i) {
        const bool shown = i < model.lines.size();
        if (shown && lines_[i]->text() != model.lines[i])
            lines_[i]->setText(model.lines[i]);
        lines_[i]->setVisible(shown);
    }
    message_->setVisible(model.message.has_value());
    if (model.message && message_->text() != *model.message)
        message_->setText(*model.message);
}
