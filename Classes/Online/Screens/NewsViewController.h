#pragma once
// The maker's news: a list fetched anew each time it is about to be shown
// (the rows are the latest fetch's items, replacing what was shown; an older
// fetch that answers late is dropped), 134 px rows of NewsCell; a tap
// presents the item's page (NewsDetailsViewController). Opening the list
// clears the application's badge. A failed fetch shows "News Retrieval".
#include <QLabel>
#include <QPointer>
#include <vector>

#include "Services/ZMNews.h"
#include "UIKit/UITableView.h"
#include "UIKit/UITableViewCell.h"
#include "ZMErrorDelegate.h"
#include "ZMPalettedViewController.h"

// One row of the news list: title, "by <author>", date and content.
class NewsCell : public UITableViewCell {
    Q_OBJECT
public:
    explicit NewsCell(const QString& reuseIdentifier = "cell", QWidget* parent = nullptr);
    QLabel* newsTitleLbl() const { return title_; }
    QLabel* newsAuthorLbl() const { return author_; }
    QLabel* newsDateLbl() const { return date_; }
    QLabel* newsContentLbl() const { return content_; }

private:
    QLabel* title_;
    QLabel* author_;
    QLabel* date_;
    QLabel* content_;
};

class NewsViewController : public ZMPalettedViewController,
                           public UITableViewDataSource,
                           public UITableViewDelegate,
                           public ZMErrorDelegate {
    Q_OBJECT
public:
    static constexpr int kRowHeight = 134;

    explicit NewsViewController(QWidget* parent = nullptr);
    ~NewsViewController() override;

    const std::vector<ZMNews>& newsArray() const { return news_; }
    // Fetches done (answers applied or shown as an error).
    int fetchesAnswered() const { return answered_; }
    UITableView* newsTableView() const { return table_; }
    // The line shown instead of the news when the online service is not configured.
    QLabel* onlineServiceNotice() const { return onlineServiceNotice_; }
    UIViewController* lastPresentedViewController() const { return lastPresented_; }

    int numberOfRows(UITableView*, int) override { return static_cast<int>(news_.size()); }
    UITableViewCell* cellForRow(UITableView* table, IndexPath indexPath) override;
    double heightForRow(UITableView*, IndexPath) override { return kRowHeight; }
    void didSelectRow(UITableView* table, IndexPath indexPath) override;

    void paletteDidChange(const ZMPalette& palette) override;

protected:
    void viewDidLoad() override;
    void viewWillAppear(bool animated) override;

private:
    void fetch();
    std::vector<ZMNews> news_;
    uint64_t generation_ = 0;
    int answered_ = 0;
    UITableView* table_ = nullptr;
    QLabel* onlineServiceNotice_ = nullptr;
    QPointer<UIViewController> lastPresented_;
};

// One news item, presented over the list: title, author, date, the banner
// ((width − 32) / 1.78 high, "default-banner.jpeg" when it cannot be had) and
// the content. Closed by its button or a swipe to the right.
class NewsDetailsViewController : public ZMPalettedViewController {
    Q_OBJECT
public:
    explicit NewsDetailsViewController(QWidget* parent = nullptr);
    void setNews(const ZMNews& news) { news_ = news; }
    const ZMNews& news() const { return news_; }
    void close();

    QLabel* titleLbl() const { return titleLbl_; }
    QLabel* authorLbl() const { return authorLbl_; }
    QLabel* dateLbl() const { return dateLbl_; }
    QLabel* newsContentLbl() const { return contentLbl_; }
    QLabel* imageView() const { return imageView_; }
    // Whether the banner (or its stand-in) has been put in place.
    bool bannerShown() const { return bannerShown_; }

    void paletteDidChange(const ZMPalette& palette) override;

protected:
    void viewDidLoad() override;
    void viewWillAppear(bool animated) override;

private:
    ZMNews news_;
    QLabel* titleLbl_ = nullptr;
    QLabel* authorLbl_ = nullptr;
    QLabel* dateLbl_ = nullptr;
    QLabel* contentLbl_ = nullptr;
    QLabel* imageView_ = nullptr;
    bool bannerShown_ = false;
};
