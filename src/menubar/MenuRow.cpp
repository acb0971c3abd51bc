#include "MenuRow.h"

QString MenuRow::kind() const {
    struct Visitor {
        QString operator()(const Style::Action& a) const {
            return a.stays ? QStringLiteral("stays") : QStringLiteral("action");
        }
        QString operator()(const Style::Title&) const { return QStringLiteral("title"); }
        QString operator()(const Style::Section&) const { return QStringLiteral("section"); }
        QString operator()(const Style::Separator&) const { return QStringLiteral("separator"); }
        QString operator()(const Style::Info&) const { return QStringLiteral("info"); }
        QString operator()(const Style::Note&) const { return QStringLiteral("note"); }
        // Drawn as a custom row like the actions that stay open, so the two swap without a rebuild.
        QString operator()(const Style::Progress&) const { return QStringLiteral("stays"); }
    };
    return std::visit(Visitor{}, style.value);
}

MenuRow MenuRow::separator(QString id) {
    MenuRow row;
    row.id = std::move(id);
    row.style = Style::Separator{};
    return row;
}
