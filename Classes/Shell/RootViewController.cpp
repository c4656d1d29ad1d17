#include "RootViewController.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QVBoxLayout>
#include <fstream>
#include <sstream>

#include "Miscellaneous/ZMLocalization.h"
#include "Miscellaneous/ZMLog.h"
#include "Miscellaneous/ZMPaths.h"
#include "PersistentDictionary.h"
#include "VostrellePersistentPreferences.h"

namespace {

QString qs(const std::string& s) { return QString::fromStdString(s); }

std::string stringValue(const nlohmann::json& item, const char* key) {
    if (item.is_object() && item.contains(key) && item[key].is_string()) return item[key].get<std::string>();
    return {};
}

// A settings row: the label, a detail on the right and, for a switch, the toggle.
class SettingsCell : public UITableViewCell {
public:
    SettingsCell() : UITableViewCell("setting") {
        auto* row = new QHBoxLayout(contentView());
        row->setContentsMargins(16, 8, 16, 8);
        label = new QLabel(contentView());
        label->setObjectName("textLabel");
        label->setWordWrap(true);
        detail = new QLabel(contentView());
        detail->setObjectName("detailTextLabel");
        detail->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        toggle = new QCheckBox(contentView());
        toggle->setObjectName("toggle");
        row->addWidget(label, 1);
        row->addWidget(detail);
        row->addWidget(toggle);
    }
    QLabel* label;
    QLabel* detail;
    QCheckBox* toggle;
    // Only this connection changes with the row: disconnecting everything
    // would also cut the style's own watch on the toggle's destruction.
    QMetaObject::Connection toggled;
};

bool jsonEquals(const nlohmann::json& a, const nlohmann::json& b) {
    if (a == b) return true;
    // Property lists keep integers and Booleans apart; the preference file may not.
    if (a.is_number() && b.is_number()) return a.get<double>() == b.get<double>();
    if (a.is_string() && b.is_number()) return a.get<std::string>() == b.dump();
    if (a.is_number() && b.is_string()) return a.dump() == b.get<std::string>();
    return false;
}

}  // namespace

RootViewController::RootViewController(const std::string& plistName, QWidget* parent)
    : ZMPalettedViewController(parent), plistName_(plistName) {
    std::string title;
    if (auto loaded = loadSections(plistName, &title)) {
        sections_ = std::move(*loaded);
        loadedOk_ = true;
    }
    if (!title.empty()) setTitle(qs(ZMLocalizedString(title)));
}

std::string RootViewController::plistPath(const std::string& plistName) {
    return ZMPaths::resourcesDirectory() + "/Settings/" + plistName + ".plist";
}

std::optional<std::vector<RootViewController::Section>> RootViewController::loadSections(const std::string& plistName,
                                                                                      std::string* title) {
    // A name is a bare file name: no way out of the settings directory.
    if (plistName.empty() || plistName.find('/') != std::string::npos || plistName.find("..") != std::string::npos) {
        ZMLOG("refused settings list name '{}'", plistName);
        return std::nullopt;
    }
    std::ifstream in(plistPath(plistName), std::ios::binary);
    if (!in) {
        ZMLOG("settings list {} not found", plistName);
        return std::nullopt;
    }
    std::stringstream buffer;
    buffer << in.rdbuf();
    std::string error;
    auto root = PersistentDictionary::dictionaryFromPropertyList(buffer.str(), &error);
    if (!root || !root->contains("items") || !(*root)["items"].is_array()) {
        ZMLOG("settings list {} is not readable: {}", plistName, error);
        return std::nullopt;
    }
    if (title) *title = stringValue(*root, "title");
    std::vector<Section> sections;
    for (const auto& item : (*root)["items"]) {
        if (!item.is_object()) continue;
        std::string cell = stringValue(item, "cell");
        if (cell == "group") {
            sections.push_back({stringValue(item, "label"), stringValue(item, "footer"), {}});
            continue;
        }
        if (cell != "switch" && cell != "choice" && cell != "button" && cell != "link" && cell != "value" &&
            cell != "text") {
            ZMLOG("settings list {}: unknown cell '{}'", plistName, cell);
            continue;
        }
        if (sections.empty()) sections.push_back({});
        sections.back().rows.push_back({cell, item});
    }
    return sections;
}

void RootViewController::registerAction(const std::string& name, std::function<void()> action) {
    actions_[name] = std::move(action);
}

void RootViewController::registerTextOperation(const std::string& name, std::function<std::string()> operation) {
    textOperations_[name] = std::move(operation);
}

bool RootViewController::performAction(const std::string& name) {
    auto it = actions_.find(name);
    if (it == actions_.end() || !it->second) {
        if (!name.empty()) ZMLOG("settings list {}: no operation '{}'", plistName_, name);
        return false;
    }
    it->second();
    return true;
}

QString RootViewController::text(const nlohmann::json& value) {
    if (!value.is_string()) return {};
    std::string s = value.get<std::string>();
    if (auto it = textOperations_.find(s); it != textOperations_.end() && it->second) s = it->second();
    return qs(ZMLocalizedString(s));
}

void RootViewController::viewDidLoad() {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    table_ = new UITableView(UITableView::Style::Grouped, this);
    table_->setObjectName("settingsTable");
    table_->registerCell("setting", [] { return new SettingsCell; });
    table_->setDataSource(this);
    table_->setDelegate(this);
    layout->addWidget(table_);
}

void RootViewController::reloadData() {
    if (table_) table_->reloadData();
}

const RootViewController::Row* RootViewController::rowAt(IndexPath ip) const {
    if (ip.section < 0 || ip.section >= static_cast<int>(sections_.size())) return nullptr;
    const auto& rows = sections_[ip.section].rows;
    if (ip.row < 0 || ip.row >= static_cast<int>(rows.size())) return nullptr;
    return &rows[ip.row];
}

std::optional<IndexPath> RootViewController::indexPathForKey(const std::string& key) const {
    for (size_t s = 0; s < sections_.size(); ++s)
        for (size_t r = 0; r < sections_[s].rows.size(); ++r)
            if (stringValue(sections_[s].rows[r].item, "key") == key)
                return IndexPath{static_cast<int>(s), static_cast<int>(r)};
    return std::nullopt;
}

QString RootViewController::labelForRow(IndexPath ip) {
    const Row* row = rowAt(ip);
    return row ? text(row->item.value("label", nlohmann::json())) : QString();
}

QString RootViewController::detailForRow(IndexPath ip) {
    const Row* row = rowAt(ip);
    if (!row) return {};
    if (row->cell == "value" || row->cell == "link") return text(row->item.value("value", nlohmann::json()));
    if (row->cell != "choice") return {};
    auto& prefs = VostrellePersistentPreferences::sharedInstance();
    std::string key = stringValue(row->item, "key");
    nlohmann::json current = prefs.containsKey(key) ? prefs.objectForKey(key) : row->item.value("default", nlohmann::json());
    const auto& values = row->item.value("values", nlohmann::json::array());
    const auto& titles = row->item.value("titles", nlohmann::json::array());
    for (size_t i = 0; i < values.size() && i < titles.size(); ++i)
        if (jsonEquals(values[i], current)) return text(titles[i]);
    return {};
}

void RootViewController::setValue(const Row& row, const nlohmann::json& value) {
    std::string key = stringValue(row.item, "key");
    if (key.empty()) return;
    VostrellePersistentPreferences::sharedInstance().setValue(key, value);
    std::string action = stringValue(row.item, "action");
    if (!action.empty()) performAction(action);
}

UIAlertController* RootViewController::choiceSheet(IndexPath ip) {
    const Row* row = rowAt(ip);
    if (!row || row->cell != "choice") return nullptr;
    auto* sheet = new UIAlertController(labelForRow(ip), {}, UIAlertController::Style::ActionSheet);
    const auto values = row->item.value("values", nlohmann::json::array());
    const auto titles = row->item.value("titles", nlohmann::json::array());
    const Row copy = *row;
    QPointer<RootViewController> self(this);
    for (size_t i = 0; i < values.size() && i < titles.size(); ++i) {
        nlohmann::json value = values[i];
        sheet->addAction(text(titles[i]), UIAlertController::ActionStyle::Default, [self, copy, value] {
            if (!self) return;
            self->setValue(copy, value);
            self->reloadData();
        });
    }
    sheet->addAction(qs(ZMLocalizedString("Cancel")), UIAlertController::ActionStyle::Cancel);
    return sheet;
}

void RootViewController::selectRow(IndexPath ip) {
    const Row* row = rowAt(ip);
    if (!row) return;
    if (row->cell == "switch") {
        std::string key = stringValue(row->item, "key");
        auto& prefs = VostrellePersistentPreferences::sharedInstance();
        bool current = prefs.containsKey(key) ? prefs.boolForKey(key) : row->item.value("default", false);
        setValue(*row, !current);
        reloadData();
    } else if (row->cell == "choice") {
        if (auto* sheet = choiceSheet(ip)) presentViewController(sheet, true);
    } else if (row->cell == "button") {
        performAction(stringValue(row->item, "action"));
    } else if (row->cell == "link") {
        std::string name = stringValue(row->item, "detail");
        performAction(name.empty() ? stringValue(row->item, "action") : name);
    }
}

int RootViewController::numberOfSections(UITableView*) { return static_cast<int>(sections_.size()); }

int RootViewController::numberOfRows(UITableView*, int section) {
    return section < static_cast<int>(sections_.size()) ? static_cast<int>(sections_[section].rows.size()) : 0;
}

std::optional<QString> RootViewController::titleForHeader(UITableView*, int section) {
    if (section >= static_cast<int>(sections_.size()) || sections_[section].header.empty()) return std::nullopt;
    return text(sections_[section].header);
}

double RootViewController::heightForRow(UITableView*, IndexPath ip) {
    const Row* row = rowAt(ip);
    return row && row->cell == "text" ? UITableView::kAutomaticDimension : 48;
}

UITableViewCell* RootViewController::cellForRow(UITableView* table, IndexPath ip) {
    auto* cell = static_cast<SettingsCell*>(table->dequeueReusableCell("setting"));
    const Row* row = rowAt(ip);
    const auto p = palette();
    cell->label->setText(labelForRow(ip));
    cell->label->setStyleSheet(QString("color: %1").arg(p.primaryTextColor().name()));
    cell->detail->setText(detailForRow(ip));
    cell->detail->setVisible(!cell->detail->text().isEmpty());
    cell->detail->setStyleSheet(QString("color: %1").arg(p.secondaryTextColor().name()));
    const bool isSwitch = row && row->cell == "switch";
    cell->toggle->setVisible(isSwitch);
    QObject::disconnect(cell->toggled);
    if (isSwitch) {
        std::string key = stringValue(row->item, "key");
        auto& prefs = VostrellePersistentPreferences::sharedInstance();
        cell->toggle->setChecked(prefs.containsKey(key) ? prefs.boolForKey(key) : row->item.value("default", false));
        QPointer<RootViewController> self(this);
        cell->toggled = QObject::connect(cell->toggle, &QCheckBox::clicked, cell, [self, ip] {
            if (self) self->selectRow(ip);
        });
    }
    cell->setAccessoryType(row && row->cell == "link" ? UITableViewCell::Accessory::DisclosureIndicator
                                                      : UITableViewCell::Accessory::None);
    cell->setSelectionStyle(row && (row->cell == "text" || row->cell == "value" || isSwitch)
                                ? UITableViewCell::SelectionStyle::None
                                : UITableViewCell::SelectionStyle::Default);
    return cell;
}

void RootViewController::didSelectRow(UITableView* table, IndexPath ip) {
    table->deselectRow(ip, true);
    const Row* row = rowAt(ip);
    if (row && row->cell == "switch") return;  // the toggle itself answers
    selectRow(ip);
}

void RootViewController::paletteDidChange(const ZMPalette& p) {
    if (!table_) return;
    table_->setBackgroundColor(p.backgroundColor());
    table_->reloadData();
}
