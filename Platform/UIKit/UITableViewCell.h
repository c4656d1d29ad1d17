#pragma once
// One row of a UITableView. Subclasses put their own widgets into
// contentView() (by code or with a Designer form: ui.setupUi(contentView()));
// the default cell offers textLabel() and detailTextLabel(). Cells are reused:
// prepareForReuse() runs before a cell is handed out again.
#include <QColor>
#include <QLabel>
#include <QPointer>
#include <QWidget>

class UITableView;

class UITableViewCell : public QWidget {
    Q_OBJECT
public:
    enum class Accessory { None, DisclosureIndicator, Checkmark };
    enum class SelectionStyle { Default, None };

    explicit UITableViewCell(const QString& reuseIdentifier = {}, QWidget* parent = nullptr);

    QString reuseIdentifier() const { return reuseIdentifier_; }
    QWidget* contentView() const { return contentView_; }
    QLabel* textLabel();
    QLabel* detailTextLabel();

    void setAccessoryType(Accessory a);
    Accessory accessoryType() const { return accessory_; }
    void setSelectionStyle(SelectionStyle s) { selectionStyle_ = s; }
    SelectionStyle selectionStyle() const { return selectionStyle_; }
    void setSeparatorHidden(bool hidden);
    bool isSeparatorHidden() const { return separatorHidden_; }
    void setSeparatorInset(int left) { separatorInset_ = left; update(); }
    void setSeparatorTrailingInset(int right) { separatorTrailingInset_ = right; update(); }
    int separatorTrailingInset() const { return separatorTrailingInset_; }
    // An invalid colour paints the palette's base colour; transparent paints nothing.
    void setBackgroundColor(const QColor& c);
    QColor backgroundColor() const { return background_; }
    void setSelectedBackgroundColor(const QColor& c) { selectedBackground_ = c; update(); }
    void setAccessoryColor(const QColor& c) { accessoryColor_ = c; update(); }

    bool isSelected() const { return selected_; }
    void setSelected(bool s, bool animated = false);
    bool isHighlighted() const { return highlighted_; }
    void setHighlighted(bool h);
    // The highlighted row the keys move, in a table that has the focus: drawn with a ring.
    bool isKeyboardRow() const;

    virtual void prepareForReuse() {}
    UITableView* tableView() const { return table_; }

protected:
    void paintEvent(QPaintEvent*) override;
    void mousePressEvent(QMouseEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void contextMenuEvent(QContextMenuEvent* e) override;

private:
    friend class UITableView;
    void ensureDefaultLabels();
    QString reuseIdentifier_;
    QWidget* contentView_;
    QLabel* textLabel_ = nullptr;
    QLabel* detailLabel_ = nullptr;
    Accessory accessory_ = Accessory::None;
    SelectionStyle selectionStyle_ = SelectionStyle::Default;
    bool separatorHidden_ = false;
    int separatorInset_ = 16;
    int separatorTrailingInset_ = 0;
    QColor background_, selectedBackground_, accessoryColor_;
    bool selected_ = false;
    bool highlighted_ = false;
    QPointer<UITableView> table_;
    QPoint pressPos_;
    bool pressed_ = false;
    bool swiping_ = false;
};
