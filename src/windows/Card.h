#pragma once

#include <QWidget>

class QLabel;
class QVBoxLayout;

// A titled group on a page: the title (11 semibold, secondary) above the content, padded 14, on the control
// background in a rounded rectangle (radius 10) outlined with the separator colour. Takes the full width.
class Card : public QWidget {
    Q_OBJECT

public:
    // Without `content`, the card holds an empty widget with a vertical layout (no margins, spacing 8) that
    // callers fill through content()->layout().
    explicit Card(const QString& title, QWidget* content = nullptr, QWidget* parent = nullptr);

    QString title() const;
    void setTitle(const QString& title);

    QWidget* content() const { return content_; }
    // Replaces the content; the old one is deleted.
    void setContent(QWidget* content);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QLabel* title_;
    QVBoxLayout* layout_;
    QWidget* content_ = nullptr;
};
