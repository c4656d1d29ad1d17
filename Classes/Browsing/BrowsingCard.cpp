#include "Browsing/BrowsingCard.h"

BrowsingCard BrowsingCard::make(QVBoxLayout* column, const QString& titleText, const QString& name) {
    BrowsingCard c;
    c.card = new CardView;
    c.card->setObjectName(name + "Card");
    c.card->setContentsMargins(0, 0, 0, 0);
    auto* inner = new QVBoxLayout(c.card);
    inner->setContentsMargins(0, kInnerTop, 0, kInnerBottom);
    inner->setSpacing(kTitleGap);
    c.head = new QHBoxLayout;
    c.head->setContentsMargins(16, 0, 16, 0);
    c.title = new QLabel(titleText);
    c.title->setObjectName(name + "Title");
    c.title->setFixedHeight(kTitleHeight);
    QFont f = c.title->font();
    f.setPointSizeF(f.pointSizeF() * 1.35);
    f.setWeight(QFont::Bold);
    c.title->setFont(f);
    c.head->addWidget(c.title, 1);
    inner->addLayout(c.head);
    c.table = new UITableView(UITableView::Style::Plain);
    c.table->setObjectName(name + "TableView");
    c.table->setSizesToContent(true);
    c.table->setFixedHeight(0);
    inner->addWidget(c.table);
    column->addWidget(c.card);
    return c;
}

QVBoxLayout* BrowsingCard::makeColumn(QWidget* screen, QScrollArea*& scrollView, const QString& name) {
    auto* outer = qobject_cast<QVBoxLayout*>(screen->layout());
    if (!outer) {
        outer = new QVBoxLayout(screen);
        outer->setContentsMargins(0, 0, 0, 0);
        outer->setSpacing(0);
    }
    scrollView = new QScrollArea;
    scrollView->setObjectName(name);
    scrollView->setWidgetResizable(true);
    scrollView->setFrameShape(QFrame::NoFrame);
    scrollView->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    outer->addWidget(scrollView);
    auto* page = new QWidget;
    page->setObjectName(name + "Page");
    auto* column = new QVBoxLayout(page);
    column->setContentsMargins(16, 20, 16, 24);
    column->setSpacing(30);
    scrollView->setWidget(page);
    scrollView->viewport()->setAutoFillBackground(false);
    page->setAutoFillBackground(false);
    return column;
}

void BrowsingCard::applyPalette(const ZMPalette& palette) const {
    card->setCardColor(palette.cellBackgroundColor());
    card->setShadowColor(palette.shadowColor());
    QPalette tp = title->palette();
    tp.setColor(QPalette::WindowText, palette.primaryTextColor());
    title->setPalette(tp);
    table->setBackgroundColor(Qt::transparent);
    table->setSeparatorColor(palette.separatorColor());
}
