#include "DiagnosticsModel.h"

#include "ConnectorController.h"
#include "Diagnostics.h"

DiagnosticsModel::Row DiagnosticsModel::row(const DiagnosticCheck& check) {
    Row row{check.id, {}, Tone::green, check.title, check.detail};
    switch (check.level) {
    case DiagnosticCheck::Level::pass:
        row.symbol = QStringLiteral("checkmark.circle.fill");
        row.tone = Tone::green;
        break;
    case DiagnosticCheck::Level::warn:
        row.symbol = QStringLiteral("exclamationmark.triangle.fill");
        row.tone = Tone::orange;
        break;
    case DiagnosticCheck::Level::fail:
        row.symbol = QStringLiteral("xmark.octagon.fill");
        row.tone = Tone::red;
        break;
    }
    return row;
}

DiagnosticsModel DiagnosticsModel::from(const ConnectorController& controller,
                                        const QList<DiagnosticCheck>& checks, bool copied) {
    DiagnosticsModel model;
    for (const DiagnosticCheck& check : checks)
        model.rows << row(check);
    model.showsStartBridge = controller.background().is<Background::Enabled>() && !controller.running();
    model.copyTitle = copied ? copiedTitle : copy;
    if (const std::optional<QDateTime>& last = controller.lastRefresh())
        model.lastCheck = QStringLiteral("上次检查 ") + Diagnostics::standardTime(*last);
    return model;
}
