#pragma once
// The developer or repository row of the search results and of the followed
// developers list: an icon, a name, a line under it and, for developers, a
// follow button. Layout: Resources/SearchCell.ui; rows are 56 px high and the
// icon has corners of 8.948 px.
//
// The follow button follows or unfollows `developerName` (ZMRDevelopers),
// and once the follow mark is stored shows "Followed" or "Unfollowed" for a
// moment and tells the delegate, so that a list redrawn then reads the new
// state. A mark the database refused is told in its alert instead, and the
// button shows the stored state again.
#include <QLabel>
#include <QPixmap>
#include <QPointer>
#include <QToolButton>
#include <functional>
#include <memory>
#include <string>

#include "UIKit/UITableView.h"
#include "UIKit/UITableViewCell.h"
#include "UIKit/WeakDelegate.h"

class UIViewController;

namespace Ui {
class SearchCell;
}

class SearchCellDelegate {
public:
    virtual ~SearchCellDelegate() = default;
    // A follow or unfollow of the row's developer has been stored.
    virtual void followStateChanged() = 0;
};

class SearchCell : public UITableViewCell {
    Q_OBJECT
public:
    static constexpr int kRowHeight = 56;
    static constexpr double kIconCornerRadius = 8.948;
    // How long the confirmation stays once it is on screen.
    static constexpr double kConfirmationSeconds = 0.1;
    static inline const QString kReuseIdentifier = QStringLiteral("searchCell");

    explicit SearchCell(const QString& reuseIdentifier = kReuseIdentifier, QWidget* parent = nullptr);
    ~SearchCell() override;

    // Outlets.
    QLabel* iconView() const;
    QLabel* nameLbl() const;
    QLabel* subinfoLbl() const;
    QToolButton* followBtn() const;

    const std::string& developerName() const { return developerName_; }
    void setDeveloperName(const std::string& name) { developerName_ = name; }
    // Held weakly: a delegate that is a QObject is not called once it is gone.
    void setDelegate(SearchCellDelegate* delegate);
    SearchCellDelegate* delegate() const;

    // The button's image: "unfollow" for a followed developer, else "follow".
    void setFollowButtonFollowed(bool followed);
    bool followButtonShowsFollowed() const { return showsFollowed_; }
    // The picture scaled to fit the icon, with the row's rounded corners.
    void setIcon(const QPixmap& picture);

    // A row that opens something (a repository, a credited person): the
    // picture, the name in `nameColor`, the line under it, no follow button, a
    // disclosure indicator, a clear background and no separator under the
    // table's last row.
    void showEntry(UITableView* table, IndexPath indexPath, const QPixmap& icon, const std::string& name,
                   const std::string& line, const QColor& nameColor);

    // The follow button's action.
    void changeFollowState();

    // Stores a follow change of `name` on a background queue (the follow
    // buttons of the row and of the developer pages). Once it is stored,
    // `done(true)`, then the confirmation titled `confirmation` over the top
    // of `anchor`'s window; a change the database refused is told in its
    // alert and `done(false)` lets the caller show the stored state again.
    static void storeFollow(const std::string& name, bool follow, QWidget* anchor, const QString& confirmation,
                            std::function<void(bool stored)> done);

    // The follow confirmation: an alert with only `title`, presented over
    // `presenter` and taken away kConfirmationSeconds after it is on screen.
    static void presentFollowConfirmation(UIViewController* presenter, const QString& title);

    void prepareForReuse() override;

private:
    std::unique_ptr<Ui::SearchCell> ui_;
    std::string developerName_;
    WeakDelegate<SearchCellDelegate> delegate_;
    bool showsFollowed_ = false;
};
