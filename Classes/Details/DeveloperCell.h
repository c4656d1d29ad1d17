#pragma once
// The developer card of the package details page: the developer's avatar,
// a small title and the name, on a clear background. Clicks go to the card's
// gallery (a click opens the developer's contact card).
#include <QLabel>
#include <QWidget>

class DeveloperCell : public QWidget {
    Q_OBJECT
public:
    static constexpr int kHeight = 80;
    explicit DeveloperCell(QWidget* parent = nullptr);

    QLabel* developerIconView() const { return developerIconView_; }
    QLabel* developerTitle() const { return developerTitle_; }
    QLabel* developerNameLbl() const { return developerNameLbl_; }

    // The avatar clipped to a corner radius of 0.2237 times its height.
    void setAvatar(const QImage& avatar);

private:
    QLabel* developerIconView_;
    QLabel* developerTitle_;
    QLabel* developerNameLbl_;
};
