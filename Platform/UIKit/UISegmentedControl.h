#pragma once
// A row of mutually exclusive segments (buttons named "segment", styled by
// the application's style sheet), tinted with setTintColor.
#include <QButtonGroup>
#include <QStringList>
#include <QWidget>

class QToolButton;

class UISegmentedControl : public QWidget {
    Q_OBJECT
public:
    explicit UISegmentedControl(const QStringList& titles, QWidget* parent = nullptr);
    int selectedSegmentIndex() const;
    // From code: no valueChanged.
    void setSelectedSegmentIndex(int index);
    int numberOfSegments() const;
    QToolButton* segment(int index) const;
    void setTintColor(const QColor& tint, const QColor& selectedText);

signals:
    void valueChanged(int index);

private:
    QButtonGroup group_;
};
