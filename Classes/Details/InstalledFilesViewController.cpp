#include "Details/InstalledFilesViewController.h"

#include <QVBoxLayout>

#include "Browsing/BrowsingText.h"
#include "PackageCell.h"
#include "UIKit/UINavigationController.h"
#include "UIKit/UISwipeGesture.h"
#include "ZMStoreGuard.h"

InstalledFilesViewController::InstalledFilesViewController(QWidget* parent) : ZMPalettedViewController(parent) {
    setObjectName("InstalledFilesViewController");
}

InstalledFilesViewController::~InstalledFilesViewController() {
    if (table_) {
        table_->setDataSource(nullptr);
        table_->setDelegate(nullptr);
    }
}

InstalledFilesViewController::Row InstalledFilesViewController::row(const std::string& path) {
    const QString text = QString::fromStdString(path);
    const qsizetype parts = text.count('/') + 1;
    if (parts == 1) return {};
    if (parts == 2) return {0, text};
    // The last component as path rules give it: a trailing "/" does not count.
    QString trimmed = text;
    while (trimmed.size() > 1 && trimmed.endsWith('/')) trimmed.chop(1);
    return {static_cast<int>(parts - 2), "/" + trimmed.section('/', -1)};
}

void InstalledFilesViewController::viewDidLoad() {
    setOverrideLargeTitles(true);
    setTitle(BrowsingText::q("Installed Files"));
    auto package = ZMStoreGuard::record<ZMRPackage>("reading a package's files", packageIdentifier_);
    if (package) files_ = package->installedFiles;
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    table_ = new UITableView(UITableView::Style::Plain);
    table_->setObjectName("installedFilesTableView");
    layout->addWidget(table_);
    table_->setEstimatedRowHeight(kEstimatedRowHeight);
    table_->registerCell(kReuseIdentifier, [] { return new UITableViewCell(kReuseIdentifier); });
    table_->setDataSource(this);
    table_->setDelegate(this);
    UISwipeGesture::addRightSwipe(this, [this] {
        if (auto* nav = navigationController(); nav && nav->topViewController() == this && nav->viewControllers().size() > 1)
            nav->popViewController(true);
    });
}

void InstalledFilesViewController::viewWillAppear(bool) { table_->setBackgroundColor(Qt::transparent); }

UITableViewCell* InstalledFilesViewController::cellForRow(UITableView* table, IndexPath ip) {
    auto* cell = table->dequeueReusableCell(kReuseIdentifier);
    cell->setSelectionStyle(UITableViewCell::SelectionStyle::None);
    const ZMPalette colors = palette();
    cell->setBackgroundColor(colors.cellBackgroundColor());
    QLabel* label = cell->textLabel();
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    QFont font = label->font();
    font.setPixelSize(15);
    label->setFont(font);
    PackageRow::setTextColor(label, colors.primaryTextColor());
    const Row shown = ip.row >= 0 && ip.row < static_cast<int>(files_.size()) ? row(files_[ip.row]) : Row{};
    label->setIndent(shown.depth * kIndentPerLevel);
    label->setText(shown.text);
    return cell;
}

void InstalledFilesViewController::paletteDidChange(const ZMPalette& palette) {
    QPalette p = QWidget::palette();
    p.setColor(QPalette::Window, palette.backgroundColor());
    setPalette(p);
    setAutoFillBackground(true);
    if (table_) table_->reloadData();
}
