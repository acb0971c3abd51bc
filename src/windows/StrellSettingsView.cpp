#include "StrellSettingsView.h"

#include "Async.h"
#include "Brand.h"
#include "ConnectorController.h"
#include "Controls.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

namespace {

QLabel* label(QWidget* parent, int size, QFont::Weight weight = QFont::Normal) {
    auto* label = new QLabel(parent);
    label->setWordWrap(true);
    label->setTextFormat(Qt::PlainText);
    label->setFont(Brand::font(size, weight));
    return label;
}

QLabel* fieldTitle(QWidget* parent, const QString& text) {
    auto* title = new QLabel(text, parent);
    title->setFont(Brand::font(13));
    return title;
}

// Coloured texts keep their colour, dimmed, while the card rests.
void paint(QLabel* label, const QColor& color) {
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, color);
    palette.setColor(QPalette::Disabled, QPalette::WindowText, Brand::withOpacity(color, 0.5));
    label->setPalette(palette);
}

QLabel* secondaryLabel(QWidget* parent, int size, const QString& text = QString()) {
    QLabel* l = label(parent, size);
    paint(l, Brand::secondary);
    l->setText(text);
    return l;
}

// The two segments of the mode picker, joined, the chosen one in the accent colour.
QString segmentStyle(bool right) {
    const auto rgba = [](const QColor& c) {
        return QStringLiteral("rgba(%1,%2,%3,%4)").arg(c.red()).arg(c.green()).arg(c.blue()).arg(c.alphaF());
    };
    const QString corner = right ? QStringLiteral("right") : QStringLiteral("left");
    return QStringLiteral(
               "QPushButton { font-size: 12px; padding: 4px 12px; background: %1; color: %2;"
               " border: 1px solid %3; border-top-%4-radius: 6px; border-bottom-%4-radius: 6px; %5 }"
               "QPushButton:checked { background: %6; border-color: %6; color: white; }"
               "QPushButton:disabled { color: %7; }"
               "QPushButton:checked:disabled { background: %8; color: white; }")
        .arg(rgba(Brand::controlBackground), rgba(Brand::primaryText),
             rgba(Brand::withOpacity(Qt::black, 0.2)), corner,
             right ? QStringLiteral("border-left: none;") : QString(), rgba(Brand::accent),
             rgba(Brand::withOpacity(Brand::primaryText, 0.35)),
             rgba(Brand::withOpacity(Brand::accent, 0.5)));
}

QCoro::Task<void> discard(QCoro::Task<bool> task) {
    co_await std::move(task);
}

} // namespace

StrellSettingsView::StrellSettingsView(ConnectorController& controller, QWidget* parent)
    : QWidget(parent), controller_(controller) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(10);

    absent_ = secondaryLabel(this, 12);
    layout->addWidget(absent_);

    column_ = new QWidget(this);
    auto* column = new QVBoxLayout(column_);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(10);
    layout->addWidget(column_);

    current_ = label(column_, 12, QFont::Medium);
    current_->setObjectName(QStringLiteral("strell.current"));
    column->addWidget(current_);

    // "连接方式": two segments, the label kept for screen readers only.
    auto* modeBox = new QWidget(column_);
    modeBox->setObjectName(QStringLiteral("strell.mode"));
    modeBox->setAccessibleName(QStringLiteral("连接方式"));
    auto* modeRow = new QHBoxLayout(modeBox);
    modeRow->setContentsMargins(0, 0, 0, 0);
    modeRow->setSpacing(0);
    mode_ = new QButtonGroup(modeBox);
    mode_->setExclusive(true);
    for (const bool gatewayOn : {false, true}) {
        auto* segment = new QPushButton(StrellSettingsModel::modeTitle(gatewayOn), modeBox);
        segment->setCheckable(true);
        segment->setStyleSheet(segmentStyle(gatewayOn));
        segment->setObjectName(gatewayOn ? QStringLiteral("strell.mode.strell")
                                         : QStringLiteral("strell.mode.direct"));
        mode_->addButton(segment, gatewayOn ? 1 : 0);
        modeRow->addWidget(segment);
    }
    modeRow->addStretch(1);
    connect(mode_, &QButtonGroup::idClicked, this, [this](int id) {
        model_.setEnabled(id == 1);
        render();
    });
    column->addWidget(modeBox);

    gateway_ = new QWidget(column_);
    auto* gatewayColumn = new QVBoxLayout(gateway_);
    gatewayColumn->setContentsMargins(0, 0, 0, 0);
    gatewayColumn->setSpacing(10);
    auto* form = new QFormLayout();
    form->setContentsMargins(0, 0, 0, 0);
    form->setHorizontalSpacing(10);
    form->setVerticalSpacing(10);
    form->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);

    role_ = new QComboBox(gateway_);
    role_->setObjectName(QStringLiteral("strell.role"));
    role_->setAccessibleName(QStringLiteral("验证岗位"));
    role_->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    connect(role_, &QComboBox::activated, this, [this](int index) {
        if (index >= 0 && index < shownOptions_.size())
            model_.setRole(shownOptions_[index].tag);
        render();
    });
    QLabel* roleTitle = fieldTitle(gateway_, QStringLiteral("验证岗位"));
    roleTitle->setBuddy(role_);
    form->addRow(roleTitle, role_);
    role_->setFont(Brand::font(13));
    roleRow_ = roleTitle;

    noRoles_ = secondaryLabel(gateway_, 12, StrellSettingsModel::noRolesText());
    form->addRow(noRoles_);

    origin_ = Controls::field(gateway_);
    origin_->setObjectName(QStringLiteral("strell.origin"));
    origin_->setPlaceholderText(QStringLiteral("http://127.0.0.1:3425"));
    origin_->setAccessibleName(QStringLiteral("本机网关地址"));
    connect(origin_, &QLineEdit::textEdited, this, [this](const QString& text) {
        model_.setOrigin(text);
        render();
    });
    form->addRow(fieldTitle(gateway_, QStringLiteral("本机网关")), origin_);

    modelField_ = Controls::field(gateway_);
    modelField_->setObjectName(QStringLiteral("strell.model"));
    modelField_->setPlaceholderText(QStringLiteral("provider/model"));
    modelField_->setAccessibleName(QStringLiteral("固定模型"));
    connect(modelField_, &QLineEdit::textEdited, this, [this](const QString& text) {
        model_.setModel(text);
        render();
    });
    form->addRow(fieldTitle(gateway_, QStringLiteral("固定模型")), modelField_);
    gatewayColumn->addLayout(form);
    gatewayColumn->addWidget(secondaryLabel(gateway_, 11, StrellSettingsModel::gatewayNote()));
    column->addWidget(gateway_);

    column->addWidget(secondaryLabel(column_, 11, StrellSettingsModel::routeNote()));

    for (int i = 0; i < 3; ++i) {
        QLabel* warning = label(column_, 11);
        warning->setObjectName(QStringLiteral("strell.warning%1").arg(i));
        paint(warning, Brand::orange);
        column->addWidget(warning);
        warnings_.append(warning);
    }

    auto* buttons = new QHBoxLayout();
    buttons->setContentsMargins(0, 0, 0, 0);
    buttons->setSpacing(8);
    check_ = Controls::button(QStringLiteral("检查网关"), Controls::ButtonStyle::small, column_);
    check_->setObjectName(QStringLiteral("strell.check"));
    reload_ = Controls::button(QStringLiteral("重新载入"), Controls::ButtonStyle::small, column_);
    reload_->setObjectName(QStringLiteral("strell.reload"));
    save_ = Controls::button(QStringLiteral("保存设置"), Controls::ButtonStyle::small, column_);
    save_->setObjectName(QStringLiteral("strell.save"));
    for (QPushButton* button : {check_, reload_, save_})
        buttons->addWidget(button);
    buttons->addStretch(1);
    spinner_ = new Spinner(column_);
    buttons->addWidget(spinner_);
    column->addLayout(buttons);

    // Each action runs as its own task; the controller's busy flag disables the card until it is done.
    connect(check_, &QPushButton::clicked, this, [this] {
        QCoro::Task<bool> checking =
            controller_.strellAction(QStringLiteral("strell-check"), model_.draft(), model_.revision());
        Async::spawn(discard(std::move(checking)), "gateway check");
    });
    connect(reload_, &QPushButton::clicked, this, [this] {
        model_.reload(controller_.strell());
        render();
    });
    connect(save_, &QPushButton::clicked, this, &StrellSettingsView::askToSave);

    result_ = label(column_, 12);
    result_->setObjectName(QStringLiteral("strell.result"));
    result_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    column->addWidget(result_);

    connect(&controller_, &ConnectorController::changed, this, [this] {
        model_.follow(controller_.strell());
        render();
    });
    model_.follow(controller_.strell());
    render();
}

void StrellSettingsView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    model_.appear(controller_.strell());
    render();
}

void StrellSettingsView::render() {
    const StrellSettingsModel::View v = model_.view(StrellSettingsModel::Inputs::from(controller_));
    absent_->setVisible(!v.hasStatus);
    absent_->setText(v.absentLine);
    column_->setVisible(v.hasStatus);
    if (!v.hasStatus)
        return;

    column_->setEnabled(!v.disabled);
    current_->setText(v.current);
    mode_->button(v.gatewayOn ? 1 : 0)->setChecked(true);

    gateway_->setVisible(v.showsGatewayFields);
    role_->setVisible(v.hasRoles);
    roleRow_->setVisible(v.hasRoles);
    noRoles_->setVisible(!v.hasRoles);
    // Rebuilt only when the choices change, so an open list is not pulled from under the user.
    if (v.roleOptions != shownOptions_) {
        const QSignalBlocker blocker(role_);
        role_->clear();
        for (const auto& option : v.roleOptions)
            role_->addItem(option.title);
        shownOptions_ = v.roleOptions;
    }
    if (role_->currentIndex() != v.roleIndex) {
        const QSignalBlocker blocker(role_);
        role_->setCurrentIndex(v.roleIndex);
    }
    // Set only when different, so typing keeps its cursor.
    if (origin_->text() != v.origin)
        origin_->setText(v.origin);
    if (modelField_->text() != v.model)
        modelField_->setText(v.model);

    for (int i = 0; i < warnings_.size(); ++i) {
        warnings_[i]->setVisible(i < v.warnings.size());
        if (i < v.warnings.size())
            warnings_[i]->setText(v.warnings[i]);
    }

    check_->setEnabled(v.checkEnabled);
    reload_->setEnabled(v.reloadEnabled);
    save_->setEnabled(v.saveEnabled);
    spinner_->setVisible(v.spinner);

    result_->setVisible(v.result.has_value());
    if (v.result) {
        result_->setText(v.result->text);
        paint(result_, v.result->orange ? Brand::orange : Brand::primaryText);
    }
}

void StrellSettingsView::askToSave() {
    model_.askToSave();
    if (confirmation_)
        return;
    auto* box = new QMessageBox(this);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setObjectName(QStringLiteral("strell.confirmation"));
    box->setWindowModality(Qt::WindowModal);
    box->setIcon(QMessageBox::NoIcon);
    box->setWindowTitle(StrellSettingsModel::confirmationTitle());
    box->setText(StrellSettingsModel::confirmationTitle());
    box->setInformativeText(model_.confirmationMessage());
    QPushButton* confirm = box->addButton(QStringLiteral("保存"), QMessageBox::AcceptRole);
    QPushButton* cancel = box->addButton(QStringLiteral("取消"), QMessageBox::RejectRole);
    box->setDefaultButton(confirm);
    box->setEscapeButton(cancel);
    // Read when the alert closes: the draft and revision the user confirmed are the ones saved.
    connect(box, &QMessageBox::finished, this, [this, box, confirm] {
        const bool confirmed = box->clickedButton() == confirm;
        model_.closeConfirmation();
        if (confirmed)
            Async::spawn(save(model_.draft(), model_.revision()), "gateway save");
        render();
    });
    confirmation_ = box;
    box->open();
}

QCoro::Task<void> StrellSettingsView::save(StrellDraft draft, qint64 revision) {
    const QPointer<StrellSettingsView> self(this);
    QCoro::Task<bool> saving = controller_.strellAction(QStringLiteral("strell-configure"), draft, revision);
    const bool saved = co_await std::move(saving);
    // A failed save keeps the edit for another try; a successful one takes the bridge's new setting.
    if (self && saved) {
        model_.reload(controller_.strell());
        render();
    }
}
