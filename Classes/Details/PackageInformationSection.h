#pragma once
// The information and repository sections of the package details page: the
// installed-files button, the rows (developer, size, compatibility,
// dependencies, conflicts, post-install action, date), the developer's
// website and donate buttons, and the card of the package's repository.
// The page fills it from PackageInformationRows and lays it out:
//
//   installed        the installed-files button, the developer row below it;
//                    otherwise the developer row 30 below the title
//   info-JSON source the date row, the website separator and the donate
//                    button show; otherwise they collapse and the website
//                    button sits 10 below the post-install row
//   always           the beta row and the donate separator collapse
#include <QLabel>
#include <QPushButton>

class PackageInformationRows;
class ZMPalette;

class PackageInformationSection : public QWidget {
    Q_OBJECT
public:
    explicit PackageInformationSection(QWidget* parent = nullptr);

    void fill(const PackageInformationRows& rows, const QPixmap& repositoryIcon);
    void layoutFor(bool installed, bool infoJsonSource);
    void applyPalette(const ZMPalette& palette);

    QLabel* informationsTitle() const { return informationsTitle_; }
    QPushButton* installedFilesBtn() const { return installedFilesBtn_; }
    QWidget* developerRow() const { return developerRow_; }
    QLabel* developerNameLbl() const { return developerNameLbl_; }
    QLabel* packageSizeLbl() const { return packageSizeLbl_; }
    QLabel* compatibilityLbl() const { return compatibilityLbl_; }
    QLabel* packageCompatibilityLbl() const { return packageCompatibilityLbl_; }
    QLabel* packageDependenciesLbl() const { return packageDependenciesLbl_; }
    QLabel* packageConflictsLbl() const { return packageConflictsLbl_; }
    QLabel* packagePostInstallActionLbl() const { return packagePostInstallActionLbl_; }
    QWidget* dateRow() const { return dateRow_; }
    QLabel* packageDateLbl() const { return packageDateLbl_; }
    QWidget* developerWebsiteRow() const { return developerWebsiteRow_; }
    QPushButton* developerWebsiteBtn() const { return developerWebsiteBtn_; }
    QWidget* developerWebsiteSeparator() const { return developerWebsiteSeparator_; }
    QWidget* donateRow() const { return donateRow_; }
    QPushButton* donateBtn() const { return donateBtn_; }
    QWidget* donateSeparator() const { return donateSeparator_; }
    QWidget* betaRow() const { return betaRow_; }
    QWidget* informationsSeparator() const { return informationsSeparator_; }
    QLabel* repositoryTitle() const { return repositoryTitle_; }
    QLabel* repositoryIconImageView() const { return repositoryIconImageView_; }
    QLabel* repositoryNameLbl() const { return repositoryNameLbl_; }
    QLabel* repositoryDescriptionLbl() const { return repositoryDescriptionLbl_; }

signals:
    void installedFilesTapped();
    void websiteTapped();
    void donateTapped();

private:
    QLabel* informationsTitle_;
    QPushButton* installedFilesBtn_;
    QWidget* installedFilesRow_;
    QWidget* developerRow_;
    QLabel* developerNameLbl_;
    QLabel* packageSizeLbl_;
    QLabel* compatibilityLbl_;
    QLabel* packageCompatibilityLbl_;
    QString compatibilityTitle_;
    QLabel* packageDependenciesLbl_;
    QLabel* packageConflictsLbl_;
    QLabel* packagePostInstallActionLbl_;
    QWidget* dateRow_;
    QLabel* packageDateLbl_;
    QWidget* developerWebsiteRow_;
    QPushButton* developerWebsiteBtn_;
    QWidget* developerWebsiteSeparator_;
    QWidget* donateRow_;
    QPushButton* donateBtn_;
    QWidget* donateSeparator_;
    QWidget* betaRow_;
    QWidget* informationsSeparator_;
    QLabel* repositoryTitle_;
    QLabel* repositoryIconImageView_;
    QLabel* repositoryNameLbl_;
    QLabel* repositoryDescriptionLbl_;
};
