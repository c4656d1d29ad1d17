#include "InitViewController.h"

#include <QVBoxLayout>
#include <mutex>

#include "Database/ZMRPackageManager.h"
#include "Miscellaneous/ZMLocalization.h"
#include "Miscellaneous/ZMLog.h"
#include "SettingsPlistViewController.h"
#include "VostrellePersistentPreferences.h"
#include "ZMAPTSourcesImport.h"
#include "ZMPaletteManager.h"
#include "ZMStoreGuard.h"

namespace {

std::mutex gMutex;
std::function<UIViewController*()> gLoginStep;

QString qs(const std::string& s) { return QString::fromStdString(s); }

QLabel* makeTitle(const std::string& text, QWidget* parent) {
    auto* label = new QLabel(qs(ZMLocalizedString(text)), parent);
    QFont f = label->font();
    f.setPointSizeF(f.pointSizeF() * 2);
    f.setBold(true);
    label->setFont(f);
    label->setAlignment(Qt::AlignCenter);
    label->setWordWrap(true);
    return label;
}

QLabel* makeText(const std::string& text, QWidget* parent) {
    auto* label = new QLabel(qs(ZMLocalizedString(text)), parent);
    label->setAlignment(Qt::AlignCenter);
    label->setWordWrap(true);
    return label;
}

QPushButton* makeButton(const std::string& text, QWidget* parent) {
    auto* button = new QPushButton(qs(ZMLocalizedString(text)), parent);
    button->setMinimumHeight(44);
    return button;
}

void present(UIViewController* from, UIViewController* next) {
    next->setModalPresentationStyle(UIViewController::ModalPresentationStyle::FullScreen);
    from->presentViewController(next, true);
}

}  // namespace

// ---- welcome ----------------------------------------------------------------------

InitViewController::InitViewController(QWidget* parent) : ZMPalettedViewController(parent) {}

bool InitViewController::needsSetup() {
    return !VostrellePersistentPreferences::sharedInstance().boolForKey(VostrellePreferenceKey::SetupDone);
}

void InitViewController::setLoginStepFactory(std::function<UIViewController*()> factory) {
    std::lock_guard lock(gMutex);
    gLoginStep = std::move(factory);
}

UIViewController* InitViewController::makeLoginStep() {
    std::function<UIViewController*()> factory;
    {
        std::lock_guard lock(gMutex);
        factory = gLoginStep;
    }
    return factory ? factory() : nullptr;
}

bool InitViewController::presentFlowIfNeeded(UIViewController* presenter) {
    if (!presenter || !needsSetup()) return false;
    UIViewController* top = presenter;
    while (top->parentViewController()) top = top->parentViewController();
    while (top->presentedViewController() && !top->presentedViewController()->isBeingDismissed())
        top = top->presentedViewController();
    // Every screen of the flow is presented by the welcome screen or one it presented.
    for (UIViewController* vc = top; vc; vc = vc->presentingViewController())
        if (dynamic_cast<InitViewController*>(vc) && !vc->isBeingDismissed()) return false;
    auto* welcome = new InitViewController;
    welcome->setModalPresentationStyle(UIViewController::ModalPresentationStyle::FullScreen);
    top->presentViewController(welcome, true);
    return true;
}

void InitViewController::viewDidLoad() {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(32, 48, 32, 32);
    layout->addStretch(1);
    titleLbl_ = makeTitle("Welcome to Vostrelle", this);
    textLbl_ = makeText("Add APT repositories, browse their packages and install, upgrade or remove them through a "
                        "queue that apt-get resolves before anything changes.",
                        this);
    layout->addWidget(titleLbl_);
    layout->addSpacing(16);
    layout->addWidget(textLbl_);
    layout->addStretch(2);
    continueBtn_ = makeButton("Continue", this);
    continueBtn_->setObjectName("continueBtn");
    connect(continueBtn_, &QPushButton::clicked, this, [this] { nextViewController(); });
    layout->addWidget(continueBtn_);
    setDefaultButton(continueBtn_);
}

void InitViewController::nextViewController() { present(this, new DarkmodeViewController); }

void InitViewController::paletteDidChange(const ZMPalette& p) {
    if (!titleLbl_) return;
    titleLbl_->setStyleSheet(QString("color: %1").arg(p.primaryTextColor().name()));
    textLbl_->setStyleSheet(QString("color: %1").arg(p.secondaryTextColor().name()));
}

// ---- theme ----------------------------------------------------------------------------

DarkmodeViewController::DarkmodeViewController(QWidget* parent) : ZMPalettedViewController(parent) {}

void DarkmodeViewController::viewDidLoad() {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(32, 48, 32, 32);
    titleLbl_ = makeTitle("Choose your theme", this);
    layout->addWidget(titleLbl_);
    layout->addSpacing(24);
    const char* names[ZMPalette::kStyleCount] = {"Light", "Blue", "Grey", "Pure Black"};
    for (int style = 0; style < ZMPalette::kStyleCount; ++style) {
        auto* button = makeButton(names[style], this);
        button->setObjectName(QString("styleBtn%1").arg(style));
        button->setCheckable(true);
        connect(button, &QPushButton::clicked, this, [this, style] { chooseStyle(style); });
        styleBtns_.push_back(button);
        layout->addWidget(button);
    }
    layout->addStretch(1);
    continueBtn_ = makeButton("Continue", this);
    continueBtn_->setObjectName("continueBtn");
    connect(continueBtn_, &QPushButton::clicked, this, [this] { nextViewController(); });
    layout->addWidget(continueBtn_);
    setDefaultButton(continueBtn_);
    int current = SettingsPlistViewController::storedThemeStyle();
    for (int i = 0; i < static_cast<int>(styleBtns_.size()); ++i) styleBtns_[i]->setChecked(i == current);
}

QPushButton* DarkmodeViewController::styleButton(int style) const {
    return style >= 0 && style < static_cast<int>(styleBtns_.size()) ? styleBtns_[style] : nullptr;
}

void DarkmodeViewController::chooseStyle(int style) {
    if (style < 0 || style >= ZMPalette::kStyleCount) return;
    VostrellePersistentPreferences::sharedInstance().setValue(kZMThemeStylePreferenceKey, style);
    for (int i = 0; i < static_cast<int>(styleBtns_.size()); ++i) styleBtns_[i]->setChecked(i == style);
    ZMPaletteManager::sharedManager().setStyle(style);
}

void DarkmodeViewController::nextViewController() {
    if (auto* login = InitViewController::makeLoginStep())
        present(this, login);
    else
        present(this, new RepoTransferViewController);
}

void DarkmodeViewController::paletteDidChange(const ZMPalette& p) {
    if (titleLbl_) titleLbl_->setStyleSheet(QString("color: %1").arg(p.primaryTextColor().name()));
}

// ---- import -----------------------------------------------------------------------------

RepoTransferViewController::RepoTransferViewController(QWidget* parent) : ZMPalettedViewController(parent) {
    // Those already configured are not offered again.
    for (const auto& location : ZMAPTSourcesImport::importableLocations())
        if (!ZMRSources::isLocationConfigured(location)) locations_.push_back(location);
}

void RepoTransferViewController::viewDidLoad() {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(32, 48, 32, 32);
    titleLbl_ = makeTitle("Import Sources", this);
    textLbl_ = makeText(locations_.empty()
                            ? "The system's APT uses no repositories that Vostrelle can follow. You can add sources "
                              "later in the Manage tab."
                            : "The system's APT uses these repositories. Choose the ones to add to Vostrelle.",
                        this);
    layout->addWidget(titleLbl_);
    layout->addSpacing(12);
    layout->addWidget(textLbl_);
    list_ = new QListWidget(this);
    list_->setObjectName("sourcesList");
    for (const auto& location : locations_) {
        auto* item = new QListWidgetItem(qs(location), list_);
        item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable);
        item->setCheckState(Qt::Checked);
    }
    list_->setVisible(!locations_.empty());
    layout->addWidget(list_, 1);
    if (locations_.empty()) layout->addStretch(1);
    doneBtn_ = makeButton("Done", this);
    doneBtn_->setObjectName("doneBtn");
    connect(doneBtn_, &QPushButton::clicked, this, [this] { done(); });
    layout->addWidget(doneBtn_);
    setDefaultButton(doneBtn_);
}

std::vector<std::string> RepoTransferViewController::checkedLocations() const {
    std::vector<std::string> out;
    if (!list_) return locations_;
    for (int i = 0; i < list_->count(); ++i)
        if (list_->item(i)->checkState() == Qt::Checked) out.push_back(list_->item(i)->text().toStdString());
    return out;
}

void RepoTransferViewController::finishSetup(const std::vector<std::string>& locations) {
    auto& prefs = VostrellePersistentPreferences::sharedInstance();
    // First: adding a source refreshes it only once setup is done.
    prefs.setValue(VostrellePreferenceKey::SetupDone, true);
    prefs.saveToFile();
    auto& sources = ZMRPackageManager::sharedPackageManager().sources();
    for (const auto& location : locations) {
        auto result = ZMStoreGuard::value("importing a source", [&] { return sources.addSourceWithLocation(location, true); });
        if (!result) break;  // told once; the others would fail alike
        if (result->status != ZMRAddSourceStatus::Added && result->status != ZMRAddSourceStatus::AwaitingAuthentication)
            ZMLOG("imported source {} not added", location);
    }
    if (!sources.refreshAllSources()) ZMLOG("first refresh not started (no network)");
}

void RepoTransferViewController::done() {
    if (doneBtn_) doneBtn_->setEnabled(false);
    finishSetup(checkedLocations());
    // Close the whole flow (a sign-in step in between included): dismiss from
    // the screen that presented its welcome screen.
    for (UIViewController* vc = presentingViewController(); vc; vc = vc->presentingViewController()) {
        if (dynamic_cast<InitViewController*>(vc) && vc->presentingViewController()) {
            vc->presentingViewController()->dismissViewController(true);
            return;
        }
    }
    dismissViewController(true);
}

void RepoTransferViewController::paletteDidChange(const ZMPalette& p) {
    if (!titleLbl_) return;
    titleLbl_->setStyleSheet(QString("color: %1").arg(p.primaryTextColor().name()));
    textLbl_->setStyleSheet(QString("color: %1").arg(p.secondaryTextColor().name()));
}
